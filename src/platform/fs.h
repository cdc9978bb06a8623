// Files and directories as the Windows C runtime offers them: narrow calls
// that take UTF-8 (the system code page) and wide twins. '\' and '/' both
// separate. On failure the calls return -1 (or null) and leave the
// Windows-numbered cause in the thread's last error.
#ifndef KQBRIDGE_PLATFORM_FS_H_
#define KQBRIDGE_PLATFORM_FS_H_

#include <cstdio>
#include <string>

#include "kqbridge/export.h"
#include "kqbridge/utils.h"

namespace bg {
namespace platform {

KQ_EXPORT FILE* fileOpen(const char* path, const char* mode);
KQ_EXPORT FILE* fileOpenW(const wchar_t* path, const wchar_t* mode);
KQ_EXPORT int fileRemove(const char* path);
KQ_EXPORT int fileRemoveW(const wchar_t* path);
KQ_EXPORT int fileStat(const char* path, FileStat* st);
KQ_EXPORT int fileStatW(const wchar_t* path, FileStat* st);
KQ_EXPORT int makeDir(const char* path);
KQ_EXPORT int makeDirW(const wchar_t* path);
KQ_EXPORT int removeDir(const char* path);
KQ_EXPORT int removeDirW(const wchar_t* path);
KQ_EXPORT int changeDir(const char* path);
// The process's working directory; empty when it cannot be read.
KQ_EXPORT std::string currentDir();
KQ_EXPORT bool isDirectory(const FileStat& st);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_FS_H_
