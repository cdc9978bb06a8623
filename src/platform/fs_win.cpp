#include <direct.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/fs.h"
#include "platform/last_error.h"

namespace bg {
namespace platform {

namespace {

// The C runtime keeps the system's own number of its last failure in
// _doserrno; causes it found itself (a bad argument) only have errno.
void keepFailure() {
  unsigned long system = _doserrno;
  if (system != 0) {
    setLastError(static_cast<unsigned>(system));
  } else {
    setLastErrorFromErrno();
  }
}

int result(int rc) {
  if (rc != 0) {
    keepFailure();
    return -1;
  }
  return 0;
}

int missingPath() {
  errno = ENOENT;
  setLastError(kErrFileNotFound);
  return -1;
}

template <typename Call>
int track(Call call) {
  _doserrno = 0;
  return result(call());
}

}  // namespace

// "N": the file is not inherited by a child some module starts.
FILE* fileOpen(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) {
    setLastError(kErrFileNotFound);
    return nullptr;
  }
  std::string noInherit = std::string(mode) + "N";
  _doserrno = 0;
  FILE* f = fopen(path, noInherit.c_str());
  if (f == nullptr) keepFailure();
  return f;
}

FILE* fileOpenW(const wchar_t* path, const wchar_t* mode) {
  if (path == nullptr || mode == nullptr) {
    setLastError(kErrFileNotFound);
    return nullptr;
  }
  std::wstring noInherit = std::wstring(mode) + L"N";
  _doserrno = 0;
  FILE* f = _wfopen(path, noInherit.c_str());
  if (f == nullptr) keepFailure();
  return f;
}

int fileRemove(const char* path) {
  if (path == nullptr) return missingPath();
  return track([&] { return remove(path); });
}

int fileRemoveW(const wchar_t* path) {
  if (path == nullptr) return missingPath();
  return track([&] { return _wremove(path); });
}

int fileStat(const char* path, FileStat* st) {
  if (path == nullptr || st == nullptr) return missingPath();
  return track([&] { return _stat64(path, st); });
}

int fileStatW(const wchar_t* path, FileStat* st) {
  if (path == nullptr || st == nullptr) return missingPath();
  return track([&] { return _wstat64(path, st); });
}

int makeDir(const char* path) {
  if (path == nullptr) return missingPath();
  return track([&] { return _mkdir(path); });
}

int makeDirW(const wchar_t* path) {
  if (path == nullptr) return missingPath();
  return track([&] { return _wmkdir(path); });
}

int removeDir(const char* path) {
  if (path == nullptr) return missingPath();
  return track([&] { return _rmdir(path); });
}

int removeDirW(const wchar_t* path) {
  if (path == nullptr) return missingPath();
  return track([&] { return _wrmdir(path); });
}

int changeDir(const char* path) {
  if (path == nullptr) return missingPath();
  return track([&] { return _chdir(path); });
}

std::string currentDir() {
  char* cwd = _getcwd(nullptr, 0);
  if (cwd == nullptr) {
    keepFailure();
    return std::string();
  }
  std::string out(cwd);
  free(cwd);
  return out;
}

// The C runtime gives no inode here; the system's file index does the job.
bool fileIdentity(const char* path, std::pair<uint64_t, uint64_t>* id) {
  if (path == nullptr) return false;
  HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool known = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!known) return false;
  *id = std::make_pair(static_cast<uint64_t>(info.dwVolumeSerialNumber),
                       (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
  return true;
}

bool isDirectory(const FileStat& st) {
  return (st.st_mode & _S_IFDIR) != 0;
}

}  // namespace platform
}  // namespace bg
