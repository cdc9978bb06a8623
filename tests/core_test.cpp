// The entry functions, the central object's routing and handlers, and its
// initialisation: configuration directory, Admin.conf and the central log.
// Every scenario runs InitBridge in a child process of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

#include "bridge_sandbox.h"
#include "core/component_setup.h"
#include "kqbridge/kqbridge.h"
#include "support/test_support.h"

namespace {

using kqtest::contains;

using kqtest::BridgeSandbox;

// Every run of '/' and '\' as one '/', as the directory search prints paths.
std::string nativePath(const std::string& path) {
  std::string out;
  for (char c : path) {
    bool sep = c == '/' || c == '\\';
    if (sep && !out.empty() && out.back() == '/') continue;
    out += sep ? '/' : c;
  }
  return out;
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

TEST(EntryFunctions, InitBridgeOnceThenAgainAfterUninit) {
  kqtest::TempDir td;
  std::string err;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        char* argv[] = {box.argv0(), nullptr};
        CHILD_CHECK(bg::InitBridge(1, argv) == 0);
        bg::Interface* first = bg::CD;
        CHILD_CHECK(first != nullptr && strcmp(first->m_name, "Admin") == 0);
        CHILD_CHECK(getenv("KQBridge") != nullptr && strcmp(getenv("KQBridge"), "kqbridge.dev") == 0);
        void* published = nullptr;
        bg::GetEnvPtr("Bridge_Main_CD", &published);
        CHILD_CHECK(published == first);
        CHILD_CHECK(bg::g_exeName == BridgeSandbox::kAppName);

        // A second call is a no-op: not even the environment is touched.
        setenv("KQBridge", "changed", 1);
        CHILD_CHECK(bg::InitBridge(1, argv) == 0);
        CHILD_CHECK(bg::CD == first);
        CHILD_CHECK(strcmp(getenv("KQBridge"), "changed") == 0);

        bg::UninitBridge();
        CHILD_CHECK(bg::CD == nullptr);
        bg::UninitBridge();
        CHILD_CHECK(bg::CD == nullptr);
        CHILD_CHECK(!bg::StartModules());

        CHILD_CHECK(bg::InitBridge(1, argv) == 0);
        CHILD_CHECK(bg::CD != nullptr && bg::StartModules());
        bg::UninitBridge();
        return 0;
      },
      nullptr, &err);
  ASSERT_EQ(rc, 0) << err;
  EXPECT_EQ(count(err, "\n[Admin] ::init @==@\n"), 2u) << err;
  EXPECT_EQ(count(err, "[Admin] ::init OK\n"), 2u) << err;
}

TEST(EntryFunctions, InitBridgeFromEnvCodes) {
  kqtest::TempDir td;
  std::string err;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        unsetenv("Bridge_Main_CD");
        CHILD_CHECK(bg::InitBridgeFromEnv(nullptr) == -1);
        void* p = &p;
        CHILD_CHECK(bg::InitBridgeFromEnv(&p) == -2);
        CHILD_CHECK(p == nullptr);
        setenv("Bridge_Main_CD", "not a pointer", 1);
        CHILD_CHECK(bg::InitBridgeFromEnv(&p) == -2 && p == nullptr);
        fprintf(stderr, "--init--\n");

        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        CHILD_CHECK(bg::InitBridgeFromEnv(&p) == 0);
        CHILD_CHECK(p == bg::CD);
        int local = 0;
        CHILD_CHECK(bg::SetEnvPtr("KQ_TEST_PTR", &local) == 0);
        bg::GetEnvPtr("KQ_TEST_PTR", &p);
        CHILD_CHECK(p == &local);
        bg::GetEnvPtr("KQ_TEST_PTR", nullptr);
        bg::UninitBridge();
        return 0;
      },
      nullptr, &err);
  ASSERT_EQ(rc, 0) << err;
  EXPECT_EQ(err.substr(0, err.find("--init--")),
            "err=-1: ppCD is NULL\nerr=-2: *ppCD is NULL\nerr=-2: *ppCD is NULL\n");
}

bool g_handlerArg = false;
bool recordHandler(void* arg) {
  g_handlerArg = arg != nullptr;
  return true;
}

TEST(CentralObject, RoutesByNameAndKeepsOneHandler) {
  kqtest::TempDir td;
  std::string err;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        bg::Admin* admin = static_cast<bg::Admin*>(bg::CD);

        fprintf(stderr, "--unknown--\n");
        BridgeMsg msg = {3, 0, "hi", 0, 0};
        bg::Value v = bg::CD->call("nobody", msg);
        CHILD_CHECK(!v.isValid() && strcmp(v.errorMsg(), "Module not exsit") == 0);

        fprintf(stderr, "--instance--\n");
        BridgeMsg get = {bg::CMD_GET_INSTANCE, 0, nullptr, 0, 0};
        v = admin->dispatch("x", "Admin", get);
        CHILD_CHECK(v.type() == bg::Value::VT_VOID && v.toVoid() == bg::CD);

        BridgeMsg print = {0, 0, "hi", 0, 0};
        v = bg::CD->call("Admin", print);
        CHILD_CHECK(v.type() == bg::Value::VT_VOID && v.toVoid() == bg::CD);
        fprintf(stderr, "--other--\n");
        BridgeMsg other = {5, 0, "quiet", 0, 0};
        v = admin->dispatch("someone", "Admin", other);
        CHILD_CHECK(v.type() == bg::Value::VT_VOID && v.toVoid() == bg::CD);
        BridgeMsg notStop = {1, 1, nullptr, 0, 0};
        v = bg::CD->call("Admin", notStop);
        CHILD_CHECK(v.toVoid() == bg::CD);
        fprintf(stderr, "--end--\n");

        CHILD_CHECK(!admin->invokeHandler(nullptr));
        CHILD_CHECK(admin->setHandler(nullptr) == nullptr);
        CHILD_CHECK(admin->setHandler(recordHandler) == nullptr);
        CHILD_CHECK(admin->setHandler(nullptr) == recordHandler);
        CHILD_CHECK(admin->invokeHandler(&msg) && g_handlerArg);
        bg::UninitBridge();
        return 0;
      },
      nullptr, &err);
  ASSERT_EQ(rc, 0) << err;
  size_t from = err.find("--unknown--\n");
  ASSERT_NE(from, std::string::npos) << err;
  EXPECT_EQ(err.substr(from),
            "--unknown--\n=== Admin: module (nobody) not exist !! ERROR !\n--instance--\n"
            "[Admin] :: process() : from=Admin, msg=hi \n--other--\n--end--\n");
}

TEST(CentralObject, StopCommandEndsTheProcessWithStatusZero) {
  kqtest::TempDir td;
  std::string out;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        box.addModule("mod_a.dll");
        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        const char* names[] = {"mod_a.dll"};
        bg::LoadModule(names, 1, true);
        BridgeMsg stop = {2, 0, nullptr, 0, 0};
        bg::CD->call("Admin", stop);
        return 7;
      },
      &out);
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(contains(out, "a:initExtend\na:uninit aborting=1\n")) << out;
  BridgeSandbox box(td.path());
  std::string log = box.centralLog();
  // uninit ran; the destructor did not.
  EXPECT_TRUE(contains(log, "\"[Admin] ::uninit end @==@\"")) << log;
  EXPECT_FALSE(contains(log, "Done!")) << log;
}

struct ErrorReports {
  int calls = 0;
  std::string lastText;
};

void collectError(const char* text, void* user) {
  ErrorReports* reports = static_cast<ErrorReports*>(user);
  ++reports->calls;
  reports->lastText = text;
}

TEST(EntryFunctions, ErrorHandlerRunsOncePerRegistration) {
  kqtest::TempDir td;
  std::string err;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        ErrorReports reports;
        bg::RegistBgErrHandle(collectError, &reports);
        bg::CD->m_data->setDataNotify("BgError", bg::Value("disk full"), true);
        CHILD_CHECK(reports.calls == 1 && reports.lastText == "disk full");
        bg::RegistBgErrHandle(collectError, &reports);
        bg::CD->m_data->setDataNotify("BgError", bg::Value("again"), true);
        CHILD_CHECK(reports.calls == 3 && reports.lastText == "again");
        bg::CD->m_data->setData("BgError", bg::Value("silent"), true);
        bg::CD->m_data->setDataNotify("Other", bg::Value("elsewhere"), true);
        CHILD_CHECK(reports.calls == 3);
        bg::UninitBridge();
        return 0;
      },
      nullptr, &err);
  EXPECT_EQ(rc, 0) << err;
}

TEST(ConfigDirectory, FirstCandidateIsCachedForTheProcess) {
  kqtest::TempDir td;
  std::string err;
  std::string expected = nativePath(td.path() + "/app");
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        CHILD_CHECK(bg::findConfigDir("app") == expected);
        CHILD_CHECK(bg::g_configDir == expected);
        CHILD_CHECK(kqtest::fileExists(td.path() + "/app"));
        CHILD_CHECK(!kqtest::fileExists(td.path() + "/app/~test_writeable~.tmp"));
        // The cache answers without looking at the disk.
        CHILD_CHECK(rmdir((td.path() + "/app").c_str()) == 0);
        CHILD_CHECK(bg::findConfigDir("other") == expected);
        CHILD_CHECK(!kqtest::fileExists(td.path() + "/app"));
        return 0;
      },
      nullptr, &err);
  ASSERT_EQ(rc, 0) << err;
  EXPECT_EQ(err, "[Bridge] config dir = " + expected + "\n");
}

TEST(ConfigDirectory, UnusableCandidatesAreReportedAndSkipped) {
  kqtest::TempDir td;
  std::string err;
  const std::string noData = td.path() + "/plain/data";
  const std::string home = td.path() + "/home";
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        kqtest::writeFile(td.path() + "/plain", "");
        setenv("XDG_DATA_HOME", noData.c_str(), 1);
        // A probe name taken by a directory cannot be written, whoever runs the test.
        mkdir((home + "/app").c_str(), 0755);
        mkdir((home + "/app/~test_writeable~.tmp").c_str(), 0755);
        CHILD_CHECK(bg::findConfigDir("app") == nativePath(td.path() + "/appdata/app"));
        return 0;
      },
      nullptr, &err);
  ASSERT_EQ(rc, 0) << err;
  EXPECT_EQ(err, "\n\n[Bridge Error] can't mkdir:  " + nativePath(noData + "/app") +
                     "\n\n\n\n[Bridge Error] no write access:  " + nativePath(home + "/app") +
                     "\n\n[Bridge] config dir = " + nativePath(td.path() + "/appdata/app") + "\n");
}

TEST(ConfigDirectory, ReadOnlyCandidateIsSkipped) {
  // Permission bits do not stop root; the probe-name case above covers root.
  if (geteuid() == 0) return;
  kqtest::TempDir td;
  std::string err;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        mkdir((td.path() + "/app").c_str(), 0555);
        CHILD_CHECK(bg::findConfigDir("app") == nativePath(td.path() + "/home/app"));
        return 0;
      },
      nullptr, &err);
  ASSERT_EQ(rc, 0) << err;
  EXPECT_TRUE(
      contains(err, "\n\n[Bridge Error] no write access:  " + nativePath(td.path() + "/app") + "\n\n"))
      << err;
}

TEST(ConfigDirectory, NoUsableCandidateSearchesAgainNextTime) {
  kqtest::TempDir td;
  std::string err;
  const std::string gone = td.path() + "/missing";
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        kqtest::writeFile(gone, "");
        setenv("XDG_DATA_HOME", (gone + "/data").c_str(), 1);
        setenv("HOMEPATH", (gone + "/home").c_str(), 1);
        setenv("APPDATA", (gone + "/appdata").c_str(), 1);
        bg::setExecutablePath((gone + "/bin/host").c_str());
        CHILD_CHECK(bg::findConfigDir("app").empty());
        fprintf(stderr, "--again--\n");
        CHILD_CHECK(bg::findConfigDir("app").empty());
        return 0;
      },
      nullptr, &err);
  ASSERT_EQ(rc, 0) << err;
  std::string once;
  for (const char* c : {"/data/app", "/home/app", "/appdata/app", "/bin//app"}) {
    once += "\n\n[Bridge Error] can't mkdir:  " + nativePath(gone + c) + "\n\n";
  }
  EXPECT_EQ(err, once + "--again--\n" + once);
}

TEST(AdminSettings, FreshAdminConfGetsDefaultsAtOnce) {
  kqtest::TempDir td;
  std::string err;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        CHILD_CHECK(kqtest::readFile(box.configDir() + "/conf/Admin.conf") ==
                    "#Bridge Config (#note)\nLogLevel : 2\nLogStdout : false\n");
        CHILD_CHECK(bg::CD->m_logger->getLevel() == 2);
        BG_LOG(DEBUG, "hidden line");
        BG_LOG(ERROR, "shown line");
        bg::UninitBridge();
        return 0;
      },
      nullptr, &err);
  ASSERT_EQ(rc, 0) << err;
  BridgeSandbox box(td.path());
  std::string log = box.centralLog();
  EXPECT_TRUE(contains(log, "\"shown line\"")) << log;
  EXPECT_FALSE(contains(log, "hidden line"));
  EXPECT_FALSE(contains(log, "[DEBUG]"));
  EXPECT_TRUE(box.logFiles("Admin", ".tcr").empty());
  EXPECT_TRUE(contains(err, "[Bridge] config dir = " + nativePath(td.path() + "/kqhost") + "\n")) << err;
}

TEST(AdminSettings, LogLevelFiveTurnsOnDebugLinesAndTheTracer) {
  kqtest::TempDir td;
  std::string err;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        box.writeAdminConf("LogLevel : 5\n");
        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        CHILD_CHECK(bg::CD->m_logger->getLevel() == 5);
        bg::UninitBridge();
        return 0;
      },
      nullptr, &err);
  ASSERT_EQ(rc, 0) << err;
  BridgeSandbox box(td.path());
  std::string log = box.centralLog();
  EXPECT_TRUE(
      std::regex_search(log, std::regex(R"(\[DEBUG\] .* travell +:  "set aborting cmps: key=Admin, inst=)")))
      << log;
  std::vector<std::string> traces = box.logFiles("Admin", ".tcr");
  ASSERT_EQ(traces.size(), 1u);
  std::string trace = kqtest::readFile(traces[0]);
  // The destructor's scope encloses uninit, which encloses the abort step;
  // the tracer outlives the logger, so the outermost leave line is there too.
  EXPECT_TRUE(std::regex_search(trace, std::regex(R"(\|__~Admin \[(\d+)\] \n)"
                                                  R"(\|   \|__uninit \[(\d+)\] \n)"
                                                  R"(\|   \|   \|__abortThreadAndChannel \[(\d+)\] \n)"
                                                  R"(\|   \|   \|__@ \[\3\]\n)"
                                                  R"(\|   \|__@ \[\2\]\n)"
                                                  R"(\|__@ \[\1\]\n)")))
      << trace;
}

TEST(AdminSettings, LogLevelThreeKeepsDebugAndTracerOff) {
  kqtest::TempDir td;
  std::string err;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        box.writeAdminConf("LogLevel : 3\n");
        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        bg::UninitBridge();
        return 0;
      },
      nullptr, &err);
  ASSERT_EQ(rc, 0) << err;
  BridgeSandbox box(td.path());
  std::string log = box.centralLog();
  EXPECT_TRUE(contains(log, "\"Done!\"")) << log;
  EXPECT_FALSE(contains(log, "[DEBUG]"));
  EXPECT_TRUE(box.logFiles("Admin", ".tcr").empty());
}

TEST(AdminSettings, LogStdoutSendsTheCentralLogToStandardOutput) {
  kqtest::TempDir td;
  std::string out;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        box.writeAdminConf("LogLevel : 2\nLogStdout : trueish\n");
        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        BG_LOG(ERROR, "to the console");
        bg::UninitBridge();
        return 0;
      },
      &out);
  ASSERT_EQ(rc, 0);
  EXPECT_TRUE(std::regex_search(out, std::regex(R"(\[ERROR\] .* :  "to the console"\n)"))) << out;
  EXPECT_TRUE(contains(out, "\"Done!\"\n")) << out;
  BridgeSandbox box(td.path());
  EXPECT_TRUE(box.logFiles("Admin", ".log").empty());
}

TEST(AdminSettings, LogStdoutIsCaseSensitive) {
  kqtest::TempDir td;
  std::string out;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        box.writeAdminConf("LogStdout : TRUE\n");
        char* argv[] = {box.argv0(), nullptr};
        bg::InitBridge(1, argv);
        BG_LOG(ERROR, "to the file");
        bg::UninitBridge();
        return 0;
      },
      &out);
  ASSERT_EQ(rc, 0);
  EXPECT_FALSE(contains(out, "to the file"));
  BridgeSandbox box(td.path());
  EXPECT_TRUE(contains(box.centralLog(), "\"to the file\""));
  // The missing key was added and saved with its default.
  EXPECT_EQ(kqtest::readFile(box.configDir() + "/conf/Admin.conf"),
            "#Bridge Config (#note)\nLogLevel : 2\nLogStdout : TRUE\n");
}

}  // namespace
