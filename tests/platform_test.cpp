// The platform layer: Windows-numbered last error and path translation.
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "platform/last_error.h"
#include "platform/path.h"

namespace {

namespace pf = bg::platform;

TEST(PlatformLastError, IsPerThread) {
  pf::setLastError(pf::kErrModNotFound);
  unsigned seenByOther = 12345;
  std::thread other([&] {
    seenByOther = pf::getLastError();
    pf::setLastError(pf::kErrPipeBusy);
  });
  other.join();
  EXPECT_EQ(seenByOther, 0u);
  EXPECT_EQ(pf::getLastError(), 126u);
}

TEST(PlatformLastError, MapsErrnoToWindowsNumbers) {
  EXPECT_EQ(pf::winErrorFromErrno(ENOENT), 2u);
  EXPECT_EQ(pf::winErrorFromErrno(EACCES), 5u);
  EXPECT_EQ(pf::winErrorFromErrno(EPIPE), 109u);
  EXPECT_EQ(pf::winErrorFromErrno(ENOTDIR), 267u);
  errno = EACCES;
  EXPECT_EQ(pf::setLastErrorFromErrno(), 5u);
  EXPECT_EQ(pf::getLastError(), 5u);
  // The documented numbers themselves.
  EXPECT_EQ(pf::kErrProcNotFound, 127u);
  EXPECT_EQ(pf::kErrBadExeFormat, 193u);
  EXPECT_EQ(pf::kErrPipeConnected, 535u);
}

TEST(PlatformPath, BackslashesBecomeSlashes) {
  EXPECT_EQ(pf::nativePath("\\tmp\\a\\..\\b"), "/tmp/a/../b");
  EXPECT_EQ(pf::nativePath("C:\\x/y\\\\z"), "C:/x/y//z");
  EXPECT_EQ(pf::nativePath(""), "");
  EXPECT_EQ(pf::nativePath(static_cast<const char*>(nullptr)), "");
  EXPECT_EQ(pf::nativePath(std::string("plain")), "plain");
  EXPECT_TRUE(pf::isSeparator('/'));
  EXPECT_TRUE(pf::isSeparator('\\'));
  EXPECT_FALSE(pf::isSeparator(':'));
}

}  // namespace
