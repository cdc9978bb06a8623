#include "kqbridge/packet_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "packet_pool/node_ref.h"
#include "support/test_support.h"

namespace {

// The totals of the free list, in list order, as show() prints them.
std::vector<int> freeTotals(pp::FLMemPool& pool) {
  testing::internal::CaptureStderr();
  pool.show("x");
  std::string out = testing::internal::GetCapturedStderr();
  std::vector<int> totals;
  for (size_t at = out.find("total="); at != std::string::npos; at = out.find("total=", at + 1)) {
    totals.push_back(atoi(out.c_str() + at + 6));
  }
  return totals;
}

// True when every node the pool ever made is back in its free list, once:
// taking all listed nodes leaves the next node a brand-new id equal to their
// number.
bool allNodesBack(pp::Abstract_PacketPool* pool) {
  testing::internal::CaptureStderr();
  pool->show("end");
  std::string text = testing::internal::GetCapturedStderr();
  std::vector<pp::FLMemNode*> taken;
  for (size_t at = text.find("node["); at != std::string::npos; at = text.find("node[", at + 1)) {
    taken.push_back(pool->getNode(1));
  }
  taken.push_back(pool->getNode(1));
  bool back = taken.back()->id == static_cast<int>(taken.size()) - 1;
  for (pp::FLMemNode* n : taken) pp::release_pnode(&n);
  return back;
}

pp::FLMemNode* packet(pp::Abstract_PacketPool* pool, const std::string& bytes) {
  pp::FLMemNode* n = pool->getNode(bytes.empty() ? 1 : static_cast<int>(bytes.size()));
  memcpy(n->data, bytes.data(), bytes.size());
  n->used = static_cast<int>(bytes.size());
  return n;
}

TEST(PacketPool, MemoryPoolGrowsNodesInPlaceAndListsEachOnce) {
  pp::FLMemPool pool;
  pp::FLMemNode* a = pool.get(1);
  pp::FLMemNode* c = pool.get(2048);
  EXPECT_EQ(nullptr, pool.get(0));
  for (pp::FLMemNode* n : {c, a}) pp::release_pnode(&n);
  pp::FLMemNode* grown = pool.get(3000);
  EXPECT_TRUE(grown == c && grown->id == 1 && grown->total >= 3000) << "grown, keeping its id";
  pp::release_pnode(&grown);
  EXPECT_EQ(0, c->used) << "a free node holds nothing";
  // A stale holder that finds the node listed is told so, listed once, and
  // its count drops to 0: adding a reference afterwards is refused.
  c->ref = 1;
  pp::FLMemNode* stale = c;
  testing::internal::CaptureStderr();
  pp::release_pnode(&stale);
  EXPECT_EQ(0, pp::addRef(c));
  EXPECT_EQ("1.same node, can't double free, id=1, ref=1\n[ERROR] *** FLMemNode invalid ref\n",
            testing::internal::GetCapturedStderr());
  EXPECT_EQ(0, c->ref);
  EXPECT_EQ((std::vector<int>{512, c->total}), freeTotals(pool));
  // A request below the average free capacity takes the smallest free node,
  // any other the largest; clear() forgets the free nodes and their sizes.
  pp::FLMemPool sized;
  for (int round = 0; round < 2; ++round, sized.clear()) {
    pp::FLMemNode* made[] = {sized.get(1), sized.get(1), sized.get(4000)};
    for (pp::FLMemNode* n : made) pp::release_pnode(&n);
    pp::FLMemNode* taken[] = {sized.get(1), sized.get(2000), sized.get(1)};
    EXPECT_TRUE(taken[0] == made[0] && taken[1] == made[1] && taken[2] == made[2]) << round;
    for (pp::FLMemNode* n : taken) pp::release_pnode(&n);
  }
}

TEST(PacketPool, BadInputIsRefused) {
  pp::FLPacketPool pool;
  pp::FLMemNode* n = pool.getNode(10);
  pp::FLMemNode* out = n;
  n->used = -1;
  char buf[4];
  EXPECT_EQ(pp::FLQ_PARAM_ERROR, pool.push(n)) << "a negative size";
  EXPECT_EQ(pp::FLQ_PARAM_ERROR, pool.read(buf, 0));
  EXPECT_EQ(pp::FLQ_NO_DATA, pool.pop(&out, false));
  EXPECT_EQ(pp::FLQ_NO_DATA, pool.front(&out, false));
  EXPECT_EQ(nullptr, out);
  n->used = 10;
  // Fewer than one packet never fits: answered at once, the node stays ours.
  EXPECT_EQ(pp::FLQ_FULL, pool.pushForce(n, 0));
  EXPECT_EQ(pp::FLQ_FULL, pool.pushWait(n, 0, true));
  EXPECT_EQ(pp::FLQ_OK, pool.push(n));
  EXPECT_EQ(nullptr, pool.at(1));
  pp::release_pnode(nullptr);
  // A second release through a stale copy finds the count at 0.
  pp::FLMemNode* copy = n;
  ASSERT_EQ(pp::FLQ_OK, pool.pop(&out, false));
  pp::release_pnode(&out);
  pp::release_pnode(&copy);
  EXPECT_TRUE(allNodesBack(&pool));
}

TEST(PacketPool, QueueBoundsDropsAndLooks) {
  pp::Abstract_PacketPool* pool = pp::create_pktpool();
  pp::FLMemNode* a = packet(pool, "A");
  pp::FLMemNode* b = packet(pool, "B");
  ASSERT_EQ(pp::FLQ_OK, pool->push(a));
  ASSERT_EQ(pp::FLQ_OK, pool->pushWait(b, 2, false));
  pp::FLMemNode* c = packet(pool, "C");
  EXPECT_EQ(pp::FLQ_FULL, pool->pushWait(c, 2, false));
  EXPECT_EQ(pp::FLQ_OK, pool->pushForce(c, 2));
  EXPECT_EQ(b, pool->at(0));
  EXPECT_EQ(c, pool->at(1));
  EXPECT_EQ(0, a->ref) << "the dropped packet went back to the pool";
  EXPECT_EQ(40, pool->bytes());
  // front() gives the caller its own reference: the packet survives its pop
  // and release until that one is released too.
  pp::FLMemNode* look = nullptr;
  ASSERT_EQ(pp::FLQ_OK, pool->front(&look, false));
  EXPECT_EQ(b, look);
  EXPECT_EQ(2, pool->count());
  pp::FLMemNode* got = nullptr;
  ASSERT_EQ(pp::FLQ_OK, pool->pop(&got, true));
  pp::release_pnode(&got);
  EXPECT_EQ(1, b->ref);
  pp::release_pnode(&look);
  EXPECT_EQ(0, b->ref);
  // A bounded pusher waits for the consumer's pops, and each pop wakes it,
  // also one that comes while it is only about to sleep.
  const int kPackets = 50000;
  auto pusher = std::async(std::launch::async, [&] {
    int pushed = 0;
    while (pushed < kPackets && pool->pushWait(packet(pool, "D"), 1, true) == pp::FLQ_OK) ++pushed;
    return pushed;
  });
  for (int i = 0; i < kPackets; ++i) {
    ASSERT_EQ(pp::FLQ_OK, pool->pop(&got, true));
    pp::release_pnode(&got);
  }
  EXPECT_EQ(kPackets, pusher.get());
  pp::destroy_pktpool(&pool);
  EXPECT_EQ(nullptr, pool);
}

TEST(PacketPool, ReadJoinsPacketsIntoOneStream) {
  pp::FLPacketPool pool;
  for (const char* p : {"abcd", "", "efgh", "ijkl"}) ASSERT_EQ(pp::FLQ_OK, pool.push(packet(&pool, p)));
  char buf[16] = {};
  ASSERT_EQ(pp::FLQ_OK, pool.read(buf, 10));
  EXPECT_EQ("abcdefghij", std::string(buf, 10));
  EXPECT_EQ(0, pool.count());
  // The rest of a partly read packet, then the next one.
  ASSERT_EQ(pp::FLQ_OK, pool.push(packet(&pool, "mnop")));
  ASSERT_EQ(pp::FLQ_OK, pool.read(buf, 4));
  EXPECT_EQ("klmn", std::string(buf, 4));
  ASSERT_EQ(pp::FLQ_OK, pool.read(buf, 2));
  EXPECT_EQ("op", std::string(buf, 2));
  ASSERT_EQ(pp::FLQ_OK, pool.push(packet(&pool, "qr")));
  pool.exit();
  EXPECT_EQ(pp::FLQ_EXIT, pool.read(buf, 1));
  EXPECT_EQ(nullptr, pool.getNode(100));
  pool.setExit(false);
  ASSERT_EQ(pp::FLQ_OK, pool.read(buf, 1));
  // clear() gives back the partly read packet as well as the queued ones.
  pool.clear();
  EXPECT_TRUE(allNodesBack(&pool));
}

TEST(PacketPool, ExitReleasesBlockedConsumerAndPusher) {
  pp::FLPacketPool pool;
  pp::FLMemNode unchanged{};
  pp::FLMemNode* popped = &unchanged;
  auto consumer = std::async(std::launch::async, [&] { return pool.pop(&popped, true); });
  // Give both a chance to block; the outcome is the same if they have not yet.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(std::future_status::timeout, consumer.wait_for(std::chrono::milliseconds(0)));
  // Polls do not queue up behind the sleeping reader (pushForce polls).
  pp::FLMemNode* polled = nullptr;
  EXPECT_EQ(pp::FLQ_NO_DATA, pool.pop(&polled, false));
  EXPECT_EQ(pp::FLQ_NO_DATA, pool.popTimeout(&polled, 50));
  pool.exit();
  ASSERT_EQ(std::future_status::ready, consumer.wait_for(std::chrono::seconds(20)));
  EXPECT_EQ(pp::FLQ_EXIT, consumer.get());
  EXPECT_EQ(nullptr, popped);
  pool.setExit(false);
  pp::FLMemNode* first = packet(&pool, "1");
  pp::FLMemNode* second = packet(&pool, "2");
  ASSERT_EQ(pp::FLQ_OK, pool.push(first));
  auto pusher = std::async(std::launch::async, [&] { return pool.pushWait(second, 1, true); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  pool.setExit(true);
  ASSERT_EQ(std::future_status::ready, pusher.wait_for(std::chrono::seconds(20)));
  EXPECT_EQ(pp::FLQ_EXIT, pusher.get());
  pp::release_pnode(&second);
}

// Runs `call` on a thread of its own; started() returns once that thread
// sleeps, which it does only inside the call.
class Waiter {
 public:
  explicit Waiter(std::function<pp::FLQueueStatus()> call)
      : m_thread([this, call] {
          m_tid = kqtest::threadId();
          m_status = call();
        }) {}
  bool started() {
    return kqtest::waitFor([&] { return m_tid != 0 && kqtest::isAsleep(m_tid); });
  }
  pp::FLQueueStatus result() {
    m_thread.join();
    return m_status;
  }

 private:
  std::atomic<int> m_tid{0};
  pp::FLQueueStatus m_status = pp::FLQ_DEFAULT;
  std::thread m_thread;
};

// Shutdown code may destroy a pool while its consumers and a bounded
// producer still wait inside: each is woken with 1 and the pool is freed
// only after they have left (the sanitizers watch for the rest).
TEST(PacketPool, DestroyWakesTheThreadsInsideAndWaitsForThem) {
  pp::Abstract_PacketPool* readers = pp::create_pktpool();
  pp::FLMemNode* seen[3] = {};
  char buf[4];
  std::vector<std::unique_ptr<Waiter>> waiters;
  for (auto call : std::vector<std::function<pp::FLQueueStatus()>>{
           [&] { return readers->pop(&seen[0], true); }, [&] { return readers->read(buf, 4); },
           [&] { return readers->front(&seen[1], true); },
           [&] { return readers->popTimeout(&seen[2], 600000); }}) {
    waiters.push_back(std::make_unique<Waiter>(call));
    ASSERT_TRUE(waiters.back()->started());
  }
  pp::destroy_pktpool(&readers);
  // The pushers' nodes come from a pool that outlives the packet pool.
  pp::FLMemPool spare;
  pp::FLMemNode* mine[2] = {spare.get(8), spare.get(8)};
  pp::Abstract_PacketPool* writers = pp::create_pktpool();
  ASSERT_EQ(pp::FLQ_OK, writers->push(packet(writers, "full")));
  for (pp::FLMemNode* n : mine) {
    waiters.push_back(std::make_unique<Waiter>([=] { return writers->pushWait(n, 1, true); }));
    ASSERT_TRUE(waiters.back()->started());
  }
  pp::destroy_pktpool(&writers);
  for (auto& w : waiters) EXPECT_EQ(pp::FLQ_EXIT, w->result());
  for (pp::FLMemNode* n : seen) EXPECT_EQ(nullptr, n);
  for (pp::FLMemNode* n : mine) pp::release_pnode(&n);
}

// Two producers push numbered frames (length, producer, sequence, payload)
// three ways, then a closing frame follows; the consumer takes every other
// frame with pop() and the rest as a byte stream. pushForce may drop old
// frames, so sequences may skip but never go back; every byte that arrives
// is checked.
TEST(PacketPool, StressProducersAndConsumer) {
  pp::FLPacketPool pool;
  const int kFrames = 3000;
  auto frameOf = [](int producer, int seq, int len) {
    std::string f(9 + static_cast<size_t>(len), '\0');
    memcpy(&f[0], &len, 4);
    f[4] = static_cast<char>(producer);
    memcpy(&f[5], &seq, 4);
    for (int i = 0; i < len; ++i) f[9 + static_cast<size_t>(i)] = static_cast<char>(seq * 7 + i + producer);
    return f;
  };
  auto produce = [&](int producer) {
    for (int seq = 0; seq < kFrames; ++seq) {
      pp::FLMemNode* n = packet(&pool, frameOf(producer, seq, 1 + (seq * 37 + producer * 11) % 700));
      int how = seq % 3;
      EXPECT_EQ(pp::FLQ_OK, how == 0   ? pool.push(n)
                            : how == 1 ? pool.pushWait(n, 8, true)
                                       : pool.pushForce(n, 64));
    }
  };
  std::thread closer([&] {
    std::thread p0(produce, 0), p1(produce, 1);
    p0.join();
    p1.join();
    pool.push(packet(&pool, frameOf(0xff, 0, 0)));
  });
  int next[2] = {0, 0};
  std::vector<char> frame(9 + 700);
  for (int frames = 0;; ++frames) {
    int len = 0;
    if (frames % 2 == 0) {
      ASSERT_EQ(pp::FLQ_OK, pool.read(frame.data(), 9));
      memcpy(&len, frame.data(), 4);
      if (len > 0) {
        ASSERT_EQ(pp::FLQ_OK, pool.read(frame.data() + 9, len));
      }
    } else {
      pp::FLMemNode* n = nullptr;
      ASSERT_EQ(pp::FLQ_OK, pool.pop(&n, true));
      memcpy(&len, n->data, 4);
      ASSERT_EQ(9 + len, n->used);
      memcpy(frame.data(), n->data, static_cast<size_t>(n->used));
      pp::release_pnode(&n);
    }
    int producer = static_cast<uint8_t>(frame[4]), seq = 0;
    memcpy(&seq, frame.data() + 5, 4);
    if (producer == 0xff) break;
    ASSERT_LT(producer, 2);
    ASSERT_GE(seq, next[producer]);
    next[producer] = seq + 1;
    ASSERT_EQ(frameOf(producer, seq, len), std::string(frame.data(), 9 + static_cast<size_t>(len)));
  }
  closer.join();
  EXPECT_GT(next[0] + next[1], kFrames);
  EXPECT_TRUE(allNodesBack(&pool));
}

// A caller's own pool gets the last reference under its lock, and the count
// is 0 afterwards even though its put() does not touch it. Without a pool the
// last reference frees the buffer. A count at or below 0 ends at 0.
class CountingPool : public pp::PoolInterface {
 public:
  void put(pp::FLMemNode*) override { ++puts; }
  void lock() override { ++locks; }
  void unlock() override { --locks; }
  int puts = 0, locks = 0;
};

TEST(PacketPoolRefs, TheLastReferenceGoesToThePoolOrFreesTheBuffer) {
  CountingPool pool;
  pp::FLMemNode node{};
  node.ref = 2;
  node.pool = &pool;
  pp::FLMemNode* p = &node;
  pp::release_pnode(&p);
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(0, pool.puts);
  p = &node;
  pp::release_pnode(&p);
  EXPECT_EQ(1, pool.puts);
  EXPECT_EQ(0, node.ref);
  EXPECT_EQ(0, pool.locks);

  pp::FLMemNode orphan{};
  orphan.data = static_cast<uint8_t*>(malloc(16));
  orphan.ref = 1;
  EXPECT_EQ(2, pp::addRef(&orphan));
  EXPECT_EQ(1, pp::releaseRef(&orphan));
  EXPECT_NE(nullptr, orphan.data);
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, pp::releaseRef(&orphan));
  EXPECT_EQ(nullptr, orphan.data);
  EXPECT_EQ(0, pp::releaseRef(&orphan));
  pp::FLMemPool ours;
  pp::FLMemNode* owned = ours.get(8);
  for (pp::FLMemNode* n : {&node, &orphan, owned}) {
    n->ref = -3;
    EXPECT_EQ(0, pp::releaseRef(n));
    EXPECT_EQ(0, n->ref);
  }
  testing::internal::GetCapturedStderr();
  // Each reference taken or dropped answers the count it leaves, in either pool.
  for (pp::FLMemNode* n : {&node, owned}) {
    n->ref = 1;
    EXPECT_EQ(2, pp::addRef(n));
    EXPECT_EQ(3, pp::addRef(n));
    EXPECT_EQ(2, pp::releaseRef(n));
    EXPECT_EQ(1, pp::releaseRef(n));
  }
  pp::release_pnode(&owned);
}

}  // namespace
