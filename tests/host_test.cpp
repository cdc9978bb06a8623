// kqbridge-host end to end: the example modules run in it and it stops
// cleanly on a signal, on a module's stop command, or refuses to run.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bridge_sandbox.h"
#include "support/test_support.h"

namespace {

using kqtest::contains;

using kqtest::BridgeSandbox;

// The host as a child process in `workDir`, with its environment pointed into
// the sandbox at `root` and its output in root/out and root/err.
class HostProcess {
 public:
  HostProcess(const std::string& root, const std::string& workDir, std::vector<std::string> args)
      : m_root(root) {
    m_pid = fork();
    if (m_pid != 0) return;
    BridgeSandbox box(root);
    if (chdir(workDir.c_str()) != 0 || !freopen((root + "/out").c_str(), "w", stdout) ||
        !freopen((root + "/err").c_str(), "w", stderr)) {
      _exit(120);
    }
    args.insert(args.begin(), "kqbridge-host");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(KQ_HOST_PATH, argv.data());
    _exit(121);
  }

  // The exit status, or -1 when killed by a signal or still running after the deadline.
  int wait(std::chrono::seconds deadline = std::chrono::seconds(60)) {
    auto until = std::chrono::steady_clock::now() + deadline;
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void signal(int sig) { kill(m_pid, sig); }
  std::string out() const { return kqtest::readFile(m_root + "/out"); }
  std::string err() const { return kqtest::readFile(m_root + "/err"); }

 private:
  std::string m_root;
  pid_t m_pid;
};

std::string hostConfigDir(const std::string& root) {
  return root + "/kqbridge-host";
}

// The host names itself after its file, so its files sit in the data folder.
std::string readCentralLog(const std::string& root) {
  std::string dir = hostConfigDir(root) + "/log/";
  std::string log;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.rfind("Admin", 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0) {
        log = kqtest::readFile(dir + name);
      }
    }
    closedir(d);
  }
  return log;
}

bool waitForLog(const std::string& root, const std::string& text) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < until) {
    if (contains(readCentralLog(root), text)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

void writeHostConf(const std::string& root, const std::string& lines) {
  mkdir(hostConfigDir(root).c_str(), 0755);
  mkdir((hostConfigDir(root) + "/conf").c_str(), 0755);
  kqtest::writeFile(hostConfigDir(root) + "/conf/Admin.conf", "#Bridge Config (#note)\n" + lines);
}

// The messages of `lines`, in order, must appear in `log` in that order.
::testing::AssertionResult inOrder(const std::string& log, const std::vector<std::string>& lines) {
  size_t at = 0;
  for (const std::string& line : lines) {
    size_t found = log.find(":  \"" + line + "\"\n", at);
    if (found == std::string::npos)
      return ::testing::AssertionFailure() << "missing or out of order: " << line;
    at = found;
  }
  return ::testing::AssertionSuccess();
}

TEST(Host, RunsTheExampleModulesAndStopsOnSigterm) {
  kqtest::TempDir td;
  writeHostConf(td.path(), "LogLevel : 5\n");
  HostProcess host(td.path(), KQ_EXAMPLE_MODULE_DIR, {"--start", "demo_sensor.dll", "demo_display.dll"});
  ASSERT_TRUE(waitForLog(td.path(), "display: end of readings")) << host.err() << readCentralLog(td.path());
  host.signal(SIGTERM);
  ASSERT_EQ(host.wait(), 0) << host.err();
  std::string log = readCentralLog(td.path());
  EXPECT_TRUE(inOrder(log,
                      {
                          "sensor: created channel 'demo.readings'",
                          "display: ready",
                          "sensor: publishing demo.temperature = 21.5",
                          "display: demo.temperature is now 21.5",
                          "display: message from Admin, cmd 7: hello from sensor",
                          "sensor: display answered 'shown'",
                      }))
      << log;
  EXPECT_TRUE(inOrder(log, {"display: reading 21.5", "display: reading 21.7", "display: reading 22.0",
                            "display: end of readings"}))
      << log;
  EXPECT_TRUE(
      inOrder(log, {"[Admin] ::uninit @==@", "thPool exit success", "> before uninit cmp 'display'",
                    "display: stopping", "> uninit cmp 'display' OK", "> before uninit cmp 'sensor'",
                    "sensor: stopping", "> uninit cmp 'sensor' OK", "[Admin] ::uninit end @==@", "Done!"}))
      << log;
  EXPECT_TRUE(contains(host.err(), "kqbridge-host: Terminated, stopping\n")) << host.err();
}

TEST(Host, StopsWhenAModuleSendsTheStopCommand) {
  kqtest::TempDir td;
  HostProcess host(td.path(), KQ_TEST_MODULE_DIR, {"--start", "mod_a.dll", "mod_quit.dll"});
  ASSERT_EQ(host.wait(), 0) << host.err();
  EXPECT_TRUE(contains(host.out(), "quitter:initExtend\na:uninit aborting=1\nquitter:uninit aborting=1\n"))
      << host.out();
  EXPECT_FALSE(contains(host.out(), "still running"));
}

TEST(Host, WithoutStartComponentsAreOnlyInitialised) {
  kqtest::TempDir td;
  HostProcess host(td.path(), KQ_TEST_MODULE_DIR, {"mod_quit.dll"});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  host.signal(SIGINT);
  ASSERT_EQ(host.wait(), 0) << host.err();
  EXPECT_EQ(host.out(), "quitter:init missing=0\nquitter:uninit aborting=1\n");
}

TEST(Host, RefusesToRunWhenAModuleFailsToLoad) {
  kqtest::TempDir td;
  HostProcess host(td.path(), KQ_TEST_MODULE_DIR, {"--start", "mod_a.dll", "not_there.dll"});
  int status = host.wait();
  EXPECT_NE(status, 0);
  EXPECT_NE(status, -1);
  EXPECT_TRUE(contains(host.err(), "kqbridge-host: module 'not_there.dll' was not loaded")) << host.err();
  // What was loaded is stopped again, but never started.
  EXPECT_EQ(host.out(), "a:init missing=0\na:uninit aborting=1\n");
}

TEST(Host, ExplainsItsUsage) {
  kqtest::TempDir td;
  HostProcess help(td.path(), td.path(), {"--help"});
  ASSERT_EQ(help.wait(), 0);
  EXPECT_EQ(help.out().rfind("usage: kqbridge-host [--start] MODULE.dll...\n", 0), 0u) << help.out();
  EXPECT_TRUE(contains(help.out(), "--start")) << help.out();

  HostProcess wrong(td.path(), td.path(), {"module.so"});
  EXPECT_EQ(wrong.wait(), 2);
  EXPECT_TRUE(contains(wrong.err(), "kqbridge-host: 'module.so' is not a module file name (MODULE.dll)\n"));

  HostProcess unknown(td.path(), td.path(), {"--frobnicate", "a.dll"});
  EXPECT_EQ(unknown.wait(), 2);
  EXPECT_TRUE(contains(unknown.err(), "usage: kqbridge-host")) << unknown.err();
}

}  // namespace
