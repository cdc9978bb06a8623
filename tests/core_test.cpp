// The entry functions, the central object's routing, the configuration
// directory search and the settings Admin.conf gives the central log.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/component_setup.h"
#include "kqbridge/kqbridge.h"
#include "support/bridge_sandbox.h"
#include "support/test_support.h"

namespace {

using kqtest::BridgeRun;
using kqtest::contains;
using kqtest::runBridge;
using kqtest::Sandbox;

TEST(EntryFunctions, InitOnceUninitTwiceInitAgainAndFindTheCentralObjectFromTheEnvironment) {
  BridgeRun run = runBridge([](const Sandbox& box) {
    unsetenv("Bridge_Main_CD");
    void* p = &p;
    CHILD_CHECK(bg::InitBridgeFromEnv(&p) == -2 && p == nullptr);
    CHILD_CHECK(box.init() == 0);
    bg::Interface* first = bg::CD;
    CHILD_CHECK(first != nullptr && strcmp(first->m_name, "Admin") == 0);
    CHILD_CHECK(bg::g_exeName == Sandbox::kAppName);
    CHILD_CHECK(bg::InitBridgeFromEnv(&p) == 0 && p == first);
    // A second call is a no-op: not even the environment is touched.
    setenv("KQBridge", "changed", 1);
    CHILD_CHECK(box.init() == 0 && bg::CD == first && strcmp(getenv("KQBridge"), "changed") == 0);
    bg::UninitBridge();
    bg::UninitBridge();
    CHILD_CHECK(bg::CD == nullptr && !bg::StartModules());
    CHILD_CHECK(box.init() == 0 && bg::CD != nullptr && bg::StartModules());
    bg::UninitBridge();
    return 0;
  });
  EXPECT_EQ(run.status, 0) << run.err;
}

TEST(CentralObject, StopCommandStopsComponentsAndEndsWithStatusZero) {
  BridgeRun run = runBridge([](const Sandbox& box) {
    box.addModule("mod_a.dll");
    box.init();
    box.load({"mod_a.dll"}, true);
    BridgeMsg stop = {2, 0, nullptr, 0, 0};
    bg::CD->call("Admin", stop);
    return 7;
  });
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(contains(run.out, "a:initExtend\na:uninit aborting=1\n")) << run.out;
}

struct ErrorReports {
  int calls = 0;
  std::string lastText;
};

void collectError(const char* text, void* user) {
  auto* reports = static_cast<ErrorReports*>(user);
  ++reports->calls;
  reports->lastText = text;
}

TEST(EntryFunctions, ErrorHandlerRunsOncePerRegistrationForBgErrorOnly) {
  BridgeRun run = runBridge([](const Sandbox& box) {
    box.init();
    ErrorReports reports;
    bg::RegistBgErrHandle(collectError, &reports);
    bg::CD->m_data->setDataNotify("BgError", bg::Value("disk full"), true);
    CHILD_CHECK(reports.calls == 1 && reports.lastText == "disk full");
    bg::RegistBgErrHandle(collectError, &reports);
    bg::CD->m_data->setDataNotify("BgError", bg::Value("again"), true);
    CHILD_CHECK(reports.calls == 3 && reports.lastText == "again");
    bg::CD->m_data->setDataNotify("Other", bg::Value("elsewhere"), true);
    CHILD_CHECK(reports.calls == 3);
    bg::UninitBridge();
    return 0;
  });
  EXPECT_EQ(run.status, 0) << run.err;
}

// Spoils some candidates (relative to the sandbox root) and expects `chosen`
// ("" when none is usable) to be found and cached.
void expectChosen(const std::function<void(const std::string& root)>& spoil, const std::string& chosen) {
  BridgeRun run = runBridge([&](const Sandbox& box) {
    spoil(box.root);
    std::string expected = chosen.empty() ? "" : kqtest::shownPath(box.root + chosen);
    CHILD_CHECK(bg::findConfigDir("app") == expected && bg::g_configDir == expected);
    if (expected.empty()) {
      // Nothing is cached: the next call searches again and fails again.
      CHILD_CHECK(bg::findConfigDir("app").empty());
      return 0;
    }
    CHILD_CHECK(!kqtest::fileExists(box.root + chosen + "/~test_writeable~.tmp"));
    // The cache answers without looking at the disk.
    rmdir((box.root + chosen).c_str());
    CHILD_CHECK(bg::findConfigDir("other") == expected);
    return 0;
  });
  EXPECT_EQ(run.status, 0) << chosen << "\n" << run.err;
}

TEST(ConfigDirectory, FirstUsableCandidateIsChosenAndCached) {
  if (kqtest::kOnWindows)
    GTEST_SKIP() << "the first candidate there is TMP's parent, which these cases do not spoil";
  expectChosen([](const std::string&) {}, "/data/app");
  // The first cannot be made (its parent is a file); the second has its probe
  // name taken by a directory.
  expectChosen(
      [](const std::string& root) {
        kqtest::writeFile(root + "/file", "");
        setenv("XDG_DATA_HOME", (root + "/file/data").c_str(), 1);
        mkdir((root + "/home/app").c_str(), 0755);
        mkdir((root + "/home/app/~test_writeable~.tmp").c_str(), 0755);
      },
      "/appdata/app");
  expectChosen(
      [](const std::string& root) {
        kqtest::writeFile(root + "/file", "");
        setenv("XDG_DATA_HOME", (root + "/file/data").c_str(), 1);
        setenv("HOMEPATH", (root + "/file/home").c_str(), 1);
        setenv("APPDATA", (root + "/file/appdata").c_str(), 1);
        for (const char* tmp : {"TMP", "TEMP", "TMPDIR"}) setenv(tmp, (root + "/file/tmp").c_str(), 1);
        bg::setExecutablePath((root + "/file/bin/host").c_str());
      },
      "");
}

TEST(AdminSettings, LogLevelAndLogStdoutChooseWhatTheCentralLogShowsAndWhere) {
  struct Case {
    const char* conf;  // nullptr: no Admin.conf yet
    bool debugLines;
    bool tracer;
    bool onStdout;
  };
  const Case cases[] = {
      {nullptr, false, false, false},
      {"LogLevel : 5\n", true, true, false},
      {"LogLevel : 2\nLogStdout : trueish\n", false, false, true},
      {"LogStdout : TRUE\n", false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.conf != nullptr ? c.conf : "no Admin.conf");
    BridgeRun run = runBridge([&](const Sandbox& box) {
      if (c.conf != nullptr) box.writeAdminConf(c.conf);
      box.addModule("mod_a.dll");
      box.init();
      box.load({"mod_a.dll"}, false);
      // A component's own log follows the central one's level and place.
      bg::Logger* own = static_cast<bg::Interface*>(bg::getInstance("a"))->m_logger;
      CHILD_CHECK((own->getStream() == stdout) == c.onStdout &&
                  own->getLevel() == bg::CD->m_logger->getLevel());
      // Missing keys are added with their defaults, LogStdout saved at once.
      const std::string conf = box.configDir() + "/conf/Admin.conf";
      CHILD_CHECK(contains(kqtest::readFile(conf), "LogStdout : "));
      BG_LOG(ERROR, "marker line");
      bg::UninitBridge();
      CHILD_CHECK(contains(kqtest::readFile(conf), "LogLevel : "));
      return 0;
    });
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string& central = c.onStdout ? run.out : run.log;
    EXPECT_TRUE(contains(central, "\"marker line\"")) << central;
    EXPECT_EQ(contains(central, "[DEBUG]"), c.debugLines) << central;
    EXPECT_EQ(!run.trace.empty(), c.tracer);
    EXPECT_EQ(run.log.empty(), c.onStdout);
  }
}

}  // namespace
