// bg::App's executable strings: the directory and the name a program gets
// from argv[0].
#include <gtest/gtest.h>
#include <kqbridge/kqbridge.h>  // the umbrella must compile on its own in a host

#include <string>

#include "support/test_support.h"

namespace {

TEST(ExecutablePath, GivesDirectoryAndNameUpToTheFirstDot) {
  const struct {
    const char* argv0;
    const char* dir;
    const char* name;
  } cases[] = {
      {"C:/x/a.b.exe", "C:/x/", "a"},
      {"C:\\app\\my.tool.exe", "C:\\app\\", "my"},
      {"/opt/bin\\mixed/host", "/opt/bin\\mixed/", "host"},
  };
  for (const auto& c : cases) {
    bg::setExecutablePath(c.argv0);
    EXPECT_EQ(bg::g_exePath, c.argv0);
    EXPECT_EQ(bg::g_exeDir, c.dir) << c.argv0;
    EXPECT_EQ(bg::g_exeName, c.name) << c.argv0;
    bg::App app;
    EXPECT_STREQ(app.getAppName(), c.name);
    EXPECT_STREQ(app.getAppDir(), c.dir);
  }
  bg::setExecutablePath("tool");  // found through PATH: the directory is the real file's
  EXPECT_EQ(bg::g_exePath, bg::g_exeDir + (kqtest::kOnWindows ? "app_test.exe" : "app_test"));
  EXPECT_EQ(bg::g_exeName, "tool");
  bg::setExecutablePath("");  // no name at all: the real file's
  EXPECT_EQ(bg::g_exeName, "app_test");
}

}  // namespace
