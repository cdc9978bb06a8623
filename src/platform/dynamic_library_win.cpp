#include <windows.h>

#include "platform/dynamic_library.h"
#include "platform/path.h"
#include "platform/text.h"

namespace bg {
namespace platform {

namespace {

// The system's own explanation of its last error, without the line break
// it ends with.
void keepReason(DWORD error, std::string* why) {
  if (why == nullptr) return;
  why->clear();
  if (error == 0) return;
  char* text = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  if (n > 0 && text != nullptr) {
    why->assign(text, n);
    while (!why->empty() && (why->back() == '\n' || why->back() == '\r' || why->back() == ' '))
      why->pop_back();
  }
  if (text != nullptr) LocalFree(text);
  if (why->empty()) *why = "error " + std::to_string(error);
}

}  // namespace

// The path is UTF-8 text; the wide loader call takes any name.
void* openLibrary(const char* path, std::string* why) {
  std::string file = nativePath(path);
  int n = MultiByteToWideChar(CP_UTF8, 0, file.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
  if (n <= 0 || MultiByteToWideChar(CP_UTF8, 0, file.c_str(), -1, &wide[0], n) != n) {
    DWORD error = GetLastError();
    keepReason(error, why);
    return nullptr;
  }
  HMODULE module = LoadLibraryW(wide.c_str());
  DWORD error = module != nullptr ? ERROR_SUCCESS : GetLastError();
  keepReason(error, why);
  SetLastError(error);
  return reinterpret_cast<void*>(module);
}

void* findSymbol(void* library, const char* symbol, std::string* why) {
  if (library == nullptr || symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    if (why != nullptr) *why = "no library or no symbol name";
    return nullptr;
  }
  FARPROC address = GetProcAddress(static_cast<HMODULE>(library), symbol);
  if (address != nullptr) {
    if (why != nullptr) why->clear();
    return reinterpret_cast<void*>(address);
  }
  DWORD error = GetLastError();
  keepReason(error, why);
  SetLastError(error);
  return nullptr;
}

std::string fileHoldingCode(const void* code) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(code), &module)) {
    return std::string();
  }
  wchar_t path[MAX_PATH + 1];
  DWORD n = GetModuleFileNameW(module, path, MAX_PATH + 1);
  return n > 0 && n <= MAX_PATH ? wideToUtf8(path) : std::string();
}

}  // namespace platform
}  // namespace bg
