// bg::App and the executable strings it is named from, the plain store, the
// App block, and what a bare component starts with.
#include <gtest/gtest.h>
#include <kqbridge/kqbridge.h>  // the umbrella must compile on its own in a host

#include <string>

#include "support/test_support.h"

namespace {

using bg::Value;

TEST(ExecutablePath, GivesDirectoryAndNameUpToTheFirstDot) {
  const struct {
    const char* argv0;
    const char* dir;
    const char* name;
  } cases[] = {
      {"tool", "", "tool"},
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
}

// The App block is read by people and scripts alike.
TEST(App, ShowWritesTheBlockWithTheStoreDump) {
  bg::setExecutablePath("/opt/app/host.bin");
  bg::App app;
  app.setVersion("2.0");
  app.setStoreValue("a", Value(5), false);
  EXPECT_EQ(kqtest::written([&](FILE* f) { app.show(f); }),
            "------------ [App] ------------\n"
            ">> app_name      = host\n"
            ">> app_dir       = /opt/app/\n"
            ">> app_filepath  = /opt/app/host.bin\n"
            ">> version       = 2.0\n"
            ">> organization  = \n"
            ">> release_time  = \n"
            ">> describe      = \n"
            "\n[Data] debug >>\n"
            "a  -->  [i]5\n"
            "\n"
            "-------------------------------\n\n");
}

class Component : public bg::Interface {
 public:
  bool init() override { return true; }
  bool initExtend() override { return true; }
  bool uninit() override { return true; }
  bg::Value process(const char*, BridgeMsg) override { return bg::Value(1); }
};

TEST(Interface, ABareComponentHasNoServicesAndCallsReachNobody) {
  Component c;
  void* const fields[] = {c.m_app,       c.m_logger,   c.m_config,    c.m_tracer, c.m_data,
                          c.m_localData, c.m_argv,     c.m_utils,     c.m_crypt,  c.m_threadPool,
                          c.m_memPool,   c.m_shareMem, c.m_channelMgr};
  for (void* f : fields) EXPECT_EQ(f, nullptr);
  BridgeMsg msg{1, 2, "hi", 3, 4};
  EXPECT_FALSE(c.call("anyone", msg).isValid());
}

}  // namespace
