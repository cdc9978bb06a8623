#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/fs.h"
#include "platform/last_error.h"
#include "platform/path.h"
#include "platform/text.h"

namespace bg {
namespace platform {

namespace {

// Every call reports its failure through the Windows-numbered last error.
int result(int rc) {
  if (rc != 0) {
    setLastErrorFromErrno();
    return -1;
  }
  return 0;
}

int missingPath() {
  errno = ENOENT;
  return result(-1);
}

}  // namespace

FILE* fileOpen(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) {
    setLastError(kErrFileNotFound);
    return nullptr;
  }
  // "e" opens with O_CLOEXEC: a child some module starts must not inherit
  // our logs and configuration files.
  std::string closeOnExec = std::string(mode) + "e";
  FILE* f = fopen(nativePath(path).c_str(), closeOnExec.c_str());
  if (f == nullptr) setLastErrorFromErrno();
  return f;
}

// The wide twins: wchar_t text becomes UTF-8, the system code page here.
FILE* fileOpenW(const wchar_t* path, const wchar_t* mode) {
  if (path == nullptr || mode == nullptr) {
    setLastError(kErrFileNotFound);
    return nullptr;
  }
  return fileOpen(wideToUtf8(path).c_str(), wideToUtf8(mode).c_str());
}

int fileRemove(const char* path) {
  if (path == nullptr) return missingPath();
  return result(remove(nativePath(path).c_str()));
}

int fileRemoveW(const wchar_t* path) {
  if (path == nullptr) return missingPath();
  return fileRemove(wideToUtf8(path).c_str());
}

int fileStat(const char* path, FileStat* st) {
  if (path == nullptr || st == nullptr) return missingPath();
  return result(stat(nativePath(path).c_str(), st));
}

int fileStatW(const wchar_t* path, FileStat* st) {
  if (path == nullptr) return missingPath();
  return fileStat(wideToUtf8(path).c_str(), st);
}

int makeDir(const char* path) {
  if (path == nullptr) return missingPath();
  return result(mkdir(nativePath(path).c_str(), 0777));
}

int makeDirW(const wchar_t* path) {
  if (path == nullptr) return missingPath();
  return makeDir(wideToUtf8(path).c_str());
}

int removeDir(const char* path) {
  if (path == nullptr) return missingPath();
  return result(rmdir(nativePath(path).c_str()));
}

int removeDirW(const wchar_t* path) {
  if (path == nullptr) return missingPath();
  return removeDir(wideToUtf8(path).c_str());
}

int changeDir(const char* path) {
  if (path == nullptr) return missingPath();
  return result(chdir(nativePath(path).c_str()));
}

std::string currentDir() {
  std::string buf(256, '\0');
  while (getcwd(&buf[0], buf.size()) == nullptr) {
    if (errno != ERANGE) {
      setLastErrorFromErrno();
      return std::string();
    }
    buf.resize(buf.size() * 2);
  }
  buf.resize(strlen(buf.c_str()));
  return buf;
}

bool fileIdentity(const char* path, std::pair<uint64_t, uint64_t>* id) {
  FileStat st;
  if (fileStat(path, &st) != 0) return false;
  *id = std::make_pair(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino));
  return true;
}

bool isDirectory(const FileStat& st) {
  return S_ISDIR(st.st_mode);
}

}  // namespace platform
}  // namespace bg
