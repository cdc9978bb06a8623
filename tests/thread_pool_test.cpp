#include "kqbridge/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace {

using kqtest::Gate;
using kqtest::waitFor;

void countJob(void* arg) {
  static_cast<std::atomic<int>*>(arg)->fetch_add(1);
}

TEST(ThreadPool, RefusesJobsBeyondTheQueueWithoutAPoolOrWithoutAFunction) {
  bg::Thread_Pool pool;
  std::atomic<int> ran{0};
  testing::internal::CaptureStderr();
  EXPECT_FALSE(pool.addTask(countJob, &ran)) << "not initialised";
  testing::internal::GetCapturedStderr();
  ASSERT_TRUE(pool.init(1, 2));
  Gate gate;
  ASSERT_TRUE(pool.addTask(Gate::hold, &gate));
  ASSERT_TRUE(gate.waitEntered(1));
  EXPECT_TRUE(pool.addTask(countJob, &ran));
  EXPECT_TRUE(pool.addTask(countJob, &ran));
  EXPECT_FALSE(pool.addTask(countJob, &ran)) << "the queue holds two";
  gate.open();
  EXPECT_TRUE(waitFor([&] { return ran.load() == 2; }));
  EXPECT_FALSE(pool.addTask(nullptr, &ran));
  pool.exit();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(pool.addTask(countJob, &ran)) << "after exit";
  testing::internal::GetCapturedStderr();
  ASSERT_TRUE(pool.init(1, 2)) << "started again";
  EXPECT_TRUE(pool.addTask(countJob, &ran));
  EXPECT_TRUE(waitFor([&] { return ran.load() == 3; }));
}

// Another thread adding jobs while the pool exits (a component's at
// shutdown) is refused, by a pool that is still there.
TEST(ThreadPool, AddingWhileThePoolExitsIsRefused) {
  bg::Thread_Pool pool;
  ASSERT_TRUE(pool.init(2, 64));
  std::atomic<int> ran{0};
  std::atomic<bool> exited{false};
  int refusedAfterExit = 0;
  std::thread adder([&] {
    for (bool after = false; !after;) {
      after = exited;
      if (!pool.addTask(countJob, &ran) && after) ++refusedAfterExit;
    }
  });
  ASSERT_TRUE(waitFor([&] { return ran.load() > 100; }));
  pool.exit();
  exited = true;
  adder.join();
  EXPECT_EQ(refusedAfterExit, 1);
}

TEST(ThreadPool, DestroyWaitsForRunningJobsAndDropsWaitingOnes) {
  bg::Thread_Pool factory;
  bg::Abstract_ThreadPool* pool = factory.createPool(2, 16);
  ASSERT_NE(pool, nullptr);
  Gate gate;
  ASSERT_TRUE(pool->addTask(Gate::hold, &gate));
  ASSERT_TRUE(pool->addTask(Gate::hold, &gate));
  ASSERT_TRUE(gate.waitEntered(2));
  std::atomic<int> dropped{0};
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(pool->addTask(countJob, &dropped));
  std::atomic<bool> destroyed{false};
  std::thread destroyer([&] {
    factory.destroyPool(&pool);
    destroyed.store(true);
  });
  EXPECT_FALSE(waitFor([&] { return destroyed.load(); }, 1)) << "returned while jobs still ran";
  gate.open();
  destroyer.join();
  EXPECT_EQ(pool, nullptr);
  EXPECT_EQ(gate.left(), 2);
  EXPECT_EQ(dropped.load(), 0);
}

// The worker running the job cannot join itself: the destroy returns, the
// jobs still waiting are dropped, and that worker goes away on its own.
TEST(ThreadPool, JobMayDestroyItsOwnPool) {
  if (kqtest::kOnWindows) GTEST_SKIP() << "counts the threads of the process under /proc";
  struct Context {
    bg::Abstract_ThreadPool* pool;
    std::atomic<bool> destroyed{false};
  };
  bg::Thread_Pool factory;
  Context ctx;
  ctx.pool = factory.createPool(1, 16);
  ASSERT_NE(ctx.pool, nullptr);
  size_t threadsWithPool = kqtest::countEntries("/proc/self/task");
  Gate gate;
  ASSERT_TRUE(ctx.pool->addTask(Gate::hold, &gate));
  ASSERT_TRUE(gate.waitEntered(1));
  ASSERT_TRUE(ctx.pool->addTask(
      [](void* arg) {
        auto* c = static_cast<Context*>(arg);
        delete c->pool;
        c->destroyed.store(true);
      },
      &ctx));
  std::atomic<int> dropped{0};
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(ctx.pool->addTask(countJob, &dropped));
  gate.open();
  EXPECT_TRUE(waitFor([&] { return ctx.destroyed.load(); }));
  EXPECT_TRUE(waitFor([&] { return kqtest::countEntries("/proc/self/task") == threadsWithPool - 1; }));
  EXPECT_EQ(dropped.load(), 0);
}

TEST(ThreadPoolStress, TwoHundredThousandJobsRunExactlyOnce) {
  const int kJobs = 200000;
  bg::Thread_Pool pool;
  ASSERT_TRUE(pool.init(5, 4096));
  std::vector<std::atomic<int>> runs(kJobs);
  for (int i = 0; i < kJobs; ++i) {
    while (!pool.addTask(countJob, &runs[i])) std::this_thread::yield();
  }
  ASSERT_TRUE(waitFor(
      [&] {
        for (int i = 0; i < kJobs; ++i)
          if (runs[i].load() == 0) return false;
        return true;
      },
      120));
  pool.exit();
  int wrong = 0;
  for (int i = 0; i < kJobs; ++i) wrong += runs[i].load() != 1;
  EXPECT_EQ(wrong, 0);
}

}  // namespace
