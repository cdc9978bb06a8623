// Opening, removing and examining files: the narrow call with the caller's
// path first, the wide call on the UTF-8-decoded path only when it failed.
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

#include "kqbridge/utils.h"
#include "platform/console.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "utils/wide_path.h"

namespace bg {

static_assert(std::is_same<FileStat, platform::FileStat>::value, "the platform's record is the public one");

FILE* openFile(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return nullptr;
  FILE* f = platform::fileOpen(path, mode);
  if (f != nullptr) return f;
  WidePath widePath(path);
  wchar_t wideMode[16];
  if (!widePath.ok() || platform::utf8ToWideChars(mode, wideMode, 16) == 0) return nullptr;
  return platform::fileOpenW(widePath.c_str(), wideMode);
}

int removeFile(const char* path) {
  if (path == nullptr) return -1;
  if (platform::fileRemove(path) == 0) return 0;
  WidePath widePath(path);
  return widePath.ok() ? platform::fileRemoveW(widePath.c_str()) : -1;
}

FileStat getFileStat(const char* path) {
  FileStat st;
  memset(&st, 0, sizeof(st));
  if (platform::fileStat(path, &st) == 0) return st;
  memset(&st, 0, sizeof(st));
  WidePath widePath(path);
  if (widePath.ok() && platform::fileStatW(widePath.c_str(), &st) == 0) return st;
  memset(&st, 0, sizeof(st));
  platform::consoleError("bg: [Error] _wstat64(..) < 0, path=%s\n", path != nullptr ? path : "(null)");
  return st;
}

int64_t getFileSize(const char* path) {
  return static_cast<int64_t>(getFileStat(path).st_size);
}

bool isDirWritable(const char* dir, const char* probeName) {
  if (dir == nullptr || probeName == nullptr) return false;
  std::string probe = std::string(dir) + "/" + probeName;
  FILE* f = openFile(probe.c_str(), "wt");
  if (f == nullptr) return false;
  fclose(f);
  removeFile(probe.c_str());
  return true;
}

}  // namespace bg
