// kqbridge-host end to end: the example modules run in it and it stops
// cleanly on a signal or on a module's stop command, or refuses to run.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "support/bridge_sandbox.h"
#include "support/test_support.h"

namespace {

using kqtest::contains;
using kqtest::startHost;

// The example modules exchange data, messages and channel readings; on
// SIGTERM the host stops them in name order and ends with 0.
TEST(Host, RunsTheExampleModulesAndStopsOnSigterm) {
  if (kqtest::kOnWindows) GTEST_SKIP() << "the host stops on console events on Windows; this run has none";
  kqtest::TempDir td;
  auto host = startHost(td.path(), KQ_EXAMPLE_MODULE_DIR, {"--start", "demo_sensor.dll", "demo_display.dll"},
                        "LogLevel : 5\nLogStdout : true\n");
  ASSERT_TRUE(host->waitOutput([&] { return contains(host->out, "display: end of readings"); }))
      << host->out << host->err;
  kill(host->pid(), SIGTERM);
  ASSERT_EQ(host->finish(), 0) << host->err;
  EXPECT_TRUE(contains(host->out, "sensor: display answered 'shown'")) << host->out;
  EXPECT_LT(host->out.find("display: stopping"), host->out.find("sensor: stopping")) << host->out;
}

// What the host answers to each command line, and to each module it could
// not run: the option or the file named, and why.
TEST(Host, SaysWhatBecameOfEachOptionAndModule) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {{"--help"}, 0, "usage: kqbridge-host [--start] [--no-admin] MODULE.dll"},
      {{"module.so"}, 2, "'module.so'"},
      {{"--frobnicate", "a.dll"}, 2, "unknown option '--frobnicate'"},
      {{"--start", "mod_quit.dll", "mod_quit.dll"}, 0, "quitter:initExtend"},
      {{"mod_a.dll", "mod_a2.dll"}, 1, "'mod_a.dll' and 'mod_a2.dll' both give a component named 'a'"},
      {{"mod_failinit.dll"}, 1, "init() of its component 'failer' returned false"},
      {{"mod_throwinit.dll"}, 1, "init() of its component 'throwinit' threw"},
      {{"--start", "mod_a.dll", "not_there.dll"},
       1,
       "'not_there.dll' was not loaded (see the messages above)"},
  };
  for (const Case& c : cases) {
    kqtest::TempDir td;
    auto host = startHost(td.path(), KQ_TEST_MODULE_DIR, c.args);
    EXPECT_EQ(host->finish(), c.status) << c.args[0];
    EXPECT_TRUE(contains(host->out + host->err, c.says)) << c.args[0] << host->out << host->err;
    // What was loaded before a failure is stopped again, but never started.
    EXPECT_FALSE(c.status == 1 && contains(host->out, "initExtend")) << host->out;
  }
}

}  // namespace
