// The one mutex, scoped lock and condition variable of the library, checked
// by Clang's thread-safety analysis. They sit on the POSIX threads API on
// every system we build for (MinGW-w64 brings its own winpthreads), so this
// header is the only place that names it for locking.
#ifndef KQBRIDGE_PLATFORM_MUTEX_H_
#define KQBRIDGE_PLATFORM_MUTEX_H_

#include <pthread.h>

#include <cerrno>
#include <ctime>

#include "platform/thread_annotations.h"

namespace bg {
namespace platform {

// A plain (not recursive) mutex: a thread that takes it twice deadlocks, so
// code that needs it in a helper passes it on as a REQUIRES(...) "…Locked()"
// function. Not copyable, not movable.
class CAPABILITY("mutex") Mutex {
 public:
  Mutex() { pthread_mutex_init(&m_mu, nullptr); }
  ~Mutex() { pthread_mutex_destroy(&m_mu); }
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { pthread_mutex_lock(&m_mu); }
  void unlock() RELEASE() { pthread_mutex_unlock(&m_mu); }
  // True when the mutex was free and is ours now.
  bool tryLock() TRY_ACQUIRE(true) { return pthread_mutex_trylock(&m_mu) == 0; }
  // Waits for the mutex until the absolute wall-clock `deadline`; false when
  // it passed first.
  bool lockUntil(const timespec& deadline) TRY_ACQUIRE(true) {
    return pthread_mutex_timedlock(&m_mu, &deadline) == 0;
  }

 private:
  friend class CondVar;
  pthread_mutex_t m_mu;
};

// Holds a Mutex for its own lifetime.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mu) ACQUIRE(mu) : m_mu(mu) { m_mu->lock(); }
  ~MutexLock() RELEASE() { m_mu->unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* const m_mu;
};

// Waits for a condition guarded by a Mutex; every wait on one CondVar names
// the same one.
class CondVar {
 public:
  CondVar() { pthread_cond_init(&m_cv, nullptr); }
  ~CondVar() { pthread_cond_destroy(&m_cv); }
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  // Releases `mu` while it sleeps and holds it again on return; may return
  // without a signal, so callers test their condition in a loop.
  void wait(Mutex* mu) REQUIRES(mu) { pthread_cond_wait(&m_cv, &mu->m_mu); }
  // As wait(), until the absolute wall-clock `deadline` (see deadlineAfterMs):
  // false once it has passed.
  bool waitUntil(Mutex* mu, const timespec& deadline) REQUIRES(mu) {
    return pthread_cond_timedwait(&m_cv, &mu->m_mu, &deadline) != ETIMEDOUT;
  }
  void signal() { pthread_cond_signal(&m_cv); }
  void signalAll() { pthread_cond_broadcast(&m_cv); }

 private:
  pthread_cond_t m_cv;
};

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_MUTEX_H_
