// Windows has no fork: a child is this test program started again on the
// current test alone. It replays the test up to the runInChild call that
// the parent is at, runs that body with its output going to the parent's
// files, and ends with the body's status. The temporary directories the
// parent made are handed down, so the replayed test works in the same
// places; the calls before the one wanted are the parent's and are skipped.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "kqtest_compat.h"
#include "support/test_support.h"

namespace kqtest {

namespace {

const char kCallVar[] = "KQTEST_CHILD_CALL";
const char kOutVar[] = "KQTEST_CHILD_OUT";
const char kErrVar[] = "KQTEST_CHILD_ERR";
const char kDirsVar[] = "KQTEST_CHILD_DIRS";

// Per test: the temporary directories made so far and the runInChild calls.
struct TestState {
  std::string test;
  std::vector<std::string> dirs;
  int calls = 0;
  size_t adopted = 0;
};

TestState& state() {
  static TestState s;
  std::string now;
  if (const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info()) {
    now = std::string(info->test_suite_name()) + "." + info->name();
  }
  if (now != s.test) s = TestState{now};
  return s;
}

bool isChild() {
  return getenv(kCallVar) != nullptr;
}

std::string tempFile(const char* stem) {
  return (std::filesystem::temp_directory_path() / uniqueName(stem)).string();
}

HANDLE inheritableNul() {
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  return CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0,
                     nullptr);
}

std::string selfPath() {
  char path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
  return std::string(path, n);
}

// Runs this program on the current test with the child variables set;
// its own output (the test runner's) goes nowhere.
int startChild(const std::string& test) {
  std::string command = "\"" + selfPath() + "\" --gtest_filter=" + test;
  HANDLE nul = inheritableNul();
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = nul;
  si.hStdOutput = nul;
  si.hStdError = nul;
  PROCESS_INFORMATION pi = {};
  BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(nul);
  if (!started) return -1;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

void divert(int fd, const char* var) {
  const char* file = getenv(var);
  FILE* f = file != nullptr ? fopen(file, "wb") : nullptr;
  if (f == nullptr) return;
  _dup2(_fileno(f), fd);
  fclose(f);
}

void passOn(const std::string& text, FILE* to) {
  fwrite(text.data(), 1, text.size(), to);
  fflush(to);
}

}  // namespace

int runInChild(const std::function<int()>& body, std::string* out, std::string* err) {
  TestState& s = state();
  int call = ++s.calls;
  if (isChild()) {
    if (call != atoi(getenv(kCallVar))) return 0;
    fflush(stdout);
    fflush(stderr);
    divert(1, kOutVar);
    divert(2, kErrVar);
    int rc = body();
    fflush(stdout);
    fflush(stderr);
    _exit(rc);
  }
  std::string outFile = tempFile("kqchild-out");
  std::string errFile = tempFile("kqchild-err");
  std::string dirs;
  for (const std::string& d : s.dirs) dirs += d + "\n";
  setenv(kCallVar, std::to_string(call).c_str(), 1);
  setenv(kOutVar, outFile.c_str(), 1);
  setenv(kErrVar, errFile.c_str(), 1);
  setenv(kDirsVar, dirs.c_str(), 1);
  fflush(stdout);
  fflush(stderr);
  int rc = startChild(s.test);
  for (const char* var : {kCallVar, kOutVar, kErrVar, kDirsVar}) unsetenv(var);
  std::string childOut = readFile(outFile);
  std::string childErr = readFile(errFile);
  remove(outFile.c_str());
  remove(errFile.c_str());
  if (out != nullptr) *out = childOut; else passOn(childOut, stdout);
  if (err != nullptr) *err = childErr; else passOn(childErr, stderr);
  return rc;
}

std::string adoptParentDir() {
  if (!isChild()) return std::string();
  TestState& s = state();
  std::string dirs = getenv(kDirsVar) != nullptr ? getenv(kDirsVar) : "";
  size_t start = 0;
  for (size_t i = 0; i < s.adopted && start < dirs.size(); ++i) start = dirs.find('\n', start) + 1;
  size_t end = dirs.find('\n', start);
  if (start >= dirs.size() || end == std::string::npos) return std::string();
  ++s.adopted;
  return dirs.substr(start, end - start);
}

void noteTempDir(const std::string& path) {
  state().dirs.push_back(path);
}

}  // namespace kqtest

int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value);
}

// An empty value removes the variable on Windows.
int unsetenv(const char* name) {
  return _putenv_s(name, "");
}

int symlink(const char* target, const char* link) {
  return CopyFileA(target, link, TRUE) ? 0 : -1;
}
