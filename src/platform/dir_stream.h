// Directory streams: open, read one entry at a time into the caller's
// record, close.
#ifndef KQBRIDGE_PLATFORM_DIR_STREAM_H_
#define KQBRIDGE_PLATFORM_DIR_STREAM_H_

namespace bg {
namespace platform {

enum DirEntryKind { kEntryUnknown, kEntryRegular, kEntryDirectory, kEntryDevice };

struct DirEntry {
  char name[256];
  DirEntryKind kind;
};

struct DirStream;

// Null on failure with errno set (ENOENT for a null or empty name).
DirStream* openDir(const char* path);
DirStream* openDirW(const wchar_t* path);
// False at the end of the listing, and on every read after it.
bool readDir(DirStream* dir, DirEntry* entry);
// 0, or -1 with errno EBADF for a null stream.
int closeDir(DirStream* dir);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_DIR_STREAM_H_
