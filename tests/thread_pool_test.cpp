#include "kqbridge/thread_pool.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace {

using kqtest::Gate;
using kqtest::waitFor;

void countJob(void* arg) {
  static_cast<std::atomic<int>*>(arg)->fetch_add(1);
}

int threadsInProcess() {
  int n = 0;
  DIR* dir = opendir("/proc/self/task");
  while (dirent* e = readdir(dir)) n += e->d_name[0] != '.' ? 1 : 0;
  closedir(dir);
  return n;
}

TEST(ThreadPool, CreatePoolEnforcesLimits) {
  const struct {
    int threads;
    int queue;
    bool made;
  } cases[] = {{0, 16, false}, {65, 16, false}, {1, 0, false}, {1, 65537, false}, {64, 65536, true}};
  bg::Thread_Pool factory;
  for (const auto& c : cases) {
    bg::Abstract_ThreadPool* pool = factory.createPool(c.threads, c.queue);
    EXPECT_EQ(pool != nullptr, c.made) << c.threads << " " << c.queue;
    if (pool == nullptr) continue;
    std::atomic<int> ran{0};
    EXPECT_TRUE(pool->addTask(countJob, &ran));
    EXPECT_TRUE(waitFor([&] { return ran.load() == 1; }));
    factory.destroyPool(&pool);
    EXPECT_EQ(pool, nullptr);
  }
}

TEST(ThreadPool, RefusesJobsBeyondTheQueueWithoutAPoolOrWithoutAFunction) {
  bg::Thread_Pool pool;
  std::atomic<int> ran{0};
  testing::internal::CaptureStderr();
  EXPECT_FALSE(pool.addTask(countJob, &ran)) << "not initialised";
  EXPECT_FALSE(pool.init(0, 8));
  EXPECT_FALSE(pool.addTask(countJob, &ran));
  testing::internal::GetCapturedStderr();
  ASSERT_TRUE(pool.init(1, 2));
  EXPECT_FALSE(pool.addTask(nullptr, nullptr));
  Gate gate;
  ASSERT_TRUE(pool.addTask(Gate::hold, &gate));
  ASSERT_TRUE(gate.waitEntered(1));
  EXPECT_TRUE(pool.addTask(countJob, &ran));
  EXPECT_TRUE(pool.addTask(countJob, &ran));
  EXPECT_FALSE(pool.addTask(countJob, &ran)) << "the queue holds two";
  gate.open();
  EXPECT_TRUE(waitFor([&] { return ran.load() == 2; }));
  EXPECT_TRUE(pool.addTask(countJob, &ran));
  EXPECT_TRUE(waitFor([&] { return ran.load() == 3; }));
  pool.exit();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(pool.addTask(countJob, &ran)) << "after exit";
  testing::internal::GetCapturedStderr();
}

TEST(ThreadPool, JobsRunFirstInFirstOutOnOneWorkerAndInitReplacesThePool) {
  bg::Thread_Pool pool;
  ASSERT_TRUE(pool.init(1, 1));
  ASSERT_TRUE(pool.init(1, 64));
  struct Entry {
    std::vector<int>* order;
    std::mutex* mutex;
    int value;
  };
  std::vector<int> order;
  std::mutex mutex;
  std::vector<Entry> entries;
  for (int i = 0; i < 50; ++i) entries.push_back(Entry{&order, &mutex, i});
  for (Entry& e : entries) {
    ASSERT_TRUE(pool.addTask(
        [](void* arg) {
          auto* e = static_cast<Entry*>(arg);
          std::lock_guard<std::mutex> lock(*e->mutex);
          e->order->push_back(e->value);
        },
        &e));
  }
  ASSERT_TRUE(waitFor([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return order.size() == entries.size();
  }));
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
}

TEST(ThreadPool, ClearTasksDropsOnlyWaitingJobs) {
  bg::Thread_Pool pool;
  ASSERT_TRUE(pool.init(1, 32));
  Gate gate;
  ASSERT_TRUE(pool.addTask(Gate::hold, &gate));
  ASSERT_TRUE(gate.waitEntered(1));
  std::atomic<int> dropped{0};
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(pool.addTask(countJob, &dropped));
  pool.clearTasks();
  gate.open();
  std::atomic<int> later{0};
  ASSERT_TRUE(pool.addTask(countJob, &later));
  EXPECT_TRUE(waitFor([&] { return later.load() == 1; }));
  EXPECT_EQ(gate.left(), 1);
  EXPECT_EQ(dropped.load(), 0);
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
  int threadsWithPool = threadsInProcess();
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
  EXPECT_TRUE(waitFor([&] { return threadsInProcess() == threadsWithPool - 1; }));
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

TEST(ThreadPoolStress, NothingRunsAfterADestroyWhileJobsAreQueued) {
  for (int round = 0; round < 20; ++round) {
    bg::Thread_Pool factory;
    bg::Abstract_ThreadPool* pool = factory.createPool(5, 4096);
    ASSERT_NE(pool, nullptr);
    std::atomic<int> ran{0};
    int added = 0;
    for (int i = 0; i < 4000; ++i) added += pool->addTask(countJob, &ran) ? 1 : 0;
    factory.destroyPool(&pool);
    int afterDestroy = ran.load();
    EXPECT_LE(afterDestroy, added);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(ran.load(), afterDestroy);
  }
}

}  // namespace
