// bg::App's executable strings: the directory and the name a program gets
// from argv[0].
#include <gtest/gtest.h>
#include <kqbridge/kqbridge.h>  // the umbrella must compile on its own in a host

#include <string>

#include "support/test_support.h"

namespace {

TEST(ExecutablePath, GivesDirectoryAndNameUpToTheFirstDot) {
  // argv[0], then the directory and the name it gives.
  const char* cases[][3] = {{"C:/x/a.b.exe", "C:/x/", "a"},
                            {"C:\\app\\my.tool.exe", "C:\\app\\", "my"},
                            {"/opt/bin\\mixed/host", "/opt/bin\\mixed/", "host"}};
  for (const auto& c : cases) {
    bg::setExecutablePath(c[0]);
    EXPECT_EQ(bg::g_exePath, c[0]);
    EXPECT_EQ(bg::g_exeDir, c[1]) << c[0];
    EXPECT_EQ(bg::g_exeName, c[2]) << c[0];
    bg::App app;
    EXPECT_STREQ(app.getAppName(), c[2]);
    EXPECT_STREQ(app.getAppDir(), c[1]);
  }
  bg::setExecutablePath("tool");  // found through PATH: the directory is the real file's
  EXPECT_EQ(bg::g_exePath, bg::g_exeDir + (kqtest::kOnWindows ? "app_test.exe" : "app_test"));
  EXPECT_EQ(bg::g_exeName, "tool");
  bg::setExecutablePath("");  // no name at all: the real file's
  EXPECT_EQ(bg::g_exeName, "app_test");
}

}  // namespace
