#include "concurrency/thread_pool_record.h"

#include <cstdlib>

#include "diagnostics/call_guard.h"

namespace bg {

namespace {

void freePoolRecord(ThreadPoolRecord* pool) {
  free(pool->threads);
  free(pool->queue);
  pthread_mutex_destroy(&pool->lock);
  pthread_cond_destroy(&pool->notify);
  free(pool);
}

void* runPoolWorker(void* arg) {
  ThreadPoolRecord* pool = static_cast<ThreadPoolRecord*>(arg);
  bool ranJob = false;
  for (;;) {
    pthread_mutex_lock(&pool->lock);
    if (ranJob) {
      pool->running -= 1;
      pool->completed += 1;
    }
    while (pool->count == 0 && !pool->shutdown) pthread_cond_wait(&pool->notify, &pool->lock);
    if (pool->shutdown) break;
    PoolJob job = pool->queue[pool->head];
    pool->head = (pool->head + 1) % pool->queueSize;
    pool->count -= 1;
    pool->running += 1;
    ranJob = true;
    pthread_mutex_unlock(&pool->lock);
    // A job that throws is reported, and its worker takes the next one.
    callGuarded([&job] { job.fn(job.arg); },
                [&job] { return codeThrew(reinterpret_cast<const void*>(job.fn), "a pool job"); });
  }
  pool->started -= 1;
  // Only this very thread sets the flag (from inside its own job), so it is
  // read here without a race.
  bool reap = pool->reapedByWorker != 0;
  pthread_mutex_unlock(&pool->lock);
  if (reap) freePoolRecord(pool);
  pthread_exit(nullptr);
}

int findCallingWorker(const ThreadPoolRecord* pool) {
  pthread_t self = pthread_self();
  for (int i = 0; i < pool->threadCount; ++i) {
    if (pthread_equal(pool->threads[i], self)) return i;
  }
  return -1;
}

}  // namespace

ThreadPoolRecord* makePoolRecord(int threads, int queueSize) {
  if (threads < 1 || threads > kPoolMaxThreads || queueSize < 1 || queueSize > kPoolMaxQueue) return nullptr;
  ThreadPoolRecord* pool = static_cast<ThreadPoolRecord*>(calloc(1, sizeof(ThreadPoolRecord)));
  if (pool == nullptr) return nullptr;
  pool->queueSize = queueSize;
  pool->threads = static_cast<pthread_t*>(calloc(threads, sizeof(pthread_t)));
  pool->queue = static_cast<PoolJob*>(calloc(queueSize, sizeof(PoolJob)));
  bool lockMade = pthread_mutex_init(&pool->lock, nullptr) == 0;
  bool condMade = pthread_cond_init(&pool->notify, nullptr) == 0;
  if (pool->threads == nullptr || pool->queue == nullptr || !lockMade || !condMade) {
    free(pool->threads);
    free(pool->queue);
    if (lockMade) pthread_mutex_destroy(&pool->lock);
    if (condMade) pthread_cond_destroy(&pool->notify);
    free(pool);
    return nullptr;
  }
  for (int i = 0; i < threads; ++i) {
    if (pthread_create(&pool->threads[i], nullptr, runPoolWorker, pool) != 0) {
      destroyPoolRecord(pool);
      return nullptr;
    }
    pthread_mutex_lock(&pool->lock);
    pool->threadCount += 1;
    pool->started += 1;
    pthread_mutex_unlock(&pool->lock);
  }
  return pool;
}

int addPoolJob(ThreadPoolRecord* pool, void (*fn)(void*), void* arg) {
  if (pool == nullptr || fn == nullptr) return kPoolInvalid;
  if (pthread_mutex_lock(&pool->lock) != 0) return kPoolLockFailure;
  int result = kPoolOk;
  if (pool->count == pool->queueSize) {
    result = kPoolQueueFull;
  } else if (pool->shutdown) {
    result = kPoolShutdown;
  } else {
    pool->queue[pool->tail] = PoolJob{fn, arg};
    pool->tail = (pool->tail + 1) % pool->queueSize;
    pool->count += 1;
    if (pthread_cond_signal(&pool->notify) != 0) result = kPoolLockFailure;
  }
  if (pthread_mutex_unlock(&pool->lock) != 0) result = kPoolLockFailure;
  return result;
}

int clearPoolJobs(ThreadPoolRecord* pool) {
  if (pool == nullptr) return kPoolInvalid;
  if (pthread_mutex_lock(&pool->lock) != 0) return kPoolLockFailure;
  pool->tail = pool->head;
  pool->count = 0;
  if (pthread_mutex_unlock(&pool->lock) != 0) return kPoolLockFailure;
  return kPoolOk;
}

PoolCounts poolCounts(ThreadPoolRecord* pool) {
  PoolCounts c;
  if (pool == nullptr || pthread_mutex_lock(&pool->lock) != 0) return c;
  c.workers = pool->started;
  c.queued = pool->count;
  c.running = pool->running;
  c.completed = pool->completed;
  pthread_mutex_unlock(&pool->lock);
  return c;
}

int stopPoolRecord(ThreadPoolRecord* pool) {
  if (pool == nullptr) return kPoolInvalid;
  if (pool->joined) return kPoolOk;
  if (pthread_mutex_lock(&pool->lock) != 0) return kPoolLockFailure;
  pool->shutdown = 1;
  bool signalled = pthread_cond_broadcast(&pool->notify) == 0;
  if (pthread_mutex_unlock(&pool->lock) != 0 || !signalled) return kPoolLockFailure;

  // A job that stops the pool running it would wait for its own thread
  // forever; that worker is detached instead and frees the record itself
  // once its job has returned.
  int self = findCallingWorker(pool);
  for (int i = 0; i < pool->threadCount; ++i) {
    if (i != self && pthread_join(pool->threads[i], nullptr) != 0) return kPoolJoinFailure;
  }
  if (self >= 0) {
    pthread_detach(pool->threads[self]);
    pool->reapedByWorker = 1;
  }
  pool->joined = 1;
  return kPoolOk;
}

int destroyPoolRecord(ThreadPoolRecord* pool) {
  int result = stopPoolRecord(pool);
  if (result == kPoolOk && !pool->reapedByWorker && pool->started == 0) freePoolRecord(pool);
  return result;
}

}  // namespace bg
