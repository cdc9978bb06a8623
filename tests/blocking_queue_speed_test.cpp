// What the fast paths of the blocking queue could break: messages that outgrow
// or straddle its reused buffers, handovers between writers and readers that
// sleep or time out, abort with a batch in hand, CPU burnt while waiting.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "concurrency/blocking_io.h"
#include "support/test_support.h"

namespace {

// Message `seq` of a run: a size from the table and bytes that name it.
std::string message(int seq) {
  static const int kSizes[] = {0, 1, 63, 64, 1019, 1020, 4096, 70000, 5, 300000};
  std::string m(kSizes[seq % 10], '\0');
  for (size_t i = 0; i < m.size(); ++i) m[i] = static_cast<char>(seq * 31 + i);
  return m;
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

TEST(BlockingQueueSpeed, AbortWithABatchInHandEndsTakes) {
  bg::Reader_IO q;
  for (int i = 0; i < 100; ++i) q.write(&i, sizeof(i));
  int v = -1;
  ASSERT_EQ(q.read(&v, sizeof(v)), 4);  // the reader now holds the other 99
  q.abort();
  EXPECT_EQ(q.read(&v, sizeof(v)) + q.timedRead(&v, sizeof(v), 1000) + v, 0);
}

// A reader asleep when a large message comes, and with it the abort and the
// queue's deletion, still takes the whole message: the destructor waits for
// it to leave.
TEST(BlockingQueueSpeed, DeletingAnAbortedQueueWaitsForItsReader) {
  std::string want = message(9);
  while (want.size() < (32u << 20)) want += want;
  std::string got(want.size(), '\0');
  auto* q = new bg::Reader_IO;
  std::atomic<int> tid{0};
  int n = -1;
  std::thread reader([&] {
    tid = kqtest::threadId();
    n = q->read(&got[0], static_cast<int>(got.size()));
  });
  EXPECT_TRUE(kqtest::waitFor([&] { return tid != 0 && kqtest::isAsleep(tid); }));
  q->write(want.data(), static_cast<int>(want.size()));
  q->abort();
  delete q;
  reader.join();
  EXPECT_EQ(n, static_cast<int>(want.size()));
  EXPECT_TRUE(got == want);
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
    double start = kqtest::threadCpuMs();
    q.timedRead(buf, sizeof(buf), 1000);
    timedMs = kqtest::threadCpuMs() - start;
    start = kqtest::threadCpuMs();
    q.read(buf, sizeof(buf));
    blockedMs = kqtest::threadCpuMs() - start;
  });
  for (int i = 0; i < 20000; ++i) q.write("ping", 4);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  q.abort();
  reader.join();
  EXPECT_LT(timedMs, 10.0);
  EXPECT_LT(blockedMs, 10.0);
}

}  // namespace
