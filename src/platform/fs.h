// Files and directories as the Windows C runtime offers them: narrow calls
// that take UTF-8 (the system code page) and wide twins. '\' and '/' both
// separate. On failure the calls return -1 (or null) and leave the
// Windows-numbered cause in the thread's last error.
#ifndef KQBRIDGE_PLATFORM_FS_H_
#define KQBRIDGE_PLATFORM_FS_H_

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

namespace bg {
namespace platform {

// The system's file-status record with a 64-bit size and 64-bit times (the
// same type as the public bg::FileStat).
#if defined(_WIN32)
typedef struct ::_stat64 FileStat;
#else
typedef struct ::stat FileStat;
#endif

FILE* fileOpen(const char* path, const char* mode);
FILE* fileOpenW(const wchar_t* path, const wchar_t* mode);
int fileRemove(const char* path);
int fileRemoveW(const wchar_t* path);
int fileStat(const char* path, FileStat* st);
int fileStatW(const wchar_t* path, FileStat* st);
int makeDir(const char* path);
int makeDirW(const wchar_t* path);
int removeDir(const char* path);
int removeDirW(const wchar_t* path);
int changeDir(const char* path);
// The process's working directory; empty when it cannot be read.
std::string currentDir();
bool isDirectory(const FileStat& st);
// What tells one file or directory apart from every other on this machine
// (device and inode, or volume and file index); false when `path` cannot
// be examined.
bool fileIdentity(const char* path, std::pair<uint64_t, uint64_t>* id);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_FS_H_
