#include "concurrency/thread_pool_record.h"

#include <new>

#include "diagnostics/call_guard.h"

namespace bg {

namespace {

void* runPoolWorker(void* arg) {
  ThreadPoolRecord* pool = static_cast<ThreadPoolRecord*>(arg);
  pool->lock.lock();
  for (;;) {
    while (pool->count == 0 && !pool->shutdown) pool->notify.wait(&pool->lock);
    if (pool->shutdown) break;
    PoolJob job = pool->queue[pool->head];
    pool->head = (pool->head + 1) % pool->queueSize;
    pool->count -= 1;
    pool->running += 1;
    pool->lock.unlock();
    // A job that throws is reported, and its worker takes the next one.
    callGuarded([&job] { job.fn(job.arg); },
                [&job] { return codeThrew(reinterpret_cast<const void*>(job.fn), "a pool job"); });
    pool->lock.lock();
    pool->running -= 1;
    pool->completed += 1;
  }
  pool->started -= 1;
  bool reap = pool->reapedByWorker;
  pool->lock.unlock();
  if (reap) delete pool;
  return nullptr;
}

int findCallingWorker(const ThreadPoolRecord* pool) {
  for (size_t i = 0; i < pool->threads.size(); ++i) {
    if (pool->threads[i].isCurrent()) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

ThreadPoolRecord* makePoolRecord(int threads, int queueSize) {
  if (threads < 1 || threads > kPoolMaxThreads || queueSize < 1 || queueSize > kPoolMaxQueue) return nullptr;
  ThreadPoolRecord* pool = new (std::nothrow) ThreadPoolRecord(queueSize);
  if (pool == nullptr) return nullptr;
  pool->threads.reserve(threads);
  for (int i = 0; i < threads; ++i) {
    platform::Thread worker;
    if (!worker.start(runPoolWorker, pool)) {
      destroyPoolRecord(pool);
      return nullptr;
    }
    pool->threads.push_back(worker);
    platform::MutexLock hold(&pool->lock);
    pool->started += 1;
  }
  return pool;
}

int addPoolJob(ThreadPoolRecord* pool, void (*fn)(void*), void* arg) {
  if (pool == nullptr || fn == nullptr) return kPoolInvalid;
  platform::MutexLock hold(&pool->lock);
  if (pool->count == pool->queueSize) return kPoolQueueFull;
  if (pool->shutdown) return kPoolShutdown;
  pool->queue[pool->tail] = PoolJob{fn, arg};
  pool->tail = (pool->tail + 1) % pool->queueSize;
  pool->count += 1;
  pool->notify.signal();
  return kPoolOk;
}

int clearPoolJobs(ThreadPoolRecord* pool) {
  if (pool == nullptr) return kPoolInvalid;
  platform::MutexLock hold(&pool->lock);
  pool->tail = pool->head;
  pool->count = 0;
  return kPoolOk;
}

PoolCounts poolCounts(ThreadPoolRecord* pool) {
  PoolCounts c;
  if (pool == nullptr) return c;
  platform::MutexLock hold(&pool->lock);
  c.workers = pool->started;
  c.queued = pool->count;
  c.running = pool->running;
  c.completed = pool->completed;
  return c;
}

int stopPoolRecord(ThreadPoolRecord* pool) {
  if (pool == nullptr) return kPoolInvalid;
  if (pool->joined) return kPoolOk;
  {
    platform::MutexLock hold(&pool->lock);
    pool->shutdown = true;
    pool->notify.signalAll();
  }
  // A job that stops the pool running it would wait for its own thread
  // forever; that worker is detached instead and frees the record itself
  // once its job has returned.
  int self = findCallingWorker(pool);
  for (int i = 0; i < static_cast<int>(pool->threads.size()); ++i) {
    if (i != self && !pool->threads[i].join()) return kPoolJoinFailure;
  }
  if (self >= 0) {
    pool->threads[self].detach();
    pool->reapedByWorker = true;
  }
  pool->joined = true;
  return kPoolOk;
}

int destroyPoolRecord(ThreadPoolRecord* pool) {
  int result = stopPoolRecord(pool);
  if (result != kPoolOk || pool->reapedByWorker) return result;
  bool idle;
  {
    platform::MutexLock hold(&pool->lock);
    idle = pool->started == 0;
  }
  if (idle) delete pool;
  return result;
}

}  // namespace bg
