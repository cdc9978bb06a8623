#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/dir_stream.h"

namespace bg {
namespace platform {

// A search over "<full path>\*"; the first result is found when the stream
// opens and handed out by the first read.
struct DirStream {
  HANDLE search;
  WIN32_FIND_DATAW held;
  bool hasHeld;
};

namespace {

const size_t kMaxName = MAX_PATH;

int errnoOf(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return EACCES;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    default:
      return ENOENT;
  }
}

DirEntryKind kindOf(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DEVICE) return kEntryDevice;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return kEntryDirectory;
  return kEntryRegular;
}

bool toNarrow(const wchar_t* name, char* out, size_t outSize) {
  size_t converted = 0;
  return name[0] != L'\0' && wcstombs_s(&converted, out, outSize, name, _TRUNCATE) == 0 && converted > 0 &&
         strlen(out) + 1 == converted;
}

}  // namespace

DirStream* openDir(const char* path) {
  if (path == nullptr || *path == '\0') {
    errno = ENOENT;
    return nullptr;
  }
  wchar_t wide[kMaxName + 1];
  size_t converted = 0;
  if (mbstowcs_s(&converted, wide, kMaxName + 1, path, kMaxName) != 0) {
    errno = ENOENT;
    return nullptr;
  }
  return openDirW(wide);
}

DirStream* openDirW(const wchar_t* path) {
  if (path == nullptr || *path == L'\0') {
    errno = ENOENT;
    return nullptr;
  }
  DWORD n = GetFullPathNameW(path, 0, nullptr, nullptr);
  if (n == 0) {
    errno = errnoOf(GetLastError());
    return nullptr;
  }
  std::wstring pattern(n, L'\0');
  n = GetFullPathNameW(path, n, &pattern[0], nullptr);
  pattern.resize(n);
  wchar_t last = pattern.empty() ? L'\0' : pattern.back();
  if (last != L'/' && last != L':' && last != L'\\') pattern += L'\\';
  pattern += L'*';

  DirStream* stream = new (std::nothrow) DirStream();
  if (stream == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  stream->search =
      FindFirstFileExW(pattern.c_str(), FindExInfoStandard, &stream->held, FindExSearchNameMatch, nullptr, 0);
  if (stream->search == INVALID_HANDLE_VALUE) {
    errno = errnoOf(GetLastError());
    delete stream;
    return nullptr;
  }
  stream->hasHeld = true;
  return stream;
}

bool readDir(DirStream* stream, DirEntry* entry) {
  if (stream == nullptr || entry == nullptr || stream->search == INVALID_HANDLE_VALUE) return false;
  if (!stream->hasHeld && !FindNextFileW(stream->search, &stream->held)) {
    FindClose(stream->search);
    stream->search = INVALID_HANDLE_VALUE;
    return false;
  }
  stream->hasHeld = false;
  const WIN32_FIND_DATAW& found = stream->held;
  if (toNarrow(found.cFileName, entry->name, sizeof(entry->name)) ||
      toNarrow(found.cAlternateFileName, entry->name, sizeof(entry->name))) {
    entry->kind = kindOf(found.dwFileAttributes);
  } else {
    strcpy(entry->name, "?");
    entry->kind = kEntryUnknown;
  }
  return true;
}

int closeDir(DirStream* stream) {
  if (stream == nullptr) {
    errno = EBADF;
    return -1;
  }
  if (stream->search != INVALID_HANDLE_VALUE) FindClose(stream->search);
  delete stream;
  return 0;
}

}  // namespace platform
}  // namespace bg
