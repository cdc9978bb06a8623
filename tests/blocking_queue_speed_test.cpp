// What the fast paths of the blocking queue could break: messages that outgrow
// or straddle its reused buffers, handovers between writers and readers that
// sleep or time out, abort with a batch in hand, CPU burnt while waiting.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "concurrency/blocking_io.h"

namespace {

// Message `seq` of a run: a size from the table and bytes that name it.
std::string message(int seq) {
  static const int kSizes[] = {0, 1, 63, 64, 1019, 1020, 4096, 70000, 5, 300000};
  std::string m(kSizes[seq % 10], '\0');
  for (size_t i = 0; i < m.size(); ++i) m[i] = static_cast<char>(seq * 31 + i);
  return m;
}

double threadCpuMs() {
  rusage ru;
  getrusage(RUSAGE_THREAD, &ru);
  return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
}

TEST(BlockingQueueSpeed, MixedSizesArriveWholeAndTruncatedAsAsked) {
  const int kMessages = 400;
  bg::Reader_IO q;
  std::thread writer([&] {
    for (int i = 0; i < kMessages; ++i) {
      std::string m = message(i);
      q.write(m.data(), static_cast<int>(m.size()));
      if (i % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::string buf(300000, '\0');
  for (int i = 0; i < kMessages; ++i) {
    std::string want = message(i);
    int room = i % 3 == 0 ? 64 : static_cast<int>(buf.size());  // every third read is short
    int n = i % 2 == 0 ? q.read(&buf[0], room) : q.timedRead(&buf[0], room, 20000);
    ASSERT_EQ(n, std::min(room, static_cast<int>(want.size()))) << "message " << i;
    ASSERT_EQ(buf.compare(0, n, want, 0, n), 0) << "message " << i;
  }
  writer.join();
}

// Writers keep their own order; readers that time out often, and readers
// that sleep, together take every message exactly once and never hang.
TEST(BlockingQueueSpeed, ManyWritersAndSleepyReadersLoseNothing) {
  const int kWriters = 3, kPerWriter = 3000, kReaders = 3;
  bg::Writer_IO q;
  std::atomic<int> taken{0}, outOfOrder{0};
  std::vector<std::thread> threads;
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&, r] {
      int last[kWriters] = {-1, -1, -1};  // what one reader takes of a writer's comes in order
      for (;;) {
        int rec[2];
        int n = r == 0 ? q.read(rec, sizeof(rec)) : q.timedRead(rec, sizeof(rec), 1);
        if (n == 0) continue;
        if (rec[0] < 0) break;
        if (rec[1] <= last[rec[0]]) outOfOrder.fetch_add(1);
        last[rec[0]] = rec[1];
        taken.fetch_add(1);
      }
    });
  }
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < kPerWriter; ++i) {
        int rec[2] = {w, i};
        q.write(rec, sizeof(rec));
        if (i % 100 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  for (size_t t = kReaders; t < threads.size(); ++t) threads[t].join();
  int stop[2] = {-1, 0};
  for (int r = 0; r < kReaders; ++r) q.write(stop, sizeof(stop));
  for (int r = 0; r < kReaders; ++r) threads[r].join();
  EXPECT_EQ(taken.load(), kWriters * kPerWriter);
  EXPECT_EQ(outOfOrder.load(), 0);
}

TEST(BlockingQueueSpeed, AbortWithABatchInHandEndsTakes) {
  bg::Reader_IO q;
  for (int i = 0; i < 100; ++i) q.write(&i, sizeof(i));
  int v = -1;
  ASSERT_EQ(q.read(&v, sizeof(v)), 4);  // the reader now holds the other 99
  q.abort();
  EXPECT_EQ(q.read(&v, sizeof(v)) + q.timedRead(&v, sizeof(v), 1000) + v, 0);
}

// A reader that has just seen messages come quickly, then waits on an empty
// queue, sleeps rather than polls: a blocking read ended by abort() and a
// timed read that runs out each cost well under 10 ms of CPU per second.
TEST(BlockingQueueSpeed, WaitingReadersSleep) {
  bg::Reader_IO q;
  double blockedMs = -1, timedMs = -1;
  std::thread reader([&] {
    char buf[8];
    for (int i = 0; i < 20000; ++i) q.read(buf, sizeof(buf));
    double start = threadCpuMs();
    q.timedRead(buf, sizeof(buf), 1000);
    timedMs = threadCpuMs() - start;
    start = threadCpuMs();
    q.read(buf, sizeof(buf));
    blockedMs = threadCpuMs() - start;
  });
  for (int i = 0; i < 20000; ++i) q.write("ping", 4);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  q.abort();
  reader.join();
  EXPECT_LT(timedMs, 10.0);
  EXPECT_LT(blockedMs, 10.0);
}

}  // namespace
