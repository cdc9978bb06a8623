#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/dir_stream.h"
#include "platform/path.h"
#include "platform/text.h"

namespace bg {
namespace platform {

struct DirStream {
  DIR* dir;
  bool ended;
};

namespace {

DirEntryKind kindOf(unsigned char type) {
  switch (type) {
    case DT_DIR:
      return kEntryDirectory;
    case DT_REG:
      return kEntryRegular;
    case DT_CHR:
      return kEntryDevice;
    default:
      return kEntryUnknown;
  }
}

}  // namespace

DirStream* openDir(const char* path) {
  if (path == nullptr || *path == '\0') {
    errno = ENOENT;
    return nullptr;
  }
  DIR* dir = opendir(nativePath(path).c_str());
  if (dir == nullptr) return nullptr;
  DirStream* stream = new (std::nothrow) DirStream{dir, false};
  if (stream == nullptr) {
    closedir(dir);
    errno = ENOMEM;
  }
  return stream;
}

DirStream* openDirW(const wchar_t* path) {
  if (path == nullptr) return openDir(nullptr);
  return openDir(wideToUtf8(path).c_str());
}

bool readDir(DirStream* stream, DirEntry* entry) {
  if (stream == nullptr || entry == nullptr || stream->ended) return false;
  struct dirent* e = readdir(stream->dir);
  if (e == nullptr) {
    stream->ended = true;
    return false;
  }
  size_t n = strnlen(e->d_name, sizeof(entry->name) - 1);
  memcpy(entry->name, e->d_name, n);
  entry->name[n] = '\0';
  entry->kind = kindOf(e->d_type);
  return true;
}

int closeDir(DirStream* stream) {
  if (stream == nullptr) {
    errno = EBADF;
    return -1;
  }
  closedir(stream->dir);
  delete stream;
  return 0;
}

}  // namespace platform
}  // namespace bg
