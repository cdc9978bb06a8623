/// \file
/// bg::Thread_Pool: a fixed set of worker threads over a bounded ring of jobs.
#ifndef KQBRIDGE_THREAD_POOL_H_
#define KQBRIDGE_THREAD_POOL_H_

#include "kqbridge/interface.h"

namespace bg {

/// Jobs are plain functions with one untyped argument, run first in first out
/// on 1..64 workers with room for 1..65536 waiting jobs. Shutdown is
/// immediate: running jobs finish, waiting jobs are dropped. addTask and
/// clearTasks are safe from any thread, jobs included; init, exit and
/// deletion come from the owner's thread while nobody else adds jobs.
class KQ_EXPORT Abstract_ThreadPool : public Abstract_Base {
 public:
  /// False when the pool is not started, full, shutting down, or `fn` is null.
  virtual bool addTask(void (*fn)(void*), void* arg) = 0;
  /// Drops every waiting job; running jobs are not affected.
  virtual void clearTasks() = 0;
  /// A new, started pool, owned by the caller until it gives it to
  /// destroyPool; null when it cannot be made.
  virtual Abstract_ThreadPool* createPool(int threads, int queueSize) = 0;
  /// Deletes *pp (after its workers have exited) and nulls it; refuses this object.
  virtual void destroyPool(Abstract_ThreadPool** pp) = 0;
};

struct ThreadPoolRecord;

/// The pool behind the shared m_threadPool of every component (5 workers,
/// room for 4096 jobs), stopped at shutdown after every abort flag is set.
class KQ_EXPORT Thread_Pool : public Abstract_ThreadPool {
 public:
  /// Not started: addTask refuses jobs until init().
  Thread_Pool();
  /// Ends the pool (exit()) and frees it.
  ~Thread_Pool() override;
  bool addTask(void (*fn)(void*), void* arg) override;
  void clearTasks() override;
  Abstract_ThreadPool* createPool(int threads, int queueSize) override;
  void destroyPool(Abstract_ThreadPool** pp) override;

  /// Replaces any running pool with a new one; true when it was made.
  bool init(int threads, int queueSize);
  /// Ends the pool and joins its workers.
  void exit();

 protected:
  ThreadPoolRecord* m_pool;  ///< the workers and the ring of jobs (defined in src/); null before init()

 private:
  // Reads what the pool is doing for the admin endpoint (src/admin/).
  friend struct StatusProbe;
};

}  // namespace bg

#endif  // KQBRIDGE_THREAD_POOL_H_
