// Loading modules, starting and stopping them in name order, refusing bad
// ones, and what a component keeps after the shutdown, with real module
// files built beside the tests. The test modules report every call the
// framework makes on stdout.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kqbridge/kqbridge.h"
#include "support/bridge_sandbox.h"
#include "support/test_support.h"

namespace {

using kqtest::BridgeRun;
using kqtest::contains;
using kqtest::runBridge;
using kqtest::Sandbox;

// The ".dll" suffix is checked without regard to case; other names are refused.
TEST(LoadModule, CountsComponentsAndStartsOnlyWhenAsked) {
  BridgeRun run = runBridge([](const Sandbox& box) {
    box.addModule("mod_a.dll", "MOD_A.DLL");
    for (const char* as : {"mod_b.dll", "mod_b.so", "mod_b"}) box.addModule("mod_b.dll", as);
    CHILD_CHECK(box.load({"MOD_A.DLL", "mod_b.dll"}, true) == -1);
    CHILD_CHECK(!bg::StartModules());
    box.init();
    const char* names[] = {"MOD_A.DLL"};
    CHILD_CHECK(bg::LoadModule(names, 0, false) == 0 && bg::LoadModule(names, -1, false) == 0);
    CHILD_CHECK(box.load({"mod_b.so", "MOD_A.DLL", "mod_b", "mod_b.dll"}, false) == 2);
    bg::UninitBridge();
    return 0;
  });
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "a:init missing=0\nb:init missing=0\na:uninit aborting=1\nb:uninit aborting=1\n");
}

TEST(LoadModule, StartsAndStopsInNameOrderAndEveryStartReachesEveryComponent) {
  BridgeRun run = runBridge([](const Sandbox& box) {
    for (const char* m : {"mod_a.dll", "mod_b.dll", "mod_central.dll"}) box.addModule(m);
    box.init();
    CHILD_CHECK(box.load({"mod_b.dll"}, true) == 1);
    CHILD_CHECK(box.load({"mod_a.dll"}, true) == 2);
    // A component that is a central object itself is neither started nor stopped.
    CHILD_CHECK(box.load({"mod_central.dll"}, false) == 3);
    BridgeMsg msg = {3, 0, "x", 0, 0};
    CHILD_CHECK(bg::CD->call("b", msg).toStdString() == "b");
    CHILD_CHECK(static_cast<bg::Admin*>(bg::CD)->dispatch("a", "b", msg).toStdString() == "b");
    // Entries other code registered are not treated as components.
    static int foreign = 0;
    bg::setInstance("Zeta", &foreign);
    bg::UninitBridge();
    return 0;
  });
  ASSERT_EQ(run.status, 0) << run.err;
  // aborting=1: every service was marked before any component stopped.
  EXPECT_EQ(run.out,
            "b:init missing=0\nb:initExtend\na:init missing=0\na:initExtend\nb:initExtend\n"
            "b:process from=Admin cmd=3\nb:process from=a cmd=3\n"
            "a:uninit aborting=1\nb:uninit aborting=1\n");
}

TEST(LoadModule, RefusedModulesAreReportedAndSkipped) {
  BridgeRun run = runBridge([](const Sandbox& box) {
    box.writeAdminConf("LogLevel : 5\n");
    for (const char* m : {"mod_debug.dll", "mod_failinit.dll", "mod_noentry.dll", "mod_null.dll",
                          "mod_foreign.dll", "mod_unstamped.dll"})
      box.addModule(m);
    kqtest::writeFile(box.binDir() + "/garbage.dll", "this is not a shared object\n");
    box.init();
    CHILD_CHECK(box.load({"missing.dll", "mod_noentry.dll", "garbage.dll", "mod_debug.dll",
                          "mod_failinit.dll", "mod_null.dll", "mod_foreign.dll", "mod_unstamped.dll"},
                         true) == 1);
    BridgeMsg msg = {3, 0, nullptr, 0, 0};
    for (const char* refused : {"failer", "dbg", "foreign"})
      CHILD_CHECK(!bg::CD->call(refused, msg).isValid());
    bg::UninitBridge();
    return 0;
  });
  ASSERT_EQ(run.status, 0) << run.err;
  // A failing init gets uninit at once and is never started or stopped again;
  // a mismatched build or ABI is never initialised; a module without a stamp
  // loads as any other.
  EXPECT_EQ(run.out,
            "failer:init missing=0\nfailer:uninit aborting=0\n"
            "bare:init missing=0\nbare:initExtend\nbare:uninit aborting=1\n");
  for (const char* number : {"libray err: 126", "libray err: 127", "libray err: 193"})
    EXPECT_TRUE(contains(run.err, number)) << number << "\n" << run.err;
  EXPECT_TRUE(contains(run.err, "[Error - load lib] main.exe is 'release', module 'dbg' is 'debug'\n"))
      << run.err;
  // One line each, naming the file and, for another ABI, both versions.
  const std::string ours = std::to_string(KQ_ABI_VERSION);
  const std::string theirs = std::to_string(KQ_ABI_VERSION + 1);
  EXPECT_TRUE(kqtest::hasLine(run.err, {"mod_foreign.dll", "ABI " + theirs, "ABI " + ours})) << run.err;
  EXPECT_TRUE(kqtest::hasLine(run.err, {"mod_unstamped.dll", "no ABI stamp"})) << run.err;
  // The system loader's own explanation goes to the central log.
  if (!kqtest::kOnWindows) {
    EXPECT_TRUE(contains(run.log, "missing.dll: cannot open shared object file")) << run.log;
  }
}

TEST(Shutdown, ComponentsLoseTheirServices) {
  BridgeRun run = runBridge([](const Sandbox& box) {
    for (const char* m : {"mod_a.dll", "mod_a2.dll"}) box.addModule(m);
    box.init();
    box.load({"mod_a.dll"}, false);
    auto* a = static_cast<bg::Interface*>(bg::getInstance("a"));
    CHILD_CHECK(a != nullptr && a->m_data == bg::CD->m_data && a->m_threadPool == bg::CD->m_threadPool);
    CHILD_CHECK(a->m_localData != bg::CD->m_localData && a->m_logger != bg::CD->m_logger);
    std::string stem = bg::g_configDir + "/log/a";
    CHILD_CHECK(a->m_logger->getPath().compare(0, stem.size(), stem) == 0);
    CHILD_CHECK(strcmp(a->m_config->getPath(), (bg::g_configDir + "/conf/a.conf").c_str()) == 0);
    // A component replaced under its name is still the bridge's until the stop, and then no more.
    box.load({"mod_a2.dll"}, false);
    auto* admin = static_cast<bg::Admin*>(bg::CD);
    CHILD_CHECK(bg::getInstance("a") != a && admin->isManaged(a));
    admin->uninit();
    CHILD_CHECK(!admin->isManaged(a));
    bg::UninitBridge();
    CHILD_CHECK(bg::getInstanceCount() == 0);
    CHILD_CHECK(a->m_argv == nullptr && a->m_logger == nullptr && a->m_config == nullptr &&
                a->m_tracer == nullptr && a->m_utils == nullptr && a->m_crypt == nullptr &&
                a->m_memPool == nullptr && a->m_localData == nullptr);
    CHILD_CHECK(a->m_app == nullptr && a->m_data == nullptr && a->m_threadPool == nullptr &&
                a->m_shareMem == nullptr && a->m_channelMgr == nullptr);
    return 0;
  });
  EXPECT_EQ(run.status, 0) << run.err;
}

}  // namespace
