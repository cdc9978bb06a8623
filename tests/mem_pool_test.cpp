#include "kqbridge/mem_pool.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

bool aligned16(const void* p) {
  return reinterpret_cast<uintptr_t>(p) % 16 == 0;
}

size_t count(const std::string& text, const std::string& word) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(word, at)) != std::string::npos; ++at) ++n;
  return n;
}

struct QuietPool : bg::Mem_Pool {
  explicit QuietPool(unsigned blockSize) : bg::Mem_Pool(blockSize) {}
  char* take(int size) { return static_cast<char*>(alloc(size)); }
};

TEST(MemPool, SmallRequestsAreAlignedCutsOfOneBlockUntilItIsFull) {
  QuietPool pool(1024);
  std::vector<char*> got{pool.take(64)};
  while (got.size() < 40 && (got.size() < 2 || got.back() == got[got.size() - 2] + 64)) {
    got.push_back(pool.take(64));
    ASSERT_NE(got.back(), nullptr);
    ASSERT_TRUE(aligned16(got.back()));
  }
  char* fresh = got.back();
  EXPECT_GE(got.size(), 14u) << "at least (1024 - 128) / 64 fit in the first block";
  EXPECT_TRUE(fresh + 64 <= got.front() || fresh >= got[got.size() - 2] + 64)
      << "a new block, apart from what was handed out";
  EXPECT_EQ(pool.take(64), fresh + 64) << "the next request follows in the new block";
  memset(fresh, 0, 128);
}

TEST(MemPool, BigRequestsAreFreedAloneAndNeverTwice) {
  QuietPool pool(1024);
  char* small = pool.take(32);
  char* big = pool.take(1500);
  char* almostABlock = pool.take(1020);
  ASSERT_TRUE(big != nullptr && almostABlock != nullptr);
  memset(big, 7, 1500);
  memset(almostABlock, 3, 1020);
  EXPECT_EQ(pool.dealloc(small), 0);
  EXPECT_EQ(pool.dealloc(big), 1);
  EXPECT_EQ(pool.dealloc(big), 0) << "a second free of the same pointer is refused";
  EXPECT_EQ(pool.dealloc(almostABlock), 1) << "more than a fresh block holds is big";
  EXPECT_EQ(pool.dealloc(nullptr), 0);
}

TEST(MemPool, ResetReusesBlocksFreesBigAllocationsAndKeepsCleanups) {
  std::string order;
  {
    QuietPool pool(256);
    pool.addCleanup([](void* s) { *static_cast<std::string*>(s) += "A"; }, &order);
    char* first = pool.take(100);
    pool.take(300);
    char* big = pool.take(10000);
    pool.reset();
    EXPECT_EQ(pool.dealloc(big), 0);
    EXPECT_EQ(pool.take(100), first);
    for (int i = 0; i < 100; ++i) memset(pool.take(64), 0xff, 64);
    EXPECT_EQ(order, "");
  }
  EXPECT_EQ(order, "A") << "cleanups registered before the reset still run intact";
  // Reset also forgets which blocks had filled: rounds of the same mixed
  // requests after the first need no new block. The trace shows each new
  // block and each big request.
  kqtest::TempDir dir;
  int fd = open(dir.file("trace").c_str(), O_CREAT | O_WRONLY, 0600);
  QuietPool mixed(1024);
  mixed.setLog(fd);
  std::vector<size_t> blocks;
  for (int round = 0; round < 4; ++round) {
    std::mt19937 rng(7);
    for (int i = 0; i < 400; ++i) mixed.take(1 + static_cast<int>(rng() % 300));
    mixed.take(5000);
    mixed.reset();
    blocks.push_back(count(kqtest::readFile(dir.file("trace")), "call zrc_mem_block\n"));
  }
  close(fd);
  EXPECT_EQ(blocks, std::vector<size_t>(4, blocks[0]));
  EXPECT_EQ(count(kqtest::readFile(dir.file("trace")), "alloc from large\n"), 4u);
}

std::string g_order;
template <char C>
void cleanup(void*) {
  g_order += C;
}

TEST(MemPool, CleanupsRunNewestFirstAndRemovedOnesDoNot) {
  g_order.clear();
  {
    QuietPool pool(1024);
    EXPECT_EQ(pool.removeCleanup(cleanup<'A'>), 0);
    for (auto handler : {cleanup<'A'>, cleanup<'B'>, cleanup<'C'>, cleanup<'A'>})
      pool.addCleanup(handler, nullptr);
    EXPECT_EQ(pool.removeCleanup(cleanup<'A'>), 1) << "the newest A";
    EXPECT_EQ(pool.removeCleanup(cleanup<'C'>), 1);
    EXPECT_EQ(pool.removeCleanup(cleanup<'C'>), 0);
  }
  EXPECT_EQ(g_order, "BA");
  bg::Mem_Pool factory(128);
  bg::Abstract_MemPool* made = factory.createPool(4096);
  made->addCleanup(cleanup<'C'>, nullptr);
  factory.destroyPool(&made);
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(g_order, "BAC");
}

// Until setLog names one, a pool writes its trace nowhere (not to descriptor 0).
TEST(MemPool, TraceIsOffUntilSetLog) {
  kqtest::TempDir dir;
  EXPECT_EQ(kqtest::runChild([&] {
              CHILD_CHECK(dup2(open(dir.file("fd0").c_str(), O_CREAT | O_WRONLY, 0600), 0) == 0);
              bg::Mem_Pool pool(2048);
              bg::Abstract_MemPool* made = pool.createPool(2048);
              CHILD_CHECK(pool.alloc(8) != nullptr && made->alloc(8) != nullptr);
              pool.destroyPool(&made);
              return 0;
            }).status,
            0);
  EXPECT_EQ(kqtest::readFile(dir.file("fd0")), "");
}

// Block sizes too small for the header are raised so that requests still work.
TEST(MemPool, TinyBlockSizesStillServe) {
  for (unsigned size : {0u, 1u, 16u, 64u}) {
    QuietPool pool(size);
    for (int i = 0; i < 50; ++i) {
      char* p = pool.take(8);
      ASSERT_TRUE(p != nullptr && aligned16(p)) << size;
      memset(p, 1, 8);
    }
    EXPECT_EQ(pool.dealloc(pool.take(100)), 1) << size;
  }
}

}  // namespace
