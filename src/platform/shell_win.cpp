#include <windows.h>
// shellapi.h builds on what windows.h declares, so it comes after it.
#include <shellapi.h>

#include <string>

#include "platform/path.h"
#include "platform/shell.h"

namespace bg {
namespace platform {

// The Explorer opens on the item with it selected. ShellExecuteW starts it
// and returns; its answer is of no use to us.
void openFolder(const char* folder) {
  if (folder == nullptr) return;
  std::string parameters = "/select, \"" + nativePath(folder) + "\"";
  int n = MultiByteToWideChar(CP_UTF8, 0, parameters.c_str(), -1, nullptr, 0);
  if (n <= 0) return;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, parameters.c_str(), -1, &wide[0], n);
  ShellExecuteW(nullptr, L"open", L"explorer.exe", wide.c_str(), nullptr, SW_SHOWNORMAL);
}

}  // namespace platform
}  // namespace bg
