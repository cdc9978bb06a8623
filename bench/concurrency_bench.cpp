// Channel, thread pool and arena throughput, each beside its anchor.
#include <benchmark/benchmark.h>
#include <blockingconcurrentqueue.h>
#include <unistd.h>

#include <atomic>
#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kqbridge/channel.h"
#include "kqbridge/mem_pool.h"
#include "kqbridge/thread_pool.h"

namespace {

const int kMessages = 200000;
const int kMessageSize = 64;
const int kJobs = 1000000;
const int kWorkers = 5;
const int kPoolSlots = 4096;
const int kAllocs = 1000000;

// Channel: one producer thread, the benchmark thread consumes.

void BM_Channel(benchmark::State& state) {
  for (auto _ : state) {
    bg::Channel end;
    bg::Abstract_Channel* other = end.peer();
    std::thread producer([other] {
      char msg[kMessageSize];
      memset(msg, 'm', sizeof(msg));
      for (int i = 0; i < kMessages; ++i) other->write(msg, sizeof(msg));
    });
    char buf[kMessageSize];
    for (int i = 0; i < kMessages; ++i) benchmark::DoNotOptimize(end.read(buf, sizeof(buf)));
    producer.join();
    delete other;
  }
  state.SetItemsProcessed(state.iterations() * kMessages);
}

void BM_ChannelAnchorMoodycamel(benchmark::State& state) {
  for (auto _ : state) {
    moodycamel::BlockingConcurrentQueue<std::string> queue;
    std::thread producer([&queue] {
      char msg[kMessageSize];
      memset(msg, 'm', sizeof(msg));
      for (int i = 0; i < kMessages; ++i) queue.enqueue(std::string(msg, sizeof(msg)));
    });
    char buf[kMessageSize];
    std::string item;
    for (int i = 0; i < kMessages; ++i) {
      queue.wait_dequeue(item);
      memcpy(buf, item.data(), item.size() < sizeof(buf) ? item.size() : sizeof(buf));
      benchmark::DoNotOptimize(buf);
    }
    producer.join();
  }
  state.SetItemsProcessed(state.iterations() * kMessages);
}

bool readFully(int fd, void* buf, size_t len) {
  char* p = static_cast<char*>(buf);
  while (len > 0) {
    ssize_t n = read(fd, p, len);
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

// The same framing as the pipe endpoints: a 32-bit length, then the bytes.
void BM_ChannelAnchorPipe(benchmark::State& state) {
  for (auto _ : state) {
    int fds[2];
    if (pipe(fds) != 0) {
      state.SkipWithError("pipe failed");
      return;
    }
    std::thread producer([fd = fds[1]] {
      char frame[4 + kMessageSize];
      uint32_t len = kMessageSize;
      memcpy(frame, &len, 4);
      memset(frame + 4, 'm', kMessageSize);
      for (int i = 0; i < kMessages; ++i) {
        if (write(fd, frame, sizeof(frame)) != static_cast<ssize_t>(sizeof(frame))) return;
      }
    });
    char buf[kMessageSize];
    for (int i = 0; i < kMessages; ++i) {
      uint32_t len = 0;
      if (!readFully(fds[0], &len, 4) || len > sizeof(buf) || !readFully(fds[0], buf, len)) break;
      benchmark::DoNotOptimize(buf);
    }
    producer.join();
    close(fds[0]);
    close(fds[1]);
  }
  state.SetItemsProcessed(state.iterations() * kMessages);
}

// Thread pool: the benchmark thread adds 1 000 000 jobs (retrying while the
// ring is full) and waits until all of them ran.

std::atomic<int> g_jobsDone{0};

void countJob(void*) {
  g_jobsDone.fetch_add(1, std::memory_order_relaxed);
}

void waitForJobs(int n) {
  while (g_jobsDone.load(std::memory_order_relaxed) < n) std::this_thread::yield();
}

void BM_ThreadPool(benchmark::State& state) {
  bg::Thread_Pool pool;
  pool.init(kWorkers, kPoolSlots);
  for (auto _ : state) {
    g_jobsDone.store(0);
    for (int i = 0; i < kJobs; ++i) {
      while (!pool.addTask(countJob, nullptr)) std::this_thread::yield();
    }
    waitForJobs(kJobs);
  }
  state.SetItemsProcessed(state.iterations() * kJobs);
}

void BM_ThreadPoolAnchorAsio(benchmark::State& state) {
  boost::asio::thread_pool pool(kWorkers);
  for (auto _ : state) {
    g_jobsDone.store(0);
    for (int i = 0; i < kJobs; ++i) boost::asio::post(pool, [] { countJob(nullptr); });
    waitForJobs(kJobs);
  }
  pool.join();
  state.SetItemsProcessed(state.iterations() * kJobs);
}

// Arena: 1 000 000 requests of 64 bytes, then one reset. Trace lines are
// turned off with a negative descriptor. Arg 0: one block large enough for
// every request, reused by each reset; other args: a fresh pool of that block
// size per round, so block allocation is counted too.

void BM_MemPool(benchmark::State& state) {
  unsigned blockSize = static_cast<unsigned>(state.range(0));
  if (blockSize == 0) {
    bg::Mem_Pool pool(kAllocs * 64 + 4096);
    pool.setLog(-1);
    for (auto _ : state) {
      for (int i = 0; i < kAllocs; ++i) benchmark::DoNotOptimize(pool.alloc(64));
      pool.reset();
    }
  } else {
    for (auto _ : state) {
      bg::Mem_Pool pool(blockSize);
      pool.setLog(-1);
      for (int i = 0; i < kAllocs; ++i) benchmark::DoNotOptimize(pool.alloc(64));
      pool.reset();
    }
  }
  state.SetItemsProcessed(state.iterations() * kAllocs);
}

void BM_MemPoolAnchorMalloc(benchmark::State& state) {
  std::vector<void*> held(kAllocs);
  for (auto _ : state) {
    for (int i = 0; i < kAllocs; ++i) {
      held[i] = malloc(64);
      benchmark::DoNotOptimize(held[i]);
    }
    for (int i = 0; i < kAllocs; ++i) free(held[i]);
  }
  state.SetItemsProcessed(state.iterations() * kAllocs);
}

void BM_MemPoolAnchorMallocFreePairs(benchmark::State& state) {
  for (auto _ : state) {
    for (int i = 0; i < kAllocs; ++i) {
      void* p = malloc(64);
      benchmark::DoNotOptimize(p);
      free(p);
    }
  }
  state.SetItemsProcessed(state.iterations() * kAllocs);
}

}  // namespace

BENCHMARK(BM_Channel)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ChannelAnchorMoodycamel)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ChannelAnchorPipe)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ThreadPool)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ThreadPoolAnchorAsio)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_MemPool)->Arg(0)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MemPoolAnchorMalloc)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MemPoolAnchorMallocFreePairs)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
