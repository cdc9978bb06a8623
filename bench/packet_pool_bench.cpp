// Packet pool throughput, one producer thread to the benchmark thread, and
// node recycling; each beside its anchors.
#include <benchmark/benchmark.h>
#include <blockingconcurrentqueue.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "kqbridge/packet_pool.h"

namespace {

const int kOps = 1000000;

// Fewer large packets per round, so a producer running ahead of the consumer
// cannot queue more than a few hundred megabytes.
int packetsFor(int size) {
  return size > 1024 ? 50000 : 200000;
}

// What every packet is filled with.
const char* payload() {
  static std::vector<char> bytes(4096, 'p');
  return bytes.data();
}

// The producer takes a node, fills it and pushes it; the consumer pops,
// touches and releases it.
void BM_PacketPool(benchmark::State& state) {
  int size = static_cast<int>(state.range(0));
  int packets = packetsFor(size);
  const char* src = payload();
  pp::FLPacketPool pool;
  for (auto _ : state) {
    std::thread producer([&] {
      for (int i = 0; i < packets; ++i) {
        pp::FLMemNode* n = pool.getNode(size);
        memcpy(n->data, src, static_cast<size_t>(size));
        pool.push(n);
      }
    });
    for (int i = 0; i < packets; ++i) {
      pp::FLMemNode* n = nullptr;
      pool.pop(&n, true);
      benchmark::DoNotOptimize(n->data[size - 1]);
      pp::release_pnode(&n);
    }
    producer.join();
  }
  state.SetItemsProcessed(state.iterations() * packets);
}

// The same work with a locked deque of byte vectors.
void BM_PacketPoolAnchorDeque(benchmark::State& state) {
  int size = static_cast<int>(state.range(0));
  int packets = packetsFor(size);
  const char* src = payload();
  for (auto _ : state) {
    std::mutex lock;
    std::condition_variable notEmpty;
    std::deque<std::vector<char>> queue;
    std::thread producer([&] {
      for (int i = 0; i < packets; ++i) {
        std::vector<char> packet(src, src + size);
        {
          std::lock_guard<std::mutex> hold(lock);
          queue.push_back(std::move(packet));
        }
        notEmpty.notify_one();
      }
    });
    for (int i = 0; i < packets; ++i) {
      std::vector<char> packet;
      {
        std::unique_lock<std::mutex> hold(lock);
        notEmpty.wait(hold, [&] { return !queue.empty(); });
        packet = std::move(queue.front());
        queue.pop_front();
      }
      benchmark::DoNotOptimize(packet[size - 1]);
    }
    producer.join();
  }
  state.SetItemsProcessed(state.iterations() * packets);
}

// The same nodes carried by a lock-free queue instead of the pool's own.
void BM_PacketPoolAnchorMoodycamel(benchmark::State& state) {
  int size = static_cast<int>(state.range(0));
  int packets = packetsFor(size);
  const char* src = payload();
  pp::FLPacketPool pool;
  for (auto _ : state) {
    moodycamel::BlockingConcurrentQueue<pp::FLMemNode*> queue;
    std::thread producer([&] {
      for (int i = 0; i < packets; ++i) {
        pp::FLMemNode* n = pool.getNode(size);
        memcpy(n->data, src, static_cast<size_t>(size));
        queue.enqueue(n);
      }
    });
    for (int i = 0; i < packets; ++i) {
      pp::FLMemNode* n = nullptr;
      queue.wait_dequeue(n);
      benchmark::DoNotOptimize(n->data[size - 1]);
      pp::release_pnode(&n);
    }
    producer.join();
  }
  state.SetItemsProcessed(state.iterations() * packets);
}

void BM_GetNodeRelease(benchmark::State& state) {
  int size = static_cast<int>(state.range(0));
  pp::FLPacketPool pool;
  for (auto _ : state) {
    for (int i = 0; i < kOps; ++i) {
      pp::FLMemNode* n = pool.getNode(size);
      benchmark::DoNotOptimize(n->data);
      pp::release_pnode(&n);
    }
  }
  state.SetItemsProcessed(state.iterations() * kOps);
}

void BM_GetNodeReleaseAnchorMalloc(benchmark::State& state) {
  size_t size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    for (int i = 0; i < kOps; ++i) {
      void* p = malloc(size);
      benchmark::DoNotOptimize(p);
      free(p);
    }
  }
  state.SetItemsProcessed(state.iterations() * kOps);
}

}  // namespace

BENCHMARK(BM_PacketPool)->Arg(64)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_PacketPoolAnchorDeque)
    ->Arg(64)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);
BENCHMARK(BM_PacketPoolAnchorMoodycamel)
    ->Arg(64)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);
BENCHMARK(BM_GetNodeRelease)->Arg(64)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
BENCHMARK(BM_GetNodeReleaseAnchorMalloc)
    ->Arg(64)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5);

BENCHMARK_MAIN();
