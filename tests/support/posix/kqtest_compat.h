// The POSIX calls the tests make, as the system offers them.
#ifndef KQBRIDGE_TESTS_SUPPORT_KQTEST_COMPAT_H_
#define KQBRIDGE_TESTS_SUPPORT_KQTEST_COMPAT_H_

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace kqtest {
// Tests of POSIX-only behaviour skip themselves elsewhere.
constexpr bool kOnWindows = false;
constexpr char kNullDevice[] = "/dev/null";
}  // namespace kqtest

#endif  // KQBRIDGE_TESTS_SUPPORT_KQTEST_COMPAT_H_
