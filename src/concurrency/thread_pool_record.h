// The pool record under bg::Thread_Pool: workers over a fixed ring of jobs.
#ifndef KQBRIDGE_CONCURRENCY_THREAD_POOL_RECORD_H_
#define KQBRIDGE_CONCURRENCY_THREAD_POOL_RECORD_H_

#include <vector>

#include "platform/mutex.h"
#include "platform/thread.h"

namespace bg {

// Result codes of the record operations; the service turns them into bools.
enum PoolResult {
  kPoolOk = 0,
  kPoolInvalid = -1,
  kPoolQueueFull = -3,
  kPoolShutdown = -4,
  kPoolJoinFailure = -5,
};

const int kPoolMaxThreads = 64;
const int kPoolMaxQueue = 65536;

struct PoolJob {
  void (*fn)(void*);
  void* arg;
};

struct ThreadPoolRecord {
  explicit ThreadPoolRecord(int queueSize) : queue(queueSize), queueSize(queueSize) {}

  platform::Mutex lock;
  platform::CondVar notify;
  // Written only by the thread that makes, stops or destroys the record.
  std::vector<platform::Thread> threads;
  std::vector<PoolJob> queue GUARDED_BY(lock);
  const int queueSize;
  int head GUARDED_BY(lock) = 0;
  int tail GUARDED_BY(lock) = 0;
  int count GUARDED_BY(lock) = 0;
  bool shutdown GUARDED_BY(lock) = false;
  int started GUARDED_BY(lock) = 0;
  // Set when a job destroys its own pool: that worker cannot join itself,
  // so it frees the record on its way out instead. Only that very worker
  // reads it, after its own job set it.
  bool reapedByWorker = false;
  // The workers have been joined (by their owner's thread, the only one
  // that stops or destroys the record).
  bool joined = false;
  // Jobs a worker is running, and jobs that have returned.
  int running GUARDED_BY(lock) = 0;
  unsigned long long completed GUARDED_BY(lock) = 0;
};

struct PoolCounts {
  int workers = 0;
  int queued = 0;
  int running = 0;
  unsigned long long completed = 0;
};

// A started record with `threads` workers and room for `queueSize` waiting
// jobs; null outside 1..64 / 1..65536 or when anything fails.
ThreadPoolRecord* makePoolRecord(int threads, int queueSize);
// Queues one job, first in first out.
int addPoolJob(ThreadPoolRecord* pool, void (*fn)(void*), void* arg);
// Drops every waiting job.
int clearPoolJobs(ThreadPoolRecord* pool);
// Stops the workers at once (waiting jobs are dropped) and joins them; the
// record stays, refusing jobs (kPoolShutdown), until it is destroyed. Called
// by a job of the pool, it leaves that worker to free the record
// (reapedByWorker).
int stopPoolRecord(ThreadPoolRecord* pool);
// What the pool is doing now, read under its lock.
PoolCounts poolCounts(ThreadPoolRecord* pool);
// Stops the record if it still runs, then frees it. On -5 the record is
// left allocated.
int destroyPoolRecord(ThreadPoolRecord* pool);

}  // namespace bg

#endif  // KQBRIDGE_CONCURRENCY_THREAD_POOL_RECORD_H_
