// The bridge used the way hosts and modules really use it: restarted, stopped
// while jobs wait, hammered from several threads, fed bad input, interrupted.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "bridge_sandbox.h"
#include "kqbridge/kqbridge.h"
#include "platform/shared_memory.h"
#include "support/test_support.h"

namespace {

using kqtest::BridgeSandbox;
using kqtest::contains;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool channelCarries(bg::Abstract_Channel_Mgr* mgr, const char* name) {
  bg::Abstract_Channel* c = mgr->createChannel(name);
  bg::Abstract_Channel* o = mgr->openChannel(name);
  char buf[4] = {};
  bool ok = c->write("hi", 2) == 2 && o->timedRead(buf, sizeof(buf), 5000) == 2 && strcmp(buf, "hi") == 0;
  mgr->releaseChannel(&o);
  mgr->releaseChannel(&c);
  return ok;
}

TEST(Robustness, RestartGivesReloadedComponentsFreshServices) {
  kqtest::TempDir td;
  std::string out;
  int rc = kqtest::runInChild(
      [&] {
        BridgeSandbox box(td.path());
        box.addModule("mod_a.dll");
        const char* names[] = {"mod_a.dll"};
        for (int round = 0; round < 2; ++round) {
          char* argv[] = {box.argv0(), nullptr};
          CHILD_CHECK(bg::InitBridge(1, argv) == 0);
          CHILD_CHECK(bg::LoadModule(names, 1, true) == 1);
          auto* a = static_cast<bg::Interface*>(bg::getInstance("a"));
          CHILD_CHECK(a != nullptr && a->m_data == bg::CD->m_data && a->m_channelMgr == bg::CD->m_channelMgr);
          CHILD_CHECK(a->m_logger != nullptr && a->m_config != nullptr);
          CHILD_CHECK(channelCarries(a->m_channelMgr, "restart"));
          bg::UninitBridge();
        }
        return 0;
      },
      &out);
  ASSERT_EQ(rc, 0) << out;
  size_t inits = 0;
  for (size_t at = out.find("a:init missing=0"); at != std::string::npos; at = out.find("a:init missing=0", at + 1))
    ++inits;
  EXPECT_EQ(inits, 2u) << out;
}

void blockOnRead(void* end) {
  char buf[8];
  static_cast<bg::Abstract_Channel*>(end)->read(buf, sizeof(buf));
}

TEST(Robustness, ShutdownReleasesAJobBlockedInRead) {
  kqtest::TempDir td;
  int rc = kqtest::runInChild([&] {
    alarm(5);  // a hang ends the child with SIGALRM
    BridgeSandbox box(td.path());
    char* argv[] = {box.argv0(), nullptr};
    bg::InitBridge(1, argv);
    bg::Abstract_Channel_Mgr* mgr = bg::CD->m_channelMgr;
    mgr->createChannel("blocked");
    CHILD_CHECK(bg::CD->m_threadPool->addTask(blockOnRead, mgr->openChannel("blocked")));
    bg::UninitBridge();
    return 0;
  });
  EXPECT_EQ(rc, 0);
}

TEST(Robustness, HostEndsAtOnceOnASecondSignalWhileStopping) {
  kqtest::TempDir td;
  std::string outFile = td.file("out");
  pid_t pid = fork();
  if (pid == 0) {
    BridgeSandbox box(td.path());
    if (chdir(KQ_TEST_MODULE_DIR) != 0 || !freopen(outFile.c_str(), "w", stdout)) _exit(120);
    execl(KQ_HOST_PATH, "kqbridge-host", "mod_stuck.dll", static_cast<char*>(nullptr));
    _exit(121);
  }
  auto waitFor = [&](const std::function<bool()>& done) {
    for (auto start = Clock::now(); !done() && secondsSince(start) < 60;)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  };
  // The bridge has made its log directory once the stop signals are blocked.
  waitFor([&] { return kqtest::fileExists(td.file("kqbridge-host/log")); });
  kill(pid, SIGINT);
  waitFor([&] { return contains(kqtest::readFile(outFile), "stuck:uninit"); });
  kill(pid, SIGINT);
  auto start = Clock::now();
  int status = 0;
  bool ended = false;
  while (!ended && secondsSince(start) < 2) {
    ended = waitpid(pid, &status, WNOHANG) == pid;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!ended) kill(pid, SIGKILL), waitpid(pid, &status, 0);
  EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) != 0);
}

struct Counter {
  bg::Data* data;
  std::atomic<int> calls{0};
};

void countOnceThenLeave(const char* key, const bg::Value*, ListenerRecord* rec) {
  auto* c = reinterpret_cast<Counter*>(rec->user[0]);
  c->calls++;
  c->data->unregistListener(key, rec->id);
}

void countAll(const char*, const bg::Value*, ListenerRecord* rec) {
  reinterpret_cast<Counter*>(rec->user[0])->calls++;
}

// Four threads for two seconds on one bus, logger, registry and channel
// manager; ThreadSanitizer watches the sanitizer builds.
TEST(Robustness, SharedServicesTakeFourThreadsAndSelfRemovingListeners) {
  kqtest::TempDir td;
  std::string err;  // every self-removal says so on stderr
  int rc = kqtest::runInChild(
      [&] {
        bg::Data bus;
        bg::Logger logger(td.file("bus.log").c_str());
        bg::Channel_Mgr channels;
        Counter filter{&bus}, shared{&bus}, own[4];
        ListenerRecord all{countAll, {reinterpret_cast<intptr_t>(&filter)}, 0, 0};
        bus.registListener(nullptr, &all);
        std::atomic<int> rounds{0};
        std::atomic<bool> wrong{false};
        auto hammer = [&](int t) {
          std::string key = "key" + std::to_string(t);
          own[t].data = &bus;
          ListenerRecord mine{countOnceThenLeave, {reinterpret_cast<intptr_t>(&own[t])}, 0, 0};
          ListenerRecord common{countOnceThenLeave, {reinterpret_cast<intptr_t>(&shared)}, 0, 0};
          for (auto start = Clock::now(); secondsSince(start) < 2; ++rounds) {
            bus.registListener(key.c_str(), &mine);
            bus.registListener("shared", &common);
            bus.setDataNotify(key.c_str(), bg::Value(1), true);
            bus.setDataNotify(key.c_str(), bg::Value(2), true);
            bus.setDataNotify("shared", bg::Value(t), true);
            bg::setInstance(key.c_str(), &bus);
            if (bus.getData(key.c_str(), bg::Value()).toInt() != 2 || bg::getInstance(key.c_str()) != &bus ||
                !channelCarries(&channels, key.c_str()))
              wrong = true;
            logger.log(2, "thread %d\n", t);
          }
          bg::eraseInstance(key.c_str());
        };
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) threads.emplace_back(hammer, t);
        for (std::thread& t : threads) t.join();
        CHILD_CHECK(!wrong.load());
        CHILD_CHECK(own[0].calls + own[1].calls + own[2].calls + own[3].calls == rounds.load());
        CHILD_CHECK(filter.calls.load() == 3 * rounds.load());
        std::string log = kqtest::readFile(td.file("bus.log"));
        CHILD_CHECK(std::count(log.begin(), log.end(), '\n') == rounds.load() + 1);  // one header
        return 0;
      },
      nullptr, &err);
  EXPECT_EQ(rc, 0) << err.substr(err.size() > 2000 ? err.size() - 2000 : 0);
}

TEST(Robustness, EntryFunctionsRefuseBadInputWithoutCrashing) {
  char* noProgram[] = {nullptr};
  struct {
    int argc;
    char** argv;
  } cases[] = {{0, nullptr}, {1, noProgram}};
  for (const auto& c : cases) {
    EXPECT_EQ(bg::InitBridge(c.argc, c.argv), -1);
    EXPECT_EQ(bg::CD, nullptr);
  }
  EXPECT_EQ(bg::LoadModule(nullptr, 3, true), -1);
  bg::RegistBgErrHandle(nullptr, nullptr);
}

void countFile(void* n, const char*) {
  ++*static_cast<int*>(n);
}

TEST(Robustness, ListDirEntersALoopingLinkOnce) {
  kqtest::TempDir td;
  std::string d = td.file("d");
  mkdir(d.c_str(), 0700);
  kqtest::writeFile(d + "/f", "x");
  ASSERT_EQ(symlink("..", (d + "/up").c_str()), 0);
  ASSERT_EQ(symlink(".", (d + "/self").c_str()), 0);
  int files = 0;
  EXPECT_EQ(bg::listDir(d.c_str(), countFile, &files, false), 0);
  EXPECT_EQ(files, 1);
}

long residentKb() {
  long pages = 0, resident = 0;
  FILE* f = fopen("/proc/self/statm", "r");
  if (f == nullptr || fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = -1;
  if (f != nullptr) fclose(f);
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

TEST(Robustness, ArenaResetKeepsMemoryFlat) {
  bg::Mem_Pool pool(2048);
  EXPECT_EQ(pool.alloc(-1), nullptr);
  long before = 0;
  for (int cycle = 0; cycle < 1000; ++cycle) {
    if (cycle == 10) before = residentKb();
    for (int i = 0; i < 1000; ++i) ASSERT_NE(pool.alloc(100), nullptr);
    pool.reset();
  }
  EXPECT_LT(residentKb() - before, 2048);
}

TEST(Robustness, ConfigSaveCutShortLeavesTheOldFile) {
  kqtest::TempDir td;
  std::string path = td.file("c.conf");
  kqtest::writeFile(path, "#Bridge Config (#note)\nold : 1\n");
  std::string before = kqtest::readFile(path);
  // The file-size limit makes the kernel kill the child in the middle of the
  // write, as a crash would.
  int rc = kqtest::runInChild([&] {
    struct rlimit none = {0, 0}, small = {64, 64};
    setrlimit(RLIMIT_CORE, &none);
    setrlimit(RLIMIT_FSIZE, &small);
    bg::Config config(path.c_str());
    config.setValue("big", std::string(4000, 'x').c_str());
    config.save();
    return 0;
  });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(kqtest::readFile(path), before);
  bg::Config config(path.c_str());
  config.setValue("new", "2");
  config.save();
  EXPECT_TRUE(contains(kqtest::readFile(path), "new : 2"));
}

TEST(Robustness, StaleSharedMemoryIsReplacedFast) {
  std::string name = kqtest::uniqueName("stale");
  std::string object = bg::platform::sharedMemoryObjectName(name.c_str());
  for (off_t size : {0, 8192}) {  // a creator killed before its header, a foreign object
    int fd = shm_open(object.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
    auto start = Clock::now();
    bg::Share_Mem creator, opener;
    EXPECT_EQ(creator.open(name.c_str(), 64), 1);
    EXPECT_EQ(opener.open(name.c_str(), 64), 2);
    EXPECT_LT(secondsSince(start), 0.9);
  }
}

}  // namespace
