// Loading modules, starting them in name order, refusing bad ones, and the
// shutdown sequence, with real module files built beside the tests. Every
// scenario runs InitBridge in a child process of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bridge_sandbox.h"
#include "core/library.h"
#include "kqbridge/kqbridge.h"
#include "support/test_support.h"

namespace {

using kqtest::contains;

using kqtest::BridgeSandbox;

TEST(LoadModule, CountsRegisteredComponents) {
  kqtest::TempDir td;
  std::string out, err;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        box.addModule("mod_a.dll");
        box.addModule("mod_b.dll");
        const char* names[] = {"mod_a.dll", "mod_b.dll"};
        CHILD_CHECK(bg::LoadModule(names, 2, true) == -1);
        CHILD_CHECK(!bg::StartModules());
        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        CHILD_CHECK(bg::LoadModule(names, 0, false) == 0);
        CHILD_CHECK(bg::LoadModule(names, -1, false) == 0);
        CHILD_CHECK(bg::LoadModule(names, 2, false) == 2);
        bg::UninitBridge();
        return 0;
      },
      &out, &err);
  ASSERT_EQ(rc, 0) << err;
  // Nothing was loaded before InitBridge; the load itself did not start anything.
  EXPECT_EQ(out, "a:init missing=0\nb:init missing=0\na:uninit aborting=1\nb:uninit aborting=1\n");
}

TEST(LoadModule, StartsAndStopsInNameOrderWhateverTheLoadOrder) {
  kqtest::TempDir td;
  std::string out, err;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        box.addModule("mod_a.dll");
        box.addModule("mod_b.dll");
        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        const char* names[] = {"mod_b.dll", "mod_a.dll"};
        CHILD_CHECK(bg::LoadModule(names, 2, true) == 2);
        BridgeMsg msg = {3, 0, "x", 0, 0};
        bg::Value reply = bg::CD->call("b", msg);
        CHILD_CHECK(reply.toStdString() == "b");
        reply = static_cast<bg::Admin*>(bg::CD)->dispatch("a", "b", msg);
        CHILD_CHECK(reply.toStdString() == "b");
        bg::UninitBridge();
        return 0;
      },
      &out, &err);
  ASSERT_EQ(rc, 0) << err;
  EXPECT_EQ(out,
            "b:init missing=0\na:init missing=0\na:initExtend\nb:initExtend\n"
            "b:process from=Admin cmd=3\nb:process from=a cmd=3\n"
            "a:uninit aborting=1\nb:uninit aborting=1\n");
  EXPECT_TRUE(contains(err, "======== init extend modules ======\n===================================\n\n"))
      << err;
}

TEST(LoadModule, EveryStartReachesEveryComponentAgain) {
  kqtest::TempDir td;
  std::string out, err;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        box.addModule("mod_a.dll");
        box.addModule("mod_b.dll");
        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        const char* first[] = {"mod_b.dll"};
        const char* second[] = {"mod_a.dll"};
        CHILD_CHECK(bg::LoadModule(first, 1, true) == 1);
        CHILD_CHECK(bg::LoadModule(second, 1, true) == 2);
        bg::UninitBridge();
        return 0;
      },
      &out, &err);
  ASSERT_EQ(rc, 0) << err;
  EXPECT_EQ(out,
            "b:init missing=0\nb:initExtend\na:init missing=0\na:initExtend\nb:initExtend\n"
            "a:uninit aborting=1\nb:uninit aborting=1\n");
}

TEST(LoadModule, SuffixIsCheckedWithoutRegardToCase) {
  kqtest::TempDir td;
  std::string out, err;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        box.addModule("mod_a.dll", "MOD_A.DLL");
        box.addModule("mod_b.dll", "mod_b.so");
        box.addModule("mod_b.dll", "mod_b");
        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        fprintf(stderr, "--load--\n");
        const char* names[] = {"mod_b.so", "mod_b", "MOD_A.DLL"};
        CHILD_CHECK(bg::LoadModule(names, 3, false) == 1);
        fprintf(stderr, "--loaded--\n");
        bg::UninitBridge();
        return 0;
      },
      &out, &err);
  ASSERT_EQ(rc, 0) << err;
  EXPECT_EQ(out, "a:init missing=0\na:uninit aborting=1\n");
  EXPECT_TRUE(contains(err, "--load--\n--loaded--\n")) << err;
}

TEST(LoadModule, RefusedModulesAreReportedAndSkipped) {
  kqtest::TempDir td;
  std::string out, err;
  const std::string bin = td.path() + "/bin/";
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        box.writeAdminConf("LogLevel : 5\n");
        for (const char* m : {"mod_debug.dll", "mod_failinit.dll", "mod_noentry.dll", "mod_null.dll"})
          box.addModule(m);
        kqtest::writeFile(box.binDir() + "/garbage.dll", "this is not a shared object\n");
        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        const char* names[] = {"missing.dll",   "mod_noentry.dll",  "garbage.dll",
                               "mod_debug.dll", "mod_failinit.dll", "mod_null.dll"};
        fprintf(stderr, "--load--\n");
        CHILD_CHECK(bg::LoadModule(names, 6, true) == 0);
        fprintf(stderr, "--loaded--\n");
        BridgeMsg msg = {3, 0, nullptr, 0, 0};
        CHILD_CHECK(!bg::CD->call("failer", msg).isValid());
        CHILD_CHECK(!bg::CD->call("dbg", msg).isValid());
        bg::UninitBridge();
        return 0;
      },
      &out, &err);
  ASSERT_EQ(rc, 0) << err;
  // A failing init gets uninit at once and is never started or stopped again;
  // a mismatched build is never initialised.
  EXPECT_EQ(out, "failer:init missing=0\nfailer:uninit aborting=0\n");
  size_t from = err.find("--load--\n");
  ASSERT_NE(from, std::string::npos) << err;
  EXPECT_EQ(err.substr(from, err.find("--loaded--\n") - from),
            "--load--\n"
            "loadLibrary failed: " +
                bin +
                "/missing.dll\nerr msg: libray err: 126\n"
                "resolve func failed\nerr msg: libray err: 127\n"
                "loadLibrary failed: " +
                bin +
                "/garbage.dll\nerr msg: libray err: 193\n"
                "[Error - load lib] main.exe is 'release', module 'dbg' is 'debug'\n"
                "[Error - load lib] module '" +
                bin +
                "/mod_null.dll' gave no component\n"
                "======== init extend modules ======\n===================================\n\n");
  // The system loader's own explanation goes to the central log.
  std::string log = BridgeSandbox(td.path()).centralLog();
  EXPECT_TRUE(contains(log, "missing.dll: cannot open shared object file")) << log;
  EXPECT_TRUE(contains(log, "get_component")) << log;
}

TEST(LoadModule, LibraryWrapperKeepsWindowsErrorNumbers) {
  kqtest::TempDir td;
  kqtest::writeFile(td.file("short.dll"), "x");
  kq::Library missing((td.path() + "\\nothing\\here.dll").c_str());
  EXPECT_FALSE(missing.load());
  EXPECT_EQ(missing.errorText(), "libray err: 126");
  kq::Library garbage(td.file("short.dll").c_str());
  EXPECT_FALSE(garbage.load());
  EXPECT_EQ(garbage.errorText(), "libray err: 193");
  // Backslashes separate as well.
  std::string backslashed = std::string(KQ_TEST_MODULE_DIR) + "\\mod_noentry.dll";
  kq::Library noEntry(backslashed.c_str());
  ASSERT_TRUE(noEntry.load());
  EXPECT_EQ(noEntry.resolve("get_component"), nullptr);
  EXPECT_EQ(noEntry.errorText(), "libray err: 127");
  EXPECT_NE(noEntry.resolve("not_a_component"), nullptr);
}

TEST(Shutdown, CentralLogShowsEveryStepInOrder) {
  kqtest::TempDir td;
  std::string out, err;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        box.writeAdminConf("LogLevel : 5\n");
        box.addModule("mod_a.dll");
        box.addModule("mod_b.dll");
        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        const char* names[] = {"mod_b.dll", "mod_a.dll"};
        bg::LoadModule(names, 2, true);
        // Entries other code registered are not treated as components.
        static int foreign = 0;
        bg::setInstance("Zeta", &foreign);
        bg::UninitBridge();
        return 0;
      },
      &out, &err);
  ASSERT_EQ(rc, 0) << err;
  std::vector<kqtest::LogLine> lines = kqtest::parseLog(BridgeSandbox(td.path()).centralLog());
  size_t first = 0;
  while (first < lines.size() && lines[first].message != "[Admin] ::uninit @==@") ++first;
  ASSERT_LT(first, lines.size());
  std::vector<std::string> seen;
  for (size_t i = first; i < lines.size(); ++i) {
    std::string message = lines[i].message;
    size_t inst = message.find(", inst=");
    if (inst != std::string::npos) message = message.substr(0, inst);
    seen.push_back(lines[i].level + " " + lines[i].function + " " + message);
  }
  std::vector<std::string> expected = {
      "ERROR uninit [Admin] ::uninit @==@",
      "DEBUG travell set aborting cmps: key=Admin",
      "DEBUG travell set aborting cmps 'Admin' End",
      "DEBUG travell set aborting cmps: key=a",
      "DEBUG travell set aborting cmps 'a' End",
      "DEBUG travell set aborting cmps: key=b",
      "DEBUG travell set aborting cmps 'b' End",
      "ERROR abortThreadAndChannel set all abort success",
      "ERROR abortThreadAndChannel channelMgr exit success",
      "ERROR abortThreadAndChannel thPool exit success",
      "ERROR uninit [Admin] abort all thread success",
      "ERROR travell > before uninit cmp 'a'",
      "ERROR travell > uninit cmp 'a' OK",
      "ERROR travell > before uninit cmp 'b'",
      "ERROR travell > uninit cmp 'b' OK",
      "ERROR uninit [Admin] ::uninit end @==@",
      "ERROR ~Admin Done!",
  };
  EXPECT_EQ(seen, expected);
  // The load listed the registry at DEBUG level.
  bool listed = false;
  for (const kqtest::LogLine& line : lines)
    listed = listed || (line.function == "show" && line.message == "Instance: b");
  EXPECT_TRUE(listed);
}

TEST(Shutdown, ComponentsLoseTheirServices) {
  kqtest::TempDir td;
  std::string err;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        box.addModule("mod_a.dll");
        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        const char* names[] = {"mod_a.dll"};
        bg::LoadModule(names, 1, false);
        bg::Interface* a = static_cast<bg::Interface*>(bg::getInstance("a"));
        CHILD_CHECK(a != nullptr && a->m_data == bg::CD->m_data && a->m_threadPool == bg::CD->m_threadPool);
        CHILD_CHECK(a->m_localData != bg::CD->m_localData && a->m_logger != bg::CD->m_logger);
        std::string logPath = a->m_logger->getPath();
        std::string stem = bg::g_configDir + "/log/a";
        CHILD_CHECK(logPath.size() == stem.size() + strlen("2026-12-04.log") &&
                    logPath.compare(0, stem.size(), stem) == 0);
        CHILD_CHECK(bg::CD->m_logger->getLevel() == a->m_logger->getLevel());
        CHILD_CHECK(strcmp(a->m_config->getPath(), (bg::g_configDir + "/conf/a.conf").c_str()) == 0);
        bg::UninitBridge();
        CHILD_CHECK(bg::getInstanceCount() == 0);
        CHILD_CHECK(a->m_argv == nullptr && a->m_logger == nullptr && a->m_config == nullptr &&
                    a->m_tracer == nullptr && a->m_utils == nullptr && a->m_crypt == nullptr &&
                    a->m_memPool == nullptr && a->m_localData == nullptr);
        CHILD_CHECK(a->m_app == nullptr && a->m_data == nullptr && a->m_threadPool == nullptr &&
                    a->m_shareMem == nullptr && a->m_channelMgr == nullptr);
        return 0;
      },
      nullptr, &err);
  EXPECT_EQ(rc, 0) << err;
}

}  // namespace
