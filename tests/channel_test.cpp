#include "kqbridge/channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace {

std::string readText(bg::Abstract_Channel* end, unsigned timeoutMs = 5000) {
  char buf[64];
  int n = end->timedRead(buf, sizeof(buf), timeoutMs);
  return std::string(buf, n > 0 ? n : 0);
}

TEST(Channel, PeersTalkBothWaysInWholeMessagesAndClonesShareAnEnd) {
  bg::Channel a;
  std::unique_ptr<bg::Abstract_Channel> b(a.peer());
  std::unique_ptr<bg::Abstract_Channel> c(a.clone());
  std::unique_ptr<bg::Abstract_Channel> fresh(a.create());
  fresh->write("elsewhere", 9);
  for (const std::string& m : {std::string("hello"), std::string(), std::string("a\0b", 3)})
    a.write(m.data(), static_cast<int>(m.size()));
  c->write("from clone", 10);
  char buf[16];
  EXPECT_EQ(b->read(buf, 3), 3) << "a short buffer takes the start of one message";
  EXPECT_EQ(b->timedRead(buf, sizeof(buf), 1000), 0) << "an empty message is one message";
  EXPECT_EQ(b->read(buf, sizeof(buf)), 3);
  EXPECT_EQ(std::string(buf, 3), std::string("a\0b", 3));
  EXPECT_EQ(readText(b.get()), "from clone");
  b->write("reply", 5);
  EXPECT_EQ(readText(c.get()), "reply");
  EXPECT_EQ(readText(b.get(), 200), "") << "nothing from the unconnected channel";
}

TEST(Channel, AbortOnOneEndReleasesReadersOnBothSidesAndDropsWrites) {
  bg::Channel a;
  std::unique_ptr<bg::Abstract_Channel> b(a.peer());
  std::unique_ptr<bg::Abstract_Channel> c(a.clone());
  std::vector<std::thread> readers;
  for (bg::Abstract_Channel* end : {static_cast<bg::Abstract_Channel*>(&a), b.get(), c.get()}) {
    readers.emplace_back([end] {
      char buf[8];
      EXPECT_EQ(end->timedRead(buf, sizeof(buf), 60000), 0);
    });
  }
  b->abort();
  for (auto& t : readers) t.join();
  EXPECT_TRUE(a.isAborted() && c->isAborted());
  a.write("x", 1);
  EXPECT_EQ(readText(b.get(), 0), "");
}

// The queues belong to the last end that goes; a reader still blocked on it
// is woken and leaves first (the sanitizers watch the memory).
TEST(Channel, QueuesLiveUntilTheLastEndGoes) {
  bg::Abstract_Channel* a = new bg::Channel();
  bg::Abstract_Channel* b = a->peer();
  bg::Abstract_Channel* c = a->clone();
  delete c;
  b->write("to a", 4);
  EXPECT_EQ(readText(a), "to a");
  a->destroy(&a);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(b->write("nobody", 6), 6);
  std::atomic<bool> started{false};
  std::thread reader([b, &started] {
    char buf[8];
    started.store(true);
    EXPECT_EQ(b->read(buf, sizeof(buf)), 0);
  });
  // A read that only starts after the delete would be the caller's fault.
  kqtest::waitFor([&] { return started.load(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  b->destroy(&b);
  reader.join();
  EXPECT_EQ(b, nullptr);
}

// Ends a manager recorded outlive it (some scenarios keep one on purpose),
// so every scenario with a manager runs in a child process of its own.
void expectInChild(const std::function<int()>& body) {
  kqtest::ChildResult run = kqtest::runChild(body);
  EXPECT_EQ(run.status, 0) << run.err;
}

TEST(ChannelMgr, CreatorsAndOpenersOfANameShareItsQueues) {
  expectInChild([] {
    bg::Channel_Mgr mgr;
    CHILD_CHECK(mgr.openChannel("x") == nullptr && mgr.openChannel(nullptr) == nullptr);
    bg::Abstract_Channel* c1 = mgr.getChannel("x");
    bg::Abstract_Channel* o1 = mgr.getChannel("x");
    bg::Abstract_Channel* c2 = mgr.createChannel("x");
    bg::Abstract_Channel* o2 = mgr.openChannel("x");
    CHILD_CHECK(c1 && o1 && c2 && o2 && c1 != c2 && o1 != o2 && c1 != o1);
    c2->write("2", 1);
    CHILD_CHECK(readText(o1) == "2");
    c1->write("1", 1);
    CHILD_CHECK(readText(o2) == "1");
    o2->write("back", 4);
    CHILD_CHECK(readText(c2) == "back");
    // Names compare as whole byte strings.
    mgr.createChannel("x ")->write("y", 1);
    CHILD_CHECK(readText(o1, 50).empty());
    return 0;
  });
}

TEST(ChannelMgr, ExitAndTheDestructorAbortTheirOwnChannels) {
  expectInChild([] {
    bg::Abstract_Channel* kept;
    {
      bg::Channel_Mgr mgr;
      kept = mgr.createChannel("kept");
    }
    CHILD_CHECK(kept->isAborted());
    bg::Channel_Mgr mgr;
    bg::Abstract_Channel* c = mgr.createChannel("x");
    bg::Abstract_Channel* o = mgr.openChannel("x");
    bg::Abstract_Channel* y = mgr.createChannel("y");
    bg::Abstract_Channel* yClone = y->clone();  // the manager's too, also once y is gone
    mgr.releaseChannel(&y);
    std::thread reader([o, yClone] {
      char buf[8];
      o->read(buf, sizeof(buf));
      yClone->read(buf, sizeof(buf));
    });
    mgr.exit();
    reader.join();
    CHILD_CHECK(c->isAborted() && o->isAborted());
    // An end the manager makes after its exit is aborted once asked.
    bg::Abstract_Channel* late = mgr.createChannel("late");
    char buf[4];
    CHILD_CHECK(late->isAborted() && late->read(buf, sizeof(buf)) == 0);
    bg::Channel fresh;
    CHILD_CHECK(!fresh.isAborted());
    return 0;
  });
}

TEST(ChannelMgr, ReleasedOrDeletedEndsLeaveNoEntryBehind) {
  expectInChild([] {
    bg::Channel_Mgr mgr;
    bg::Abstract_Channel* c = mgr.createChannel("x");
    bg::Abstract_Channel* o = mgr.openChannel("x");
    mgr.releaseChannel(&c);
    CHILD_CHECK(c == nullptr);
    bg::Abstract_Channel* c2 = mgr.createChannel("x");
    bg::Abstract_Channel* o2 = mgr.openChannel("x");
    c2->write("new", 3);
    CHILD_CHECK(readText(o, 50).empty());
    // The opener entry still holds the old end: o2 is its clone.
    o->abort();
    CHILD_CHECK(o2->isAborted() && !c2->isAborted());
    mgr.releaseChannel(nullptr);
    mgr.releaseChannel(&o);
    mgr.releaseChannel(&o2);
    // With the opener entry gone, the next open peers the new creator.
    bg::Abstract_Channel* o3 = mgr.openChannel("y");
    CHILD_CHECK(o3 == nullptr);
    bg::Abstract_Channel* o4 = mgr.openChannel("x");
    CHILD_CHECK(o4 != nullptr && readText(o4) == "new");
    // Deleting recorded ends by other means takes their entries along.
    c2->destroy(&c2);
    delete o4;
    CHILD_CHECK(mgr.openChannel("x") == nullptr);
    bg::Abstract_Channel* again = mgr.createChannel("x");
    bg::Abstract_Channel* peer = mgr.openChannel("x");
    again->write("ok", 2);
    CHILD_CHECK(readText(peer) == "ok");
    return 0;
  });
}

// Producers on clones of one end, consumers on clones of the other.
TEST(ChannelStress, EveryMessageArrivesExactlyOnceInProducerOrder) {
  const int kThreads = 4;
  const int kPerProducer = 50000;
  const int kTotal = kThreads * kPerProducer;
  bg::Channel a;
  std::unique_ptr<bg::Abstract_Channel> b(a.peer());
  std::vector<std::atomic<int>> seen(kTotal);
  std::atomic<int> outOfOrder{0};
  std::vector<std::thread> consumers;
  for (int c = 0; c < kThreads; ++c) {
    consumers.emplace_back([&] {
      std::unique_ptr<bg::Abstract_Channel> end(b->clone());
      std::vector<int> last(kThreads, -1);
      for (int id = -1; end->read(&id, sizeof(id)) == sizeof(id) && id >= 0;) {
        seen[id].fetch_add(1);
        outOfOrder.fetch_add(id <= last[id / kPerProducer] ? 1 : 0);
        last[id / kPerProducer] = id;
      }
    });
  }
  std::vector<std::thread> producers;
  for (int p = 0; p < kThreads; ++p) {
    producers.emplace_back([&, p] {
      std::unique_ptr<bg::Abstract_Channel> end(a.clone());
      for (int id = p * kPerProducer; id < (p + 1) * kPerProducer; ++id) end->write(&id, sizeof(id));
    });
  }
  for (auto& t : producers) t.join();
  int stop = -1;
  for (int c = 0; c < kThreads; ++c) a.write(&stop, sizeof(stop));
  for (auto& t : consumers) t.join();
  int wrong = 0;
  for (int i = 0; i < kTotal; ++i) wrong += seen[i].load() != 1;
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(outOfOrder.load(), 0);
}

// Aborts at random moments while every thread holds and finally deletes its
// own end: nobody hangs, nothing arrives twice, nothing arrives unsent.
TEST(ChannelStress, RandomAbortsNeitherHangNorDuplicate) {
  const int kThreads = 4;
  const int kPerProducer = 20000;
  const int kTotal = kThreads * kPerProducer;
  std::mt19937 random(12345);
  for (int round = 0; round < 10; ++round) {
    bg::Abstract_Channel* a = new bg::Channel();
    bg::Abstract_Channel* b = a->peer();
    std::vector<std::atomic<int>> seen(kTotal);
    std::atomic<int> bogus{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < kThreads; ++c) {
      threads.emplace_back([&, end = b->clone(), c] {
        for (;;) {
          int id = -1;
          int n = c % 2 == 0 ? end->read(&id, sizeof(id)) : end->timedRead(&id, sizeof(id), 20);
          if (n == sizeof(id)) {
            (id < 0 || id >= kTotal) ? bogus.fetch_add(1) : seen[id].fetch_add(1);
          } else if (end->isAborted()) {
            break;
          }
        }
        delete end;
      });
    }
    for (int p = 0; p < kThreads; ++p) {
      threads.emplace_back([&, end = a->clone(), p] {
        for (int i = 0; i < kPerProducer && !end->isAborted(); ++i) {
          int id = p * kPerProducer + i;
          end->write(&id, sizeof(id));
        }
        delete end;
      });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 40));
    (random() % 2 == 0 ? a : b)->abort();
    delete a;
    delete b;
    for (auto& t : threads) t.join();
    int twice = 0;
    for (int i = 0; i < kTotal; ++i) twice += seen[i].load() > 1;
    EXPECT_EQ(twice, 0) << "round " << round;
    EXPECT_EQ(bogus.load(), 0) << "round " << round;
  }
}

}  // namespace
