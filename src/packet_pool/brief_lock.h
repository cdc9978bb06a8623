// Locks held only for a few instructions at a time.
#ifndef KQBRIDGE_PACKET_POOL_BRIEF_LOCK_H_
#define KQBRIDGE_PACKET_POOL_BRIEF_LOCK_H_

#include <pthread.h>

#include <atomic>
#include <thread>

#include "platform/cpu_relax.h"

namespace pp {

// A few attempts, a moment apart; false when the lock stayed taken.
inline bool tryLockBriefly(pthread_mutex_t* m) {
  for (int i = 0; i < 64; ++i) {
    if (pthread_mutex_trylock(m) == 0) return true;
    bg::platform::cpuRelax();
  }
  return false;
}

// A lock for short sections that never sleep inside: taking
// it free costs one atomic exchange and giving it back a plain store, where
// a mutex costs two atomic steps and two calls. A thread that finds it taken
// polls for a moment, then yields its processor until the holder (perhaps
// preempted on a busy machine) lets go.
class BriefLock {
 public:
  void lock() {
    if (!m_held.exchange(true, std::memory_order_acquire)) return;
    lockContended();
  }
  void unlock() { m_held.store(false, std::memory_order_release); }

 private:
  void lockContended() {
    for (int polls = 0;; ++polls) {
      if (!m_held.load(std::memory_order_relaxed) && !m_held.exchange(true, std::memory_order_acquire))
        return;
      if (polls < 100) {
        bg::platform::cpuRelax();
      } else {
        std::this_thread::yield();
      }
    }
  }

  std::atomic<bool> m_held{false};
};

}  // namespace pp

#endif  // KQBRIDGE_PACKET_POOL_BRIEF_LOCK_H_
