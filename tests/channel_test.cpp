#include "kqbridge/channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace {

using std::chrono::milliseconds;

const char kEndGone[] = "~channel()\n";
const char kQueuesGone[] = "~channel()\n--- delete  reader\n--- delete  writer\n";

std::string readText(bg::Abstract_Channel* end, unsigned timeoutMs = 5000) {
  char buf[64];
  int n = end->timedRead(buf, sizeof(buf), timeoutMs);
  return std::string(buf, n > 0 ? n : 0);
}

// The process-wide exit flag is never cleared, so every scenario with a
// manager (whose destructor raises it) runs in a child process.
void expectInChild(const std::function<int()>& body, std::string* err = nullptr) {
  std::string out;
  std::string ignored;
  int rc = kqtest::runInChild(body, &out, err != nullptr ? err : &ignored);
  EXPECT_EQ(rc, 0) << out;
}

TEST(Channel, PeerEndsTalkBothWays) {
  bg::Channel a;
  std::unique_ptr<bg::Abstract_Channel> b(a.peer());
  EXPECT_EQ(a.write("abc", 3), 3);
  EXPECT_EQ(readText(b.get()), "abc");
  EXPECT_EQ(b->write("reply", 5), 5);
  EXPECT_EQ(readText(&a), "reply");
  EXPECT_EQ(readText(&a, 50), "");
  EXPECT_FALSE(a.isAborted());
}

TEST(Channel, CloneIsAnotherHandleOnTheSameEnd) {
  bg::Channel a;
  std::unique_ptr<bg::Abstract_Channel> b(a.peer());
  std::unique_ptr<bg::Abstract_Channel> c(a.clone());
  EXPECT_NE(c.get(), &a);
  c->write("from clone", 10);
  a.write("from a", 6);
  EXPECT_EQ(readText(b.get()), "from clone");
  EXPECT_EQ(readText(b.get()), "from a");
  b->write("one", 3);
  EXPECT_EQ(readText(c.get()), "one");
  EXPECT_EQ(readText(&a, 50), "");
}

TEST(Channel, CreateMakesAnUnconnectedChannel) {
  bg::Channel a;
  std::unique_ptr<bg::Abstract_Channel> b(a.peer());
  std::unique_ptr<bg::Abstract_Channel> fresh(a.create());
  fresh->write("elsewhere", 9);
  EXPECT_EQ(readText(b.get(), 50), "");
  a.write("here", 4);
  EXPECT_EQ(readText(b.get()), "here");
}

TEST(Channel, AbortOnOneEndReleasesReadersOnBothSides) {
  bg::Channel a;
  std::unique_ptr<bg::Abstract_Channel> b(a.peer());
  std::unique_ptr<bg::Abstract_Channel> c(a.clone());
  std::atomic<int> returned{0};
  std::thread onA([&] {
    char buf[8];
    EXPECT_EQ(a.read(buf, sizeof(buf)), 0);
    returned.fetch_add(1);
  });
  std::thread onB([&] {
    char buf[8];
    EXPECT_EQ(b->read(buf, sizeof(buf)), 0);
    returned.fetch_add(1);
  });
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(returned.load(), 0);
  b->abort();
  onA.join();
  onB.join();
  EXPECT_TRUE(a.isAborted());
  EXPECT_TRUE(c->isAborted());
  EXPECT_EQ(a.write("x", 1), 1);
  EXPECT_EQ(readText(b.get(), 0), "");
}

TEST(Channel, OnlyTheLastEndDeletesTheQueues) {
  bg::Abstract_Channel* a = new bg::Channel();
  bg::Abstract_Channel* b = a->peer();
  bg::Abstract_Channel* c = a->clone();
  testing::internal::CaptureStderr();
  delete c;
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kEndGone);
  testing::internal::CaptureStderr();
  a->destroy(&a);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kEndGone);
  testing::internal::CaptureStderr();
  b->destroy(&b);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kQueuesGone);
  bg::Channel any;
  any.destroy(nullptr);
  any.destroy(&b);
}

// A reader still blocked on the last end when it is deleted is woken and
// leaves before the queues go (the sanitizers watch the memory).
TEST(Channel, DeletingTheLastEndReleasesABlockedReader) {
  bg::Abstract_Channel* a = new bg::Channel();
  bg::Abstract_Channel* b = a->peer();
  std::atomic<bool> started{false};
  std::thread reader([&] {
    char buf[8];
    started.store(true);
    EXPECT_EQ(b->read(buf, sizeof(buf)), 0);
  });
  while (!started.load()) std::this_thread::yield();
  std::this_thread::sleep_for(milliseconds(150));
  testing::internal::CaptureStderr();
  delete a;
  delete b;
  reader.join();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(kEndGone) + kQueuesGone);
}

TEST(ChannelMgr, OpenNeedsACreatorAndGetCreatesOne) {
  expectInChild([] {
    bg::Channel_Mgr mgr;
    CHILD_CHECK(mgr.openChannel("x") == nullptr);
    bg::Abstract_Channel* creator = mgr.getChannel("x");
    CHILD_CHECK(creator != nullptr);
    bg::Abstract_Channel* opener = mgr.getChannel("x");
    CHILD_CHECK(opener != nullptr && opener != creator);
    creator->write("abc", 3);
    CHILD_CHECK(readText(opener) == "abc");
    opener->write("de", 2);
    CHILD_CHECK(readText(creator) == "de");
    CHILD_CHECK(mgr.openChannel(nullptr) == nullptr);
    return 0;
  });
}

TEST(ChannelMgr, SidesShareTheirQueues) {
  expectInChild([] {
    bg::Channel_Mgr mgr;
    bg::Abstract_Channel* c1 = mgr.createChannel("x");
    bg::Abstract_Channel* o1 = mgr.openChannel("x");
    bg::Abstract_Channel* c2 = mgr.createChannel("x");
    bg::Abstract_Channel* o2 = mgr.openChannel("x");
    CHILD_CHECK(c1 != nullptr && o1 != nullptr && c2 != nullptr && o2 != nullptr);
    CHILD_CHECK(c1 != c2 && o1 != o2);
    c2->write("2", 1);
    CHILD_CHECK(readText(o1) == "2");
    c1->write("1", 1);
    CHILD_CHECK(readText(o2) == "1");
    o2->write("back", 4);
    CHILD_CHECK(readText(c2) == "back");
    // Other names are other channels; names compare as whole byte strings.
    bg::Abstract_Channel* y = mgr.createChannel("x ");
    y->write("y", 1);
    CHILD_CHECK(readText(o1, 50).empty());
    return 0;
  });
}

TEST(ChannelMgr, ExitAbortsItsOwnChannels) {
  expectInChild([] {
    bg::Channel_Mgr mgr;
    bg::Abstract_Channel* c = mgr.createChannel("x");
    bg::Abstract_Channel* o = mgr.openChannel("x");
    std::atomic<int> got{-1};
    std::thread reader([&] {
      char buf[8];
      got.store(o->read(buf, sizeof(buf)));
    });
    std::this_thread::sleep_for(milliseconds(100));
    mgr.exit();
    reader.join();
    CHILD_CHECK(got.load() == 0);
    CHILD_CHECK(c->isAborted() && o->isAborted());
    bg::Channel unrelated;
    CHILD_CHECK(!unrelated.isAborted());
    return 0;
  });
}

TEST(ChannelMgr, DestructorAbortsButDeletesNoChannel) {
  std::string err;
  expectInChild(
      [] {
        bg::Abstract_Channel* kept;
        {
          bg::Channel_Mgr mgr;
          kept = mgr.createChannel("x");
        }
        bg::Channel fresh;
        CHILD_CHECK(!fresh.isAborted());
        CHILD_CHECK(kept->isAborted());
        fflush(stderr);
        return 0;
      },
      &err);
  EXPECT_EQ(err, kQueuesGone);  // only `fresh` went
}

TEST(ChannelMgr, ReleaseDropsTheRecordedEnd) {
  std::string err;
  expectInChild(
      [] {
        bg::Channel_Mgr mgr;
        bg::Abstract_Channel* c = mgr.createChannel("x");
        bg::Abstract_Channel* o = mgr.openChannel("x");
        mgr.releaseChannel(&c);
        CHILD_CHECK(c == nullptr);
        bg::Abstract_Channel* c2 = mgr.createChannel("x");
        bg::Abstract_Channel* o2 = mgr.openChannel("x");
        CHILD_CHECK(c2 != nullptr && o2 != nullptr && o2 != o);
        c2->write("new", 3);
        CHILD_CHECK(readText(o, 50).empty());
        // The opener entry still holds the old end: o2 is its clone.
        o->abort();
        CHILD_CHECK(o2->isAborted());
        CHILD_CHECK(!c2->isAborted());

        mgr.releaseChannel(nullptr);
        bg::Abstract_Channel* none = nullptr;
        mgr.releaseChannel(&none);
        bg::Abstract_Channel* clone = c2->clone();
        mgr.releaseChannel(&clone);
        CHILD_CHECK(clone == nullptr);
        bg::Abstract_Channel* o3 = mgr.openChannel("x");
        CHILD_CHECK(o3 != nullptr && o3->isAborted());
        mgr.releaseChannel(&o);
        mgr.releaseChannel(&o2);
        mgr.releaseChannel(&o3);
        // With the opener entry gone, the next open peers the new creator.
        bg::Abstract_Channel* o4 = mgr.openChannel("x");
        CHILD_CHECK(o4 != nullptr);
        c2->write("fresh", 5);
        CHILD_CHECK(readText(o4) == "new");
        CHILD_CHECK(readText(o4) == "fresh");
        fflush(stderr);
        return 0;
      },
      &err);
  // c (shared), clone (shared), o, o2 (shared), then o3 deletes the old queues.
  EXPECT_EQ(err, std::string(kEndGone) + kEndGone + kEndGone + kEndGone + kQueuesGone);
}

// Deleting a recorded end by other means than releaseChannel takes its entry
// along, so the manager never clones a deleted end.
TEST(ChannelMgr, DestroyedRecordedEndLeavesNoEntry) {
  expectInChild([] {
    bg::Channel_Mgr mgr;
    bg::Abstract_Channel* c = mgr.createChannel("x");
    bg::Abstract_Channel* o = mgr.openChannel("x");
    c->destroy(&c);
    CHILD_CHECK(c == nullptr);
    delete o;
    CHILD_CHECK(mgr.openChannel("x") == nullptr);
    bg::Abstract_Channel* again = mgr.createChannel("x");
    bg::Abstract_Channel* peer = mgr.openChannel("x");
    CHILD_CHECK(again != nullptr && peer != nullptr);
    again->write("ok", 2);
    CHILD_CHECK(readText(peer) == "ok");
    return 0;
  });
}

// 4 producers on clones of one end, 4 consumers on clones of the other.
TEST(ChannelStress, EveryMessageArrivesExactlyOnceInProducerOrder) {
  const int kProducers = 4;
  const int kConsumers = 4;
  const int kPerProducer = 50000;
  const int kTotal = kProducers * kPerProducer;
  bg::Channel a;
  std::unique_ptr<bg::Abstract_Channel> b(a.peer());
  std::unique_ptr<std::atomic<int>[]> seen(new std::atomic<int>[kTotal]);
  for (int i = 0; i < kTotal; ++i) seen[i].store(0);
  std::atomic<int> outOfOrder{0};

  std::vector<std::thread> consumers;
  for (int c = 0; c < kConsumers; ++c) {
    consumers.emplace_back([&] {
      std::unique_ptr<bg::Abstract_Channel> end(b->clone());
      std::vector<int> last(kProducers, -1);
      for (;;) {
        int id = -1;
        if (end->read(&id, sizeof(id)) != sizeof(id) || id < 0) return;
        seen[id].fetch_add(1);
        int producer = id / kPerProducer;
        if (id <= last[producer]) outOfOrder.fetch_add(1);
        last[producer] = id;
      }
    });
  }
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      std::unique_ptr<bg::Abstract_Channel> end(a.clone());
      for (int i = 0; i < kPerProducer; ++i) {
        int id = p * kPerProducer + i;
        end->write(&id, sizeof(id));
      }
    });
  }
  for (auto& t : producers) t.join();
  int stop = -1;
  for (int c = 0; c < kConsumers; ++c) a.write(&stop, sizeof(stop));
  for (auto& t : consumers) t.join();

  int wrong = 0;
  for (int i = 0; i < kTotal; ++i) wrong += seen[i].load() != 1;
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(outOfOrder.load(), 0);
}

// Aborts at random moments while every thread holds and finally deletes its
// own end: nobody hangs, nothing arrives twice, nothing arrives unsent.
TEST(ChannelStress, RandomAbortsNeitherHangNorDuplicate) {
  const int kProducers = 4;
  const int kConsumers = 4;
  const int kPerProducer = 20000;
  const int kTotal = kProducers * kPerProducer;
  std::mt19937 random(12345);
  for (int round = 0; round < 10; ++round) {
    bg::Abstract_Channel* a = new bg::Channel();
    bg::Abstract_Channel* b = a->peer();
    std::unique_ptr<std::atomic<int>[]> seen(new std::atomic<int>[kTotal]);
    for (int i = 0; i < kTotal; ++i) seen[i].store(0);
    std::atomic<int> bogus{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < kConsumers; ++c) {
      bg::Abstract_Channel* end = b->clone();
      threads.emplace_back([&, end, c] {
        for (;;) {
          int id = -1;
          int n = c % 2 == 0 ? end->read(&id, sizeof(id)) : end->timedRead(&id, sizeof(id), 20);
          if (n == sizeof(id)) {
            if (id < 0 || id >= kTotal) {
              bogus.fetch_add(1);
            } else {
              seen[id].fetch_add(1);
            }
          } else if (end->isAborted()) {
            break;
          }
        }
        delete end;
      });
    }
    for (int p = 0; p < kProducers; ++p) {
      bg::Abstract_Channel* end = a->clone();
      threads.emplace_back([&, end, p] {
        for (int i = 0; i < kPerProducer && !end->isAborted(); ++i) {
          int id = p * kPerProducer + i;
          end->write(&id, sizeof(id));
        }
        delete end;
      });
    }
    std::this_thread::sleep_for(milliseconds(random() % 40));
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
