// The POSIX calls the tests make, as the system offers them.
#ifndef KQBRIDGE_TESTS_SUPPORT_KQTEST_COMPAT_H_
#define KQBRIDGE_TESTS_SUPPORT_KQTEST_COMPAT_H_

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#endif  // KQBRIDGE_TESTS_SUPPORT_KQTEST_COMPAT_H_
