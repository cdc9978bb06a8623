// The POSIX calls the tests make, over the Windows C runtime.
#ifndef KQBRIDGE_TESTS_SUPPORT_KQTEST_COMPAT_H_
#define KQBRIDGE_TESTS_SUPPORT_KQTEST_COMPAT_H_

#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kqtest {
// Tests of POSIX-only behaviour skip themselves here.
constexpr bool kOnWindows = true;
constexpr char kNullDevice[] = "NUL";
}  // namespace kqtest

int setenv(const char* name, const char* value, int overwrite);
int unsetenv(const char* name);
// The mode is the system's business on Windows.
inline int mkdir(const char* path, int /*mode*/) {
  return _mkdir(path);
}
// Mode bits restrict nobody on Windows, as they do not restrict root on POSIX.
inline int geteuid() {
  return 0;
}
// Windows has no signals to send: any of them ends the process at once.
#define SIGKILL 9
int kill(pid_t pid, int sig);
// Ends the process after `seconds`; there is nothing to cancel it with.
unsigned alarm(unsigned seconds);
// No numeric users: the tests that change user skip themselves here.
inline int setuid(int /*uid*/) {
  errno = EPERM;
  return -1;
}
// A copy: links need privileges a test does not have.
int symlink(const char* target, const char* link);

#endif  // KQBRIDGE_TESTS_SUPPORT_KQTEST_COMPAT_H_
