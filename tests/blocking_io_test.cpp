#include "concurrency/blocking_io.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using std::chrono::steady_clock;

double secondsSince(steady_clock::time_point start) {
  return std::chrono::duration<double>(steady_clock::now() - start).count();
}

TEST(BlockingIO, MessagesKeepTheirBoundariesOrderAndBytes) {
  bg::Reader_IO q;
  const char binary[] = {'a', '\0', 'b', '\0'};
  for (auto m : {std::string("hello"), std::string("world!"), std::string(), std::string(binary, 4)})
    EXPECT_EQ(q.write(m.data(), static_cast<int>(m.size())), static_cast<int>(m.size()));
  char buf[16];
  EXPECT_EQ(q.read(buf, 3), 3) << "a short buffer takes the start of one message";
  EXPECT_EQ(std::string(buf, 3), "hel");
  EXPECT_EQ(q.read(buf, sizeof(buf)), 6);
  EXPECT_EQ(std::string(buf, 6), "world!");
  EXPECT_EQ(q.timedRead(buf, sizeof(buf), 1000), 0) << "an empty message is one message";
  EXPECT_EQ(q.read(buf, sizeof(buf)), 4);
  EXPECT_EQ(memcmp(buf, binary, 4), 0);
}

TEST(BlockingIO, AbortDropsWritesAndWakesEveryReaderAtOnce) {
  bg::Writer_IO q;
  std::atomic<int> bytes{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&, i] {
      char buf[8];
      bytes.fetch_add(i % 2 == 0 ? q.read(buf, sizeof(buf)) : q.timedRead(buf, sizeof(buf), 60000));
    });
  }
  auto start = steady_clock::now();
  q.abort();
  for (auto& t : readers) t.join();
  EXPECT_LT(secondsSince(start), 10.0);
  EXPECT_EQ(bytes.load(), 0);
  EXPECT_TRUE(q.isAborted());
  EXPECT_EQ(q.write("late", 4), 4);
  char buf[8];
  EXPECT_EQ(q.read(buf, sizeof(buf)), 0);
}

TEST(BlockingIO, TimedReadHonoursItsDeadlineAndReturnsOnArrival) {
  bg::Reader_IO q;
  char buf[8];
  auto start = steady_clock::now();
  EXPECT_EQ(q.timedRead(buf, sizeof(buf), 1500), 0);
  EXPECT_GE(secondsSince(start), 1.4);
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    q.write("late", 4);
  });
  start = steady_clock::now();
  EXPECT_EQ(q.timedRead(buf, sizeof(buf), 30000), 4);
  EXPECT_LT(secondsSince(start), 10.0);
  writer.join();
}

// The last holder aborts and deletes at once; readers that were blocked must
// have left before the queue's memory goes (checked by the sanitizers). A
// read that only starts after the delete would be the caller's fault, so the
// readers get ample time to block.
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
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
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
      for (int id = -1; q.read(&id, sizeof(id)) == sizeof(id) && id >= 0;) seen[id].fetch_add(1);
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
