#include "concurrency/blocking_io.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

double secondsSince(steady_clock::time_point start) {
  return std::chrono::duration<double>(steady_clock::now() - start).count();
}

TEST(BlockingIO, MessagesKeepTheirBoundariesAndOrder) {
  bg::Reader_IO q;
  EXPECT_EQ(q.write("hello", 5), 5);
  EXPECT_EQ(q.write("world!", 6), 6);
  EXPECT_EQ(q.write("x", 1), 1);
  char buf[16] = {};
  EXPECT_EQ(q.read(buf, 3), 3);
  EXPECT_EQ(std::string(buf, 3), "hel");
  EXPECT_EQ(q.read(buf, sizeof(buf)), 6);
  EXPECT_EQ(std::string(buf, 6), "world!");
  EXPECT_EQ(q.timedRead(buf, sizeof(buf), 1000), 1);
  EXPECT_EQ(buf[0], 'x');
}

TEST(BlockingIO, BinaryMessagesArriveWhole) {
  bg::Writer_IO q;
  const char data[] = {'a', '\0', 'b', '\0'};
  EXPECT_EQ(q.write(data, 4), 4);
  char buf[8];
  ASSERT_EQ(q.read(buf, sizeof(buf)), 4);
  EXPECT_EQ(memcmp(buf, data, 4), 0);
}

TEST(BlockingIO, EmptyMessageIsOneMessage) {
  bg::Reader_IO q;
  q.write("", 0);
  q.write("", 0);
  q.write("next", 4);
  char buf[8];
  memset(buf, '#', sizeof(buf));
  EXPECT_EQ(q.read(buf, sizeof(buf)), 0);
  EXPECT_EQ(q.timedRead(buf, sizeof(buf), 100), 0);
  EXPECT_EQ(buf[0], '#');
  EXPECT_EQ(q.read(buf, sizeof(buf)), 4);
  EXPECT_EQ(std::string(buf, 4), "next");
}

TEST(BlockingIO, AbortDropsWritesAndEndsTakesAtOnce) {
  bg::Reader_IO q;
  q.write("queued", 6);
  EXPECT_FALSE(q.isAborted());
  q.abort();
  EXPECT_TRUE(q.isAborted());
  q.abort();
  EXPECT_TRUE(q.isAborted());
  EXPECT_EQ(q.write("late", 4), 4);
  char buf[8];
  auto start = steady_clock::now();
  EXPECT_EQ(q.read(buf, sizeof(buf)), 0);
  EXPECT_EQ(q.timedRead(buf, sizeof(buf), 5000), 0);
  EXPECT_LT(secondsSince(start), 2.0);
}

TEST(BlockingIO, AbortWakesEveryBlockedReader) {
  bg::Reader_IO q;
  const int kReaders = 4;
  std::atomic<int> returned{0};
  std::atomic<int> bytes{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < kReaders; ++i) {
    readers.emplace_back([&, i] {
      char buf[8];
      int n = i % 2 == 0 ? q.read(buf, sizeof(buf)) : q.timedRead(buf, sizeof(buf), 60000);
      bytes.fetch_add(n);
      returned.fetch_add(1);
    });
  }
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(returned.load(), 0);
  auto start = steady_clock::now();
  q.abort();
  for (auto& t : readers) t.join();
  EXPECT_LT(secondsSince(start), 10.0);
  EXPECT_EQ(returned.load(), kReaders);
  EXPECT_EQ(bytes.load(), 0);
}

TEST(BlockingIO, TimedReadHonoursItsDeadline) {
  bg::Reader_IO q;
  char buf[8];
  auto start = steady_clock::now();
  EXPECT_EQ(q.timedRead(buf, sizeof(buf), 0), 0);
  EXPECT_LT(secondsSince(start), 0.5);

  start = steady_clock::now();
  EXPECT_EQ(q.timedRead(buf, sizeof(buf), 1500), 0);
  double waited = secondsSince(start);
  EXPECT_GE(waited, 1.4);
  EXPECT_LT(waited, 10.0);
}

TEST(BlockingIO, TimedReadReturnsAsSoonAsAMessageArrives) {
  bg::Reader_IO q;
  std::thread writer([&] {
    std::this_thread::sleep_for(milliseconds(100));
    q.write("late", 4);
  });
  char buf[8];
  auto start = steady_clock::now();
  EXPECT_EQ(q.timedRead(buf, sizeof(buf), 20000), 4);
  EXPECT_LT(secondsSince(start), 10.0);
  writer.join();
}

// The last holder aborts and deletes at once; readers that were blocked must
// have left before the queue's memory goes (checked by the sanitizers). The
// readers are given ample time to block: a read that only starts after the
// delete would be the caller's fault.
TEST(BlockingIO, DeleteRightAfterAbortWaitsForWokenReaders) {
  for (int round = 0; round < 5; ++round) {
    bg::Blocking_IO* q = new bg::Reader_IO();
    std::atomic<int> started{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
      readers.emplace_back([&] {
        started.fetch_add(1);
        char buf[4];
        q->read(buf, sizeof(buf));
      });
    }
    while (started.load() < 3) std::this_thread::yield();
    std::this_thread::sleep_for(milliseconds(150));
    q->abort();
    delete q;
    for (auto& t : readers) t.join();
  }
}

TEST(BlockingIO, ConcurrentReadersShareTheMessagesExactlyOnce) {
  const int kMessages = 20000;
  bg::Writer_IO q;
  std::vector<std::atomic<int>> seen(kMessages);
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      for (;;) {
        int id = -1;
        if (q.read(&id, sizeof(id)) != sizeof(id) || id < 0) return;
        seen[id].fetch_add(1);
      }
    });
  }
  for (int i = 0; i < kMessages; ++i) q.write(&i, sizeof(i));
  int stop = -1;
  for (int r = 0; r < 3; ++r) q.write(&stop, sizeof(stop));
  for (auto& t : readers) t.join();
  int wrong = 0;
  for (auto& s : seen) wrong += s.load() != 1;
  EXPECT_EQ(wrong, 0);
}

}  // namespace
