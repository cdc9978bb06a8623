#include "kqbridge/mem_pool.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

// Every trace line goes out with its terminating zero byte.
const std::string kFromBlock("alloc from current block\n", 26);
const std::string kNewBlock("call zrc_mem_block\n", 20);
const std::string kFromLarge("alloc from large\n", 18);

bool aligned16(const void* p) {
  return reinterpret_cast<uintptr_t>(p) % 16 == 0;
}

// A pool whose trace lines land in a file of a fresh directory.
class TracedPool : public testing::Test {
 protected:
  void SetUp() override {
    m_path = m_dir.file("trace");
    m_fd = open(m_path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ASSERT_GE(m_fd, 0);
  }
  void TearDown() override { close(m_fd); }

  // The trace written since the last call.
  std::string takeTrace() {
    std::string all = kqtest::readFile(m_path);
    std::string fresh = all.substr(m_seen);
    m_seen = all.size();
    return fresh;
  }

  kqtest::TempDir m_dir;
  std::string m_path;
  int m_fd = -1;
  size_t m_seen = 0;
};

TEST_F(TracedPool, SmallRequestsAreAlignedCutsOfOneBlock) {
  bg::Mem_Pool pool(2048);
  pool.setLog(m_fd);
  char* a = static_cast<char*>(pool.alloc(100));
  char* b = static_cast<char*>(pool.alloc(100));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(aligned16(a));
  EXPECT_TRUE(aligned16(b));
  EXPECT_GE(b - a, 100);
  EXPECT_LT(b - a, 2048);
  memset(a, 1, 100);
  memset(b, 2, 100);
  EXPECT_EQ(a[99], 1);
  EXPECT_EQ(takeTrace(), kFromBlock + kFromBlock);
}

TEST_F(TracedPool, BigRequestIsFreedAlone) {
  bg::Mem_Pool pool(1024);
  pool.setLog(m_fd);
  char* small = static_cast<char*>(pool.alloc(32));
  takeTrace();
  char* big = static_cast<char*>(pool.alloc(1500));
  ASSERT_NE(big, nullptr);
  memset(big, 7, 1500);
  // The big allocation's record is itself cut from the block.
  EXPECT_EQ(takeTrace(), kFromLarge + kFromBlock);
  EXPECT_EQ(pool.dealloc(small), 0);
  EXPECT_EQ(pool.dealloc(big), 1);
  EXPECT_EQ(pool.dealloc(big), 0);
  EXPECT_EQ(pool.dealloc(nullptr), 0);
}

TEST_F(TracedPool, EmptyLargeRecordAmongTheFirstFiveIsReused) {
  bg::Mem_Pool pool(1024);
  pool.setLog(m_fd);
  void* first = pool.alloc(4000);
  ASSERT_EQ(pool.dealloc(first), 1);
  takeTrace();
  void* again = pool.alloc(4000);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(takeTrace(), kFromLarge);

  // With six records, the oldest is the sixth in list order: not searched.
  std::vector<void*> bigs{again};
  for (int i = 0; i < 5; ++i) bigs.push_back(pool.alloc(4000));
  ASSERT_EQ(pool.dealloc(bigs[0]), 1);
  takeTrace();
  ASSERT_NE(pool.alloc(4000), nullptr);
  EXPECT_EQ(takeTrace(), kFromLarge + kFromBlock);
}

TEST_F(TracedPool, FullBlockAddsABlockOfTheSameSize) {
  bg::Mem_Pool pool(1024);
  pool.setLog(m_fd);
  std::vector<char*> got;
  std::string trace;
  while (trace.empty() || trace == kFromBlock) {
    got.push_back(static_cast<char*>(pool.alloc(64)));
    trace = takeTrace();
    ASSERT_LT(got.size(), 20u);
  }
  EXPECT_EQ(trace, kNewBlock);
  ASSERT_GE(got.size(), 13u);  // at least (1024 - 128) / 64 fit in the first block
  char* fresh = got.back();
  got.pop_back();
  for (char* p : got) EXPECT_LT(p - got.front(), 1024);
  EXPECT_TRUE(fresh < got.front() || fresh >= got.back() + 64);
  EXPECT_TRUE(aligned16(fresh));
  // The next request follows in the new block.
  char* next = static_cast<char*>(pool.alloc(64));
  EXPECT_EQ(takeTrace(), kFromBlock);
  EXPECT_EQ(next, fresh + 64);
  memset(fresh, 0, 128);
}

// A request within max but larger than a fresh block can hold is served as a
// big allocation rather than overrunning the block.
TEST_F(TracedPool, RequestLargerThanAFreshBlockIsBig) {
  bg::Mem_Pool pool(1024);
  pool.setLog(m_fd);
  char* p = static_cast<char*>(pool.alloc(1020));
  ASSERT_NE(p, nullptr);
  memset(p, 3, 1020);
  EXPECT_EQ(takeTrace(), kFromLarge + kFromBlock);
  EXPECT_EQ(pool.dealloc(p), 1);
}

TEST_F(TracedPool, NegativeDescriptorWritesNothing) {
  bg::Mem_Pool pool(512);
  pool.setLog(-1);
  ASSERT_NE(pool.alloc(16), nullptr);
  pool.setLog(m_fd);
  ASSERT_NE(pool.alloc(16), nullptr);
  EXPECT_EQ(takeTrace(), kFromBlock);
}

TEST(MemPool, TraceIsOffUntilSetLog) {
  kqtest::TempDir dir;
  std::string path = dir.file("fd0");
  int rc = kqtest::runInChild([&] {
    int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    if (fd < 0 || dup2(fd, 0) != 0) return 10;
    bg::Mem_Pool pool(2048);
    if (pool.alloc(8) == nullptr) return 11;
    bg::Abstract_MemPool* made = pool.createPool(2048);
    if (made->alloc(8) == nullptr) return 12;
    pool.destroyPool(&made);
    return made == nullptr ? 0 : 13;
  });
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(kqtest::readFile(path), "");
}

TEST(MemPool, ResetReusesBlocksAndFreesBigAllocations) {
  bg::Mem_Pool pool(2048);
  pool.setLog(-1);
  void* first = pool.alloc(100);
  pool.alloc(300);
  void* big = pool.alloc(10000);
  ASSERT_NE(big, nullptr);
  pool.reset();
  EXPECT_EQ(pool.dealloc(big), 0);
  EXPECT_EQ(pool.alloc(100), first);
}

struct CleanupLog {
  std::string order;
};

void cleanupA(void* data) {
  static_cast<CleanupLog*>(data)->order += "A";
}
void cleanupB(void* data) {
  static_cast<CleanupLog*>(data)->order += "B";
}
void cleanupC(void* data) {
  static_cast<CleanupLog*>(data)->order += "C";
}

TEST(MemPool, CleanupsRunNewestFirstAndRemovedOnesDoNot) {
  CleanupLog log;
  {
    bg::Mem_Pool pool(1024);
    pool.setLog(-1);
    EXPECT_EQ(pool.removeCleanup(cleanupA), 0);
    EXPECT_EQ(pool.addCleanup(cleanupA, &log), 1);
    EXPECT_EQ(pool.addCleanup(cleanupB, &log), 1);
    EXPECT_EQ(pool.addCleanup(cleanupC, &log), 1);
    EXPECT_EQ(pool.addCleanup(cleanupA, &log), 1);
    // The first match in list order is the newest A.
    EXPECT_EQ(pool.removeCleanup(cleanupA), 1);
    EXPECT_EQ(pool.removeCleanup(cleanupC), 1);
    EXPECT_EQ(pool.removeCleanup(cleanupC), 0);
    EXPECT_EQ(pool.addCleanup(nullptr, &log), 1);
    EXPECT_EQ(log.order, "");
  }
  EXPECT_EQ(log.order, "BA");
}

// Reset hands the block memory out again; cleanups registered before it must
// still run intact.
TEST(MemPool, CleanupsSurviveReset) {
  CleanupLog log;
  {
    bg::Mem_Pool pool(256);
    pool.setLog(-1);
    ASSERT_EQ(pool.addCleanup(cleanupA, &log), 1);
    ASSERT_EQ(pool.addCleanup(cleanupB, &log), 1);
    pool.reset();
    for (int i = 0; i < 100; ++i) {
      void* p = pool.alloc(64);
      ASSERT_NE(p, nullptr);
      memset(p, 0xff, 64);
    }
  }
  EXPECT_EQ(log.order, "BA");
}

// Block sizes too small for the header are raised so that requests still work.
TEST(MemPool, TinyBlockSizesStillServe) {
  for (unsigned size : {0u, 1u, 16u, 64u}) {
    bg::Mem_Pool pool(size);
    pool.setLog(-1);
    for (int i = 0; i < 50; ++i) {
      char* p = static_cast<char*>(pool.alloc(8));
      ASSERT_NE(p, nullptr) << size;
      EXPECT_TRUE(aligned16(p));
      memset(p, 1, 8);
    }
    void* big = pool.alloc(100);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(pool.dealloc(big), 1);
  }
}

TEST(MemPool, DestroyPoolDeletesAndNulls) {
  bg::Mem_Pool factory(128);
  bg::Abstract_MemPool* pool = factory.createPool(4096);
  ASSERT_NE(pool, nullptr);
  pool->setLog(-1);
  CleanupLog log;
  pool->addCleanup(cleanupC, &log);
  factory.destroyPool(&pool);
  EXPECT_EQ(pool, nullptr);
  EXPECT_EQ(log.order, "C");
  factory.destroyPool(&pool);
  factory.destroyPool(nullptr);
}

}  // namespace
