// Windows has no fork: a child is this test program started again on the
// current test alone. It replays the test up to the Child the parent is at,
// runs that body with its output going to files the parent reads, and ends
// with the body's status. The temporary directories and unique names the
// parent made are handed down, so the replayed test works in the same
// places; the children before the one wanted were the parent's business and
// count as done. What the test does before the child runs again in it, so
// it must not claim what the parent holds, nor stop at a failed assertion.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "kqtest_compat.h"
#include "support/test_support.h"

namespace kqtest {

struct Child::Process {
  HANDLE handle;
  std::string outFile;
  std::string errFile;
};

namespace {

const char kCallVar[] = "KQTEST_CHILD_CALL";
const char kOutVar[] = "KQTEST_CHILD_OUT";
const char kErrVar[] = "KQTEST_CHILD_ERR";
const char kMadeVar[] = "KQTEST_CHILD_MADE";

// Per test: the directories and names made so far, the children started and
// how many of those a replaying child has taken over.
struct TestState {
  std::string test;
  std::vector<std::string> made;
  int children = 0;
  size_t adopted = 0;
};

TestState& state() {
  static TestState s;
  std::string now;
  if (const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info()) {
    now = std::string(info->test_suite_name()) + "." + info->name();
  }
  if (now != s.test) {
    s = TestState();
    s.test = now;
  }
  return s;
}

bool isChild() {
  return getenv(kCallVar) != nullptr;
}

// Not a unique name of the test's: a replaying child makes no such file.
std::string tempFile(const char* stem) {
  static int count = 0;
  std::string name = stem + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
  return (std::filesystem::temp_directory_path() / name).string();
}

std::string selfPath() {
  char path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
  return std::string(path, n);
}

// This program on `test`, with the test runner's own output going nowhere.
HANDLE startSelf(const std::string& test, DWORD* pid) {
  std::string command = "\"" + selfPath() + "\" --gtest_filter=" + test;
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                           OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = nul;
  si.hStdOutput = nul;
  si.hStdError = nul;
  PROCESS_INFORMATION pi = {};
  BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(nul);
  if (!started) return nullptr;
  CloseHandle(pi.hThread);
  *pid = pi.dwProcessId;
  return pi.hProcess;
}

void divert(int fd, const char* var) {
  const char* file = getenv(var);
  FILE* f = file != nullptr ? fopen(file, "wb") : nullptr;
  if (f == nullptr) return;
  _dup2(_fileno(f), fd);
  fclose(f);
}

}  // namespace

Child::Child(const std::function<int()>& body) {
  TestState& s = state();
  int call = ++s.children;
  if (isChild()) {
    if (call != atoi(getenv(kCallVar))) {
      m_status = 0;
      return;
    }
    fflush(stdout);
    fflush(stderr);
    divert(1, kOutVar);
    divert(2, kErrVar);
    int rc = body();
    fflush(stdout);
    fflush(stderr);
    _exit(rc);
  }
  std::string made;
  for (const std::string& m : s.made) made += m + "\n";
  m_process = new Process{nullptr, tempFile("kqchild-out-"), tempFile("kqchild-err-")};
  EnvGuard env;
  env.set(kCallVar, std::to_string(call));
  env.set(kOutVar, m_process->outFile);
  env.set(kErrVar, m_process->errFile);
  env.set(kMadeVar, made);
  fflush(stdout);
  fflush(stderr);
  DWORD pid = 0;
  m_process->handle = startSelf(s.test, &pid);
  if (m_process->handle != nullptr) m_pid = static_cast<pid_t>(pid);
}

Child::~Child() {
  if (m_process == nullptr) return;
  if (m_process->handle != nullptr) {
    if (m_status == -2) TerminateProcess(m_process->handle, 1);
    WaitForSingleObject(m_process->handle, INFINITE);
    CloseHandle(m_process->handle);
  }
  remove(m_process->outFile.c_str());
  remove(m_process->errFile.c_str());
  delete m_process;
}

// Reads what the child wrote so far; false once it has ended (and all of
// its output is in).
bool Child::pump(int timeoutMs) {
  if (m_process == nullptr || m_process->handle == nullptr) return false;
  bool ended = WaitForSingleObject(m_process->handle, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
  out = readFile(m_process->outFile);
  err = readFile(m_process->errFile);
  return !ended;
}

int Child::finish(int seconds) {
  if (m_status != -2) return m_status;
  if (m_process == nullptr || m_process->handle == nullptr) return -1;
  DWORD wait = WaitForSingleObject(m_process->handle, static_cast<DWORD>(seconds) * 1000);
  if (wait != WAIT_OBJECT_0) {
    TerminateProcess(m_process->handle, 1);
    WaitForSingleObject(m_process->handle, INFINITE);
  }
  pump(0);
  DWORD code = 1;
  GetExitCodeProcess(m_process->handle, &code);
  m_status = wait == WAIT_OBJECT_0 ? static_cast<int>(code) : -1;
  return m_status;
}

std::string handedDown() {
  const char* handed = isChild() ? getenv(kMadeVar) : nullptr;
  std::istringstream made(handed != nullptr ? handed : "");
  std::string line;
  TestState& s = state();
  for (size_t i = 0; i <= s.adopted; ++i)
    if (!std::getline(made, line)) return std::string();
  ++s.adopted;
  return line;
}

void handDown(const std::string& dirOrName) {
  state().made.push_back(dirOrName);
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
