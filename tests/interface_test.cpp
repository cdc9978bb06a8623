// Interface defaults, the service base and the executable strings.
#include <gtest/gtest.h>
#include <kqbridge/kqbridge.h>  // the umbrella must compile on its own in a host

namespace {

class Component : public bg::Interface {
 public:
  bool init() override { return true; }
  bool initExtend() override { return true; }
  bool uninit() override { return true; }
  bg::Value process(const char*, BridgeMsg) override { return bg::Value(1); }
};

class Service : public bg::Abstract_Base {};

TEST(Interface, NewComponentHasNoServices) {
  Component c;
  void* const fields[] = {c.m_app,       c.m_logger,   c.m_config,    c.m_tracer, c.m_data,
                          c.m_localData, c.m_argv,     c.m_utils,     c.m_crypt,  c.m_threadPool,
                          c.m_memPool,   c.m_shareMem, c.m_channelMgr};
  for (void* f : fields) EXPECT_EQ(f, nullptr);
  EXPECT_FALSE(c.isDebug());
  BridgeMsg msg{1, 2, "hi", 3, 4};
  bg::Value r = c.call("anyone", msg);
  EXPECT_FALSE(r.isValid());
  EXPECT_STREQ(r.errorMsg(), "null");
  EXPECT_EQ(bg::CMD_GET_INSTANCE, 99);
}

TEST(Interface, AbortFlagStartsClear) {
  Service s;
  EXPECT_FALSE(s.isAborting());
  s.setAborting(true);
  EXPECT_TRUE(s.isAborting());
  s.setAborting(false);
  EXPECT_FALSE(s.isAborting());
}

TEST(Interface, ExecutableStringsFromArgv0) {
  bg::setExecutablePath("tool");  // found through PATH: the directory is the real file's
  EXPECT_EQ(bg::g_exePath, bg::g_exeDir + "interface_test");
  EXPECT_EQ(bg::g_exeName, "tool");
  bg::setExecutablePath("C:/x/a.b.exe");
  EXPECT_EQ(bg::g_exeDir, "C:/x/");
  EXPECT_EQ(bg::g_exeName, "a");
  bg::setExecutablePath("C:\\app\\my.tool.exe");
  EXPECT_EQ(bg::g_exePath, "C:\\app\\my.tool.exe");
  EXPECT_EQ(bg::g_exeDir, "C:\\app\\");
  EXPECT_EQ(bg::g_exeName, "my");
  bg::setExecutablePath("/opt/bin\\mixed/host");
  EXPECT_EQ(bg::g_exeDir, "/opt/bin\\mixed/");
  EXPECT_EQ(bg::g_exeName, "host");
}

}  // namespace
