#include <windows.h>

#include <cstdlib>

#include "platform/env.h"
#include "platform/folders.h"
#include "platform/text.h"

namespace bg {
namespace platform {

namespace {

std::string variable(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::string homeFolder() {
  return variable("HOMEPATH");
}

std::string appDataFolder() {
  return variable("APPDATA");
}

// The per-user local data folder is the temporary directory's parent
// (...\AppData\Local for ...\AppData\Local\Temp\), named as such.
std::string localDataFolder() {
  return tempPath() + "..";
}

std::string besideExecutableName(const std::string& name) {
  return name;
}

// <tmp>\<name>: the temporary directory is the user's own here, in the
// user's profile, so the folder needs no user in its name, and only a link
// (a reparse point) or a file can have taken the name before us.
std::string privateTempFolder(const std::string& name, std::string* why) {
  std::string dir = tempPath() + name;
  if (!CreateDirectoryA(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    *why = dir + ": error " + std::to_string(GetLastError());
    return std::string();
  }
  DWORD attributes = GetFileAttributesA(dir.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    *why = dir + " is not a directory";
  } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    *why = dir + " is a link";
  } else {
    return dir;
  }
  return std::string();
}

std::string executablePath() {
  std::wstring wide(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, &wide[0], static_cast<DWORD>(wide.size()));
    if (n == 0) return std::string();
    if (n < wide.size()) {
      wide.resize(n);
      break;
    }
    wide.resize(wide.size() * 2);
  }
  int bytes = wideToAnsiBytes(wide.c_str(), static_cast<int>(wide.size()), nullptr, 0);
  std::string out(static_cast<size_t>(bytes), '\0');
  if (bytes <= 0 || wideToAnsiBytes(wide.c_str(), static_cast<int>(wide.size()), &out[0], bytes) != bytes) {
    return std::string();
  }
  return out;
}

}  // namespace platform
}  // namespace bg
