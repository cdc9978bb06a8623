#include "kqbridge/thread_pool.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

const char kNotInited[] = "[thread_pool] >> err:  pool must be inited !\n";
const char kDeleteMyself[] = "[thread_pool] >> err:  pool can't delete myself ...\n";

// A job that holds its worker until the test opens the gate.
class Gate {
 public:
  static void hold(void* arg) { static_cast<Gate*>(arg)->enterAndWait(); }

  void enterAndWait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_entered += 1;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_open; });
    m_left += 1;
  }
  bool waitEntered(int n) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_entered >= n; });
  }
  void open() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = true;
    m_changed.notify_all();
  }
  int left() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_left;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_entered = 0;
  int m_left = 0;
  bool m_open = false;
};

void countJob(void* arg) {
  static_cast<std::atomic<int>*>(arg)->fetch_add(1);
}

bool waitFor(const std::function<bool()>& done, int seconds = 30) {
  auto deadline = steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

int threadsInProcess() {
  int n = 0;
  DIR* dir = opendir("/proc/self/task");
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] != '.') n += 1;
  }
  closedir(dir);
  return n;
}

TEST(ThreadPool, CreatePoolEnforcesLimits) {
  bg::Thread_Pool factory;
  EXPECT_EQ(factory.createPool(0, 16), nullptr);
  EXPECT_EQ(factory.createPool(65, 16), nullptr);
  EXPECT_EQ(factory.createPool(1, 0), nullptr);
  EXPECT_EQ(factory.createPool(1, 65537), nullptr);

  bg::Abstract_ThreadPool* big = factory.createPool(64, 65536);
  ASSERT_NE(big, nullptr);
  std::atomic<int> ran{0};
  EXPECT_TRUE(big->addTask(countJob, &ran));
  EXPECT_TRUE(waitFor([&] { return ran.load() == 1; }));
  factory.destroyPool(&big);
  EXPECT_EQ(big, nullptr);
}

TEST(ThreadPool, FullQueueRefusesOnlyBeyondItsSize) {
  bg::Thread_Pool pool;
  ASSERT_TRUE(pool.init(1, 2));
  Gate gate;
  ASSERT_TRUE(pool.addTask(Gate::hold, &gate));
  ASSERT_TRUE(gate.waitEntered(1));

  std::atomic<int> ran{0};
  EXPECT_TRUE(pool.addTask(countJob, &ran));
  EXPECT_TRUE(pool.addTask(countJob, &ran));
  EXPECT_FALSE(pool.addTask(countJob, &ran));

  gate.open();
  EXPECT_TRUE(waitFor([&] { return ran.load() == 2; }));
  EXPECT_TRUE(pool.addTask(countJob, &ran));
  EXPECT_TRUE(waitFor([&] { return ran.load() == 3; }));
}

TEST(ThreadPool, JobsRunFirstInFirstOutOnOneWorker) {
  bg::Thread_Pool pool;
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
          Entry* e = static_cast<Entry*>(arg);
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

TEST(ThreadPool, DestroyWaitsForRunningJobAndDropsWaitingOnes) {
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
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_FALSE(destroyed.load());
  gate.open();
  destroyer.join();
  EXPECT_TRUE(destroyed.load());
  EXPECT_EQ(pool, nullptr);
  EXPECT_EQ(gate.left(), 2);
  EXPECT_EQ(dropped.load(), 0);
}

TEST(ThreadPool, AddTaskWithoutPoolReportsIt) {
  bg::Thread_Pool pool;
  std::atomic<int> ran{0};
  testing::internal::CaptureStderr();
  EXPECT_FALSE(pool.addTask(countJob, &ran));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kNotInited);

  ASSERT_TRUE(pool.init(2, 8));
  pool.exit();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(pool.addTask(countJob, &ran));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kNotInited);

  EXPECT_FALSE(pool.init(0, 8));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(pool.addTask(countJob, &ran));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kNotInited);
  EXPECT_EQ(ran.load(), 0);
}

TEST(ThreadPool, NullJobIsRefusedSilently) {
  bg::Thread_Pool pool;
  ASSERT_TRUE(pool.init(1, 4));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(pool.addTask(nullptr, nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(ThreadPool, InitReplacesTheRunningPool) {
  bg::Thread_Pool pool;
  ASSERT_TRUE(pool.init(1, 1));
  ASSERT_TRUE(pool.init(3, 100));
  std::atomic<int> ran{0};
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(pool.addTask(countJob, &ran));
  EXPECT_TRUE(waitFor([&] { return ran.load() == 50; }));
}

TEST(ThreadPool, DestroyPoolRefusesItself) {
  bg::Thread_Pool pool;
  ASSERT_TRUE(pool.init(1, 4));
  bg::Abstract_ThreadPool* self = &pool;
  testing::internal::CaptureStderr();
  pool.destroyPool(&self);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kDeleteMyself);
  EXPECT_EQ(self, &pool);
  std::atomic<int> ran{0};
  EXPECT_TRUE(pool.addTask(countJob, &ran));
  EXPECT_TRUE(waitFor([&] { return ran.load() == 1; }));

  bg::Abstract_ThreadPool* none = nullptr;
  pool.destroyPool(&none);
  EXPECT_EQ(none, nullptr);
}

// The worker running the job cannot join itself: the destroy returns, the
// jobs still waiting are dropped, and that worker goes away on its own.
TEST(ThreadPool, JobMayDestroyItsOwnPool) {
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
        Context* c = static_cast<Context*>(arg);
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
  std::unique_ptr<std::atomic<int>[]> runs(new std::atomic<int>[kJobs]);
  for (int i = 0; i < kJobs; ++i) runs[i].store(0);
  std::atomic<int> done{0};
  struct Job {
    std::atomic<int>* run;
    std::atomic<int>* done;
  };
  std::vector<Job> jobs(kJobs);
  for (int i = 0; i < kJobs; ++i) {
    jobs[i] = Job{&runs[i], &done};
    while (!pool.addTask(
        [](void* arg) {
          Job* j = static_cast<Job*>(arg);
          j->run->fetch_add(1);
          j->done->fetch_add(1);
        },
        &jobs[i])) {
      std::this_thread::yield();
    }
  }
  ASSERT_TRUE(waitFor([&] { return done.load() == kJobs; }, 120));
  pool.exit();
  int wrong = 0;
  for (int i = 0; i < kJobs; ++i) wrong += runs[i].load() != 1;
  EXPECT_EQ(wrong, 0);
}

TEST(ThreadPoolStress, DestroyWhileJobsAreQueued) {
  for (int round = 0; round < 20; ++round) {
    bg::Thread_Pool factory;
    bg::Abstract_ThreadPool* pool = factory.createPool(5, 4096);
    ASSERT_NE(pool, nullptr);
    std::atomic<int> ran{0};
    int added = 0;
    for (int i = 0; i < 4000; ++i) added += pool->addTask(countJob, &ran) ? 1 : 0;
    factory.destroyPool(&pool);
    EXPECT_EQ(pool, nullptr);
    int afterDestroy = ran.load();
    EXPECT_LE(afterDestroy, added);
    std::this_thread::sleep_for(milliseconds(5));
    EXPECT_EQ(ran.load(), afterDestroy);
  }
}

}  // namespace
