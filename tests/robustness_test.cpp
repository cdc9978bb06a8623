// The bridge restarted, stopped while jobs wait, driven from several threads, fed bad input, interrupted.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "kqbridge/kqbridge.h"
#include "support/bridge_sandbox.h"
#include "support/test_support.h"

namespace {

bool channelCarries(bg::Abstract_Channel_Mgr* mgr, const char* name) {
  bg::Abstract_Channel *c = mgr->createChannel(name), *o = mgr->openChannel(name);
  char buf[4] = {};
  bool ok = c->write("hi", 3) == 3 && o->timedRead(buf, sizeof(buf), 5000) == 3 && strcmp(buf, "hi") == 0;
  mgr->releaseChannel(&o);
  mgr->releaseChannel(&c);
  return ok;
}

TEST(Robustness, LifecycleSurvivesBadInputRestartAndABlockedReader) {
  kqtest::BridgeRun run = kqtest::runBridge([](const kqtest::Sandbox& box) {
    char* noProgram[] = {nullptr};
    CHILD_CHECK(bg::InitBridge(0, nullptr) == -1 && bg::InitBridge(1, noProgram) == -1 && bg::CD == nullptr);
    CHILD_CHECK(bg::LoadModule(nullptr, 3, true) == -1);
    bg::RegistBgErrHandle(nullptr, nullptr);
    box.addModule("mod_a.dll");
    alarm(20);  // a hung shutdown ends the child
    for (int round = 0; round < 2; ++round) {
      CHILD_CHECK(box.init() == 0 && box.load({"mod_a.dll"}, true) == 1);
      auto* a = static_cast<bg::Interface*>(bg::getInstance("a"));
      CHILD_CHECK(a->m_data == bg::CD->m_data && channelCarries(a->m_channelMgr, "c"));
      auto job = [](void* end) {  // says it runs, then waits for what never comes
        auto* c = static_cast<bg::Abstract_Channel*>(end);
        char b[8];
        if (c->write("!", 1) == 1) c->read(b, sizeof(b));
      };
      CHILD_CHECK(a->m_threadPool->addTask(job, a->m_channelMgr->createChannel("blocked")));
      char b[8];
      CHILD_CHECK(a->m_channelMgr->openChannel("blocked")->timedRead(b, sizeof(b), 5000) == 1);
      bg::UninitBridge();
    }
    return 0;
  });
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("a:init missing=0"), run.out.rfind("a:init missing=0"))
      << run.out;  // in both rounds
}

// What a component throws stops where the framework called it, in one line
// (who, which call, what); init counts as failed, process answers empty.
TEST(Robustness, ExceptionsStopAtTheComponentBoundary) {
  kqtest::BridgeRun run = kqtest::runBridge([](const kqtest::Sandbox& box) {
    for (const char* m : {"mod_throwinit.dll", "mod_thrower.dll"}) box.addModule(m);
    box.init();
    CHILD_CHECK(box.load({"mod_throwinit.dll", "mod_thrower.dll"}, true) == 1);
    BridgeMsg msg = {3, 0, "x", 0, 0};
    CHILD_CHECK(std::string(bg::CD->call("thrower", msg).errorMsg()) == bg::Value().errorMsg());
    CHILD_CHECK(bg::CD->m_data->setDataNotify("thrower.boom", bg::Value(1), true));
    static std::atomic<int> ran{0};  // after more throwing jobs than the pool has workers
    void (*jobs[])(void*) = {[](void*) { throw std::runtime_error("job"); }, [](void*) { ++ran; }};
    for (int i = 0; i < 9; ++i) bg::CD->m_threadPool->addTask(jobs[i / 8], nullptr);
    CHILD_CHECK(kqtest::waitFor([] { return ran == 1; }, 30));
    bg::UninitBridge();
    return 0;
  });
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "throwinit:init missing=0\nthrowinit:uninit aborting=0\nthrower:init missing=0\n"
            "thrower:initExtend\nthrower:process from=Admin cmd=3\nthrower:uninit aborting=1\n");
  for (const char* line :
       {"component 'throwinit' threw from init(): throwinit init", "'thrower' threw from initExtend()",
        "'thrower' threw from process()", "'thrower' threw from uninit()",
        "mod_thrower.dll threw from a data listener", "threw from a pool job: job"})
    EXPECT_TRUE(kqtest::contains(run.err, line) && kqtest::contains(run.log, line)) << line << run.err;
}

// A second signal within a second is the same interrupt (sent to the group
// too): the stop completes, its change saved. A later one ends it at once.
TEST(Robustness, HostEndsAtOnceOnASecondSignalWhileStopping) {
  if (kqtest::kOnWindows) GTEST_SKIP() << "the host stops on console events on Windows; this run has none";
  for (int gapMs : {10, 2000}) {
    const std::string name = gapMs < 1000 ? "slow" : "stuck", module = "mod_" + name + ".dll";
    kqtest::TempDir td;
    kqtest::Sandbox box(td.path(), "kqbridge-host");
    kqtest::Child host([&] {
      box.enter();
      if (chdir(KQ_TEST_MODULE_DIR) != 0) return 120;
      return kqtest::runProgram(KQ_HOST_PATH, {"kqbridge-host", module});
    });
    // Signals are blocked for the host's own handling once its log exists.
    ASSERT_TRUE(kqtest::waitFor([&] { return kqtest::fileExists(box.configDir() + "/log"); }));
    auto first = std::chrono::steady_clock::now();
    kill(host.pid(), SIGINT);
    ASSERT_TRUE(host.waitOutput([&] { return kqtest::contains(host.out, name + ":uninit"); }));
    std::this_thread::sleep_until(first + std::chrono::milliseconds(gapMs));
    kill(host.pid(), SIGINT);
    EXPECT_EQ(host.finish(gapMs < 1000 ? 60 : 2), gapMs < 1000 ? 0 : 128 + SIGINT) << host.err;
    EXPECT_EQ(kqtest::readFile(box.configDir() + "/conf/" + name + ".conf") ==
                  "#Bridge Config (#note)\nran : yes\n",
              gapMs < 1000);
  }
}

void countAndLeave(const char* key, const bg::Value*, ListenerRecord* rec) {
  ++*reinterpret_cast<std::atomic<int>*>(rec->user[0]);
  if (rec->user[1] != 0) reinterpret_cast<bg::Data*>(rec->user[1])->unregistListener(key, rec->id);
}

TEST(Robustness, FourThreadsShareTheBusLoggerRegistryAndChannels) {  // in-process: ThreadSanitizer decides
  kqtest::TempDir td;
  int quiet = open(kqtest::kNullDevice, O_WRONLY), saved = dup(STDERR_FILENO);  // every removal says so there
  dup2(quiet, STDERR_FILENO);
  bg::Data bus;
  bg::Logger logger(td.file("bus.log").c_str());
  bg::Channel_Mgr channels;
  std::atomic<int> rounds{0}, wrong{0}, filtered{0}, own{0};
  ListenerRecord filter{countAndLeave, {reinterpret_cast<intptr_t>(&filtered)}, 0, 0};
  bus.registListener(nullptr, &filter);
  auto run = [&](int t) {
    std::string key = "key" + std::to_string(t);
    ListenerRecord mine{
        countAndLeave, {reinterpret_cast<intptr_t>(&own), reinterpret_cast<intptr_t>(&bus)}, 0, 0};
    using Clock = std::chrono::steady_clock;
    for (auto end = Clock::now() + std::chrono::seconds(2); Clock::now() < end; ++rounds) {
      bus.registListener(key.c_str(), &mine);
      bus.setDataNotify(key.c_str(), bg::Value(1), true);
      bus.setDataNotify(key.c_str(), bg::Value(2), true);
      bg::setInstance(key.c_str(), &bus);
      wrong += bus.getData(key.c_str(), bg::Value()).toInt() != 2 || bg::getInstance(key.c_str()) != &bus ||
               !channelCarries(&channels, key.c_str());
      logger.log(2, "thread %d\n", t);
    }
    bg::eraseInstance(key.c_str());
  };
  std::thread threads[] = {std::thread(run, 0), std::thread(run, 1), std::thread(run, 2),
                           std::thread(run, 3)};
  for (std::thread& t : threads) t.join();
  EXPECT_TRUE(dup2(saved, STDERR_FILENO) >= 0 && close(saved) == 0 && close(quiet) == 0);
  EXPECT_TRUE(wrong == 0 && own == rounds && filtered == 2 * rounds);
  std::string log = kqtest::readFile(td.file("bus.log"));
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), rounds + 1);  // one header line
}

TEST(Robustness, ListDirStopsAtLinkLoops) {
  if (kqtest::kOnWindows) GTEST_SKIP() << "making links takes a privilege tests do not have there";
  kqtest::TempDir td;
  std::string d = td.file("d");
  mkdir(d.c_str(), 0700);
  kqtest::writeFile(d + "/f", "x");
  ASSERT_EQ(symlink("..", (d + "/up").c_str()) | symlink(".", (d + "/self").c_str()), 0);
  int files = 0;
  EXPECT_EQ(bg::listDir(
                d.c_str(), [](void* n, const char*) { ++*static_cast<int*>(n); }, &files, false),
            0);
  EXPECT_EQ(files, 1);
}

TEST(Robustness, ArenaResetsKeepMemoryBounded) {
  bg::Mem_Pool pool(2048);
  EXPECT_EQ(pool.alloc(-1), nullptr);
  long before = 0;
  for (int cycle = 0; cycle < 1000; ++cycle, pool.reset()) {
    if (cycle == 10) before = kqtest::peakMemoryKb();
    for (int i = 0; i < 1000; ++i) ASSERT_NE(pool.alloc(100), nullptr);
  }
  EXPECT_LT(kqtest::peakMemoryKb() - before, 2048);
}

}  // namespace
