// The soak run's load generator (component "soakload"): from its initExtend
// to its uninit, a few threads of its own exercise the framework without a
// pause worth the name - calls to the example components, data-bus sets
// with listeners added and removed (one removes itself), channels opened
// and closed with readers blocking in them, jobs on the shared thread pool
// and arena cycles - while a pipe server counts the messages another
// process sends. Every result is checked; the host asks for the totals.
//
// The shutdown aborts the shared services before this component's uninit
// stops the threads, so a failure seen once the pool is aborting is the
// shutdown's doing and is not counted.
#include <kqbridge/kqbridge.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "soak.h"

namespace {

const int kThreads = 2;
// Each thread rests this long between rounds, so that a ten-minute run
// shares a machine instead of taking it.
const auto kRest = std::chrono::milliseconds(5);

// What one load thread owns; pool jobs and listeners write into it. It
// outlives every job: the pool is joined before any component stops. An
// arena serves one thread at a time, so each thread has one of its own.
struct Lane {
  std::atomic<int> heard{0};
  std::atomic<int> jobsDone{0};
  bg::Abstract_MemPool* arena = nullptr;
  char arenaFill = 0;
};

class Load : public bg::Interface {
 public:
  Load() { strcpy(m_name, soak::kComponent); }

  bool init() override { return true; }

  bool initExtend() override {
    if (!m_threads.empty()) return true;
    m_stop = false;
    m_pipeMessages = 0;
    const char* pipe = getenv(soak::kPipeVariable);
    m_server = pipe != nullptr ? bg::pi::listen_pipe(pipe, 2, onPipe, this) : nullptr;
    if (m_server == nullptr) fail("serving the pipe");
    for (int t = 0; t < kThreads; ++t) m_threads.emplace_back([this, t] { run(t); });
    return true;
  }

  bool uninit() override {
    m_stop = true;
    for (std::thread& t : m_threads) t.join();
    m_threads.clear();
    bg::pi::destroy_pipe_server(&m_server);
    return true;
  }

  bg::Value process(const char* /*from*/, BridgeMsg msg) override {
    if (msg.cmd != soak::kCmdReport) return bg::Value("load here");
    std::lock_guard<std::mutex> hold(m_lock);
    std::string report = std::to_string(m_ops.load()) + " " + std::to_string(m_failures.load()) + " " +
                         std::to_string(m_pipeMessages.load()) + " " + m_firstFailure;
    return bg::Value(report.c_str());
  }

 private:
  bool stopping() { return m_stop || m_threadPool->isAborting(); }

  void fail(const std::string& what) {
    ++m_failures;
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_firstFailure.empty()) m_firstFailure = what;
  }

  void check(bool ok, const char* what) {
    if (ok) {
      ++m_ops;
    } else if (!stopping()) {
      fail(what);
    }
  }

  void run(int t) {
    Lane& lane = m_lanes[t];
    {
      std::lock_guard<std::mutex> hold(m_lock);
      lane.arena = m_memPool->createPool(4096);
    }
    check(lane.arena != nullptr, "arena creation");
    for (int round = 0; lane.arena != nullptr && !stopping(); ++round) {
      callComponents();
      useTheBus(t, round, &lane);
      passThroughAChannel(t, round);
      abortABlockedReader(t);
      runAJob(&lane);
      cycleTheArena(&lane);
      std::this_thread::sleep_for(kRest);
    }
    std::lock_guard<std::mutex> hold(m_lock);
    if (lane.arena != nullptr) m_memPool->destroyPool(&lane.arena);
  }

  void callComponents() {
    BridgeMsg msg = {7, 0, "soak", 0, 0};
    check(bg::CD->call("display", msg).toStdString() == "shown", "call to display");
    check(bg::CD->call("sensor", msg).toStdString() == "sensor here", "call to sensor");
  }

  static void countHeard(const char*, const bg::Value*, ListenerRecord* rec) {
    ++reinterpret_cast<Lane*>(rec->user[0])->heard;
  }

  static void countAndLeave(const char* key, const bg::Value* v, ListenerRecord* rec) {
    countHeard(key, v, rec);
    reinterpret_cast<bg::Data*>(rec->user[1])->unregistListener(key, rec->id);
  }

  // A listener hears one set and no more once removed; one that removes
  // itself hears exactly one. The display hears the temperature too.
  void useTheBus(int t, int round, Lane* lane) {
    std::string key = "soak.bus." + std::to_string(t);
    ListenerRecord rec = {};
    rec.callback = countHeard;
    rec.user[0] = reinterpret_cast<intptr_t>(lane);
    ListenerRecord once = rec;
    once.callback = countAndLeave;
    once.user[1] = reinterpret_cast<intptr_t>(m_data);
    int heard = lane->heard;
    int id = m_data->registListener(key.c_str(), &rec);
    check(m_data->registListener(key.c_str(), &once) > 0, "listener registration");
    check(m_data->setDataNotify(key.c_str(), bg::Value(round), true), "bus set");
    check(m_data->setDataNotify(key.c_str(), bg::Value(round + 1), true), "bus set");
    check(m_data->unregistListener(key.c_str(), id), "listener removal");
    check(m_data->setDataNotify(key.c_str(), bg::Value(round + 2), true), "bus set");
    check(lane->heard == heard + 3, "listeners heard the sets");
    check(m_data->getData(key.c_str(), bg::Value()).toInt() == round + 2, "bus value");
    check(m_data->setDataNotify("demo.temperature", bg::Value(20.0 + round % 10), true), "temperature set");
  }

  // A reader blocks in read() until the writer's message comes.
  void passThroughAChannel(int t, int round) {
    std::string name = "soak.channel." + std::to_string(t);
    bg::Abstract_Channel* mine = m_channelMgr->createChannel(name.c_str());
    bg::Abstract_Channel* theirs = mine != nullptr ? m_channelMgr->openChannel(name.c_str()) : nullptr;
    check(theirs != nullptr, "channel open");
    if (theirs == nullptr) {
      if (mine != nullptr) m_channelMgr->releaseChannel(&mine);
      return;
    }
    std::string sent = "reading " + std::to_string(round);
    std::string got;
    std::thread reader([&] {
      char buf[64];
      int n = theirs->read(buf, sizeof(buf));
      if (n > 0) got.assign(buf, static_cast<size_t>(n));
    });
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    check(mine->write(sent.data(), static_cast<int>(sent.size())) == static_cast<int>(sent.size()),
          "channel write");
    reader.join();
    check(got == sent, "channel message");
    m_channelMgr->releaseChannel(&theirs);
    m_channelMgr->releaseChannel(&mine);
  }

  // A reader blocked on a channel nobody writes to returns 0 once it is aborted.
  void abortABlockedReader(int t) {
    std::string name = "soak.silent." + std::to_string(t);
    bg::Abstract_Channel* mine = m_channelMgr->createChannel(name.c_str());
    check(mine != nullptr, "channel creation");
    if (mine == nullptr) return;
    bg::Abstract_Channel* end = mine->peer();
    int result = -1;
    std::thread reader([&] {
      char buf[8];
      result = end->read(buf, sizeof(buf));
    });
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    mine->abort();
    reader.join();
    check(result == 0, "aborted reader");
    mine->destroy(&end);
    m_channelMgr->releaseChannel(&mine);
  }

  static void job(void* arg) { ++static_cast<Lane*>(arg)->jobsDone; }

  void runAJob(Lane* lane) {
    int before = lane->jobsDone;
    bool queued = m_threadPool->addTask(job, lane);
    check(queued, "pool job queued");
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (queued && lane->jobsDone == before && !stopping() && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    if (queued) check(lane->jobsDone == before + 1, "pool job ran");
  }

  // Small blocks, one big allocation given back early, then a reset; and a
  // pool of its own made and destroyed.
  void cycleTheArena(Lane* lane) {
    bg::Abstract_MemPool* arena = lane->arena;
    bool ok = true;
    for (int i = 0; i < 64; ++i) {
      char* p = static_cast<char*>(arena->alloc(16 + i * 8));
      ok = ok && p != nullptr;
      if (p != nullptr) memset(p, ++lane->arenaFill, 16);
    }
    void* big = arena->alloc(64 * 1024);
    ok = ok && big != nullptr && arena->dealloc(big) == 1;
    arena->reset();
    bg::Abstract_MemPool* own = arena->createPool(1024);
    ok = ok && own != nullptr && own->alloc(100) != nullptr;
    if (own != nullptr) arena->destroyPool(&own);
    check(ok, "arena cycle");
  }

  static void onPipe(bg::pi::INamedPipe* pipe, void* self) {
    Load* load = static_cast<Load*>(self);
    try {
      for (;;) {
        std::string msg = pipe->ReadString();
        load->check(msg.compare(0, strlen(soak::kPipeGreeting), soak::kPipeGreeting) == 0, "pipe message");
        ++load->m_pipeMessages;
      }
    } catch (const std::exception&) {
    }
    bg::pi::destroy_pipe_client(&pipe);
  }

  std::atomic<bool> m_stop{false};
  std::vector<std::thread> m_threads;
  Lane m_lanes[kThreads];
  bg::pi::INamedPipeServer* m_server = nullptr;
  std::atomic<unsigned long long> m_ops{0};
  std::atomic<unsigned long long> m_failures{0};
  std::atomic<unsigned long long> m_pipeMessages{0};
  // Guards the first failure, and the arena of our own that the threads make pools from.
  std::mutex m_lock;
  std::string m_firstFailure;
};

}  // namespace

KQ_MODULE_EXPORT bg::Interface* get_component(bg::Interface* /*cd*/) {
  static Load load;
  return &load;
}
