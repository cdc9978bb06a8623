// Channel throughput and round-trip latency, thread pool and arena throughput,
// each beside its anchor.
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

const int kMessageSize = 64;
const int kMessageBytes = 12800000;  // per round, whatever the message size
const int kRoundTrips = 20000;
const int kJobs = 1000000;
const int kWorkers = 5;
const int kPoolSlots = 4096;
const int kAllocs = 1000000;

// Channel: arg 0 is the message size, arg 1 the number of producer threads
// (each writing through its own handle); the benchmark thread consumes.

int messagesPerRound(int size) {
  return kMessageBytes / size;
}

void BM_Channel(benchmark::State& state) {
  int size = static_cast<int>(state.range(0));
  int producers = static_cast<int>(state.range(1));
  int messages = messagesPerRound(size) / producers * producers;
  for (auto _ : state) {
    bg::Channel end;
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
      threads.emplace_back([other = end.peer(), size, n = messages / producers] {
        std::string msg(size, 'm');
        for (int i = 0; i < n; ++i) other->write(msg.data(), size);
        delete other;
      });
    }
    std::string buf(size, '\0');
    for (int i = 0; i < messages; ++i) benchmark::DoNotOptimize(end.read(&buf[0], size));
    for (auto& t : threads) t.join();
  }
  state.SetItemsProcessed(state.iterations() * messages);
}

void BM_ChannelAnchorMoodycamel(benchmark::State& state) {
  int size = static_cast<int>(state.range(0));
  int producers = static_cast<int>(state.range(1));
  int messages = messagesPerRound(size) / producers * producers;
  for (auto _ : state) {
    moodycamel::BlockingConcurrentQueue<std::string> queue;
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
      threads.emplace_back([&queue, size, n = messages / producers] {
        std::string msg(size, 'm');
        for (int i = 0; i < n; ++i) queue.enqueue(std::string(msg.data(), size));
      });
    }
    std::string buf(size, '\0');
    std::string item;
    for (int i = 0; i < messages; ++i) {
      queue.wait_dequeue(item);
      memcpy(&buf[0], item.data(), item.size() < buf.size() ? item.size() : buf.size());
      benchmark::DoNotOptimize(buf);
    }
    for (auto& t : threads) t.join();
  }
  state.SetItemsProcessed(state.iterations() * messages);
}

// Latency: one message there and one back between two threads, over the two
// queues of one channel (one per direction) and over two moodycamel queues.

void BM_ChannelPingPong(benchmark::State& state) {
  bg::Channel end;
  bg::Abstract_Channel* other = end.peer();
  std::thread echo([other] {
    char buf[kMessageSize];
    for (;;) {
      int n = other->read(buf, sizeof(buf));
      if (n == 0) return;
      other->write(buf, n);
    }
  });
  char msg[kMessageSize];
  memset(msg, 'p', sizeof(msg));
  for (auto _ : state) {
    for (int i = 0; i < kRoundTrips; ++i) {
      end.write(msg, sizeof(msg));
      benchmark::DoNotOptimize(end.read(msg, sizeof(msg)));
    }
  }
  end.write(msg, 0);
  echo.join();
  delete other;
  state.SetItemsProcessed(state.iterations() * kRoundTrips);
}

void BM_ChannelPingPongAnchorMoodycamel(benchmark::State& state) {
  moodycamel::BlockingConcurrentQueue<std::string> there;
  moodycamel::BlockingConcurrentQueue<std::string> back;
  std::thread echo([&] {
    std::string item;
    for (;;) {
      there.wait_dequeue(item);
      if (item.empty()) return;
      back.enqueue(std::string(item.data(), item.size()));
    }
  });
  char msg[kMessageSize];
  memset(msg, 'p', sizeof(msg));
  std::string item;
  for (auto _ : state) {
    for (int i = 0; i < kRoundTrips; ++i) {
      there.enqueue(std::string(msg, sizeof(msg)));
      back.wait_dequeue(item);
      memcpy(msg, item.data(), item.size() < sizeof(msg) ? item.size() : sizeof(msg));
    }
  }
  there.enqueue(std::string());
  echo.join();
  state.SetItemsProcessed(state.iterations() * kRoundTrips);
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
  int messages = messagesPerRound(kMessageSize);
  for (auto _ : state) {
    int fds[2];
    if (pipe(fds) != 0) {
      state.SkipWithError("pipe failed");
      return;
    }
    std::thread producer([fd = fds[1], messages] {
      char frame[4 + kMessageSize];
      uint32_t len = kMessageSize;
      memcpy(frame, &len, 4);
      memset(frame + 4, 'm', kMessageSize);
      for (int i = 0; i < messages; ++i) {
        if (write(fd, frame, sizeof(frame)) != static_cast<ssize_t>(sizeof(frame))) return;
      }
    });
    char buf[kMessageSize];
    for (int i = 0; i < messages; ++i) {
      uint32_t len = 0;
      if (!readFully(fds[0], &len, 4) || len > sizeof(buf) || !readFully(fds[0], buf, len)) break;
      benchmark::DoNotOptimize(buf);
    }
    producer.join();
    close(fds[0]);
    close(fds[1]);
  }
  state.SetItemsProcessed(state.iterations() * messages);
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

BENCHMARK(BM_Channel)
    ->Args({64, 1})
    ->Args({4096, 1})
    ->Args({64, 4})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);
BENCHMARK(BM_ChannelAnchorMoodycamel)
    ->Args({64, 1})
    ->Args({4096, 1})
    ->Args({64, 4})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);
BENCHMARK(BM_ChannelAnchorPipe)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ChannelPingPong)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ChannelPingPongAnchorMoodycamel)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ThreadPool)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ThreadPoolAnchorAsio)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_MemPool)->Arg(0)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MemPoolAnchorMalloc)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MemPoolAnchorMallocFreePairs)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
