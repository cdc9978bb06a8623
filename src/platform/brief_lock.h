// Locks held only for a few instructions at a time.
#ifndef KQBRIDGE_PLATFORM_BRIEF_LOCK_H_
#define KQBRIDGE_PLATFORM_BRIEF_LOCK_H_

#include <atomic>
#include <thread>

#include "platform/cpu_relax.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace bg {
namespace platform {

// A few attempts on `mu`, a moment apart; false when it stayed taken.
inline bool tryLockBriefly(Mutex* mu) TRY_ACQUIRE(true, mu) {
  for (int i = 0; i < 64; ++i) {
    if (mu->tryLock()) return true;
    cpuRelax();
  }
  return false;
}

// A lock for short sections that never sleep inside: taking it free costs
// one atomic exchange and giving it back a plain store, where a mutex costs
// two atomic steps and two calls. A thread that finds it taken polls for a
// moment, then yields its processor until the holder (perhaps preempted on a
// busy machine) lets go.
class CAPABILITY("mutex") BriefLock {
 public:
  void lock() ACQUIRE() {
    if (!m_held.exchange(true, std::memory_order_acquire)) return;
    lockContended();
  }
  void unlock() RELEASE() { m_held.store(false, std::memory_order_release); }

 private:
  void lockContended() {
    for (int polls = 0;; ++polls) {
      if (!m_held.load(std::memory_order_relaxed) && !m_held.exchange(true, std::memory_order_acquire))
        return;
      if (polls < 100) {
        cpuRelax();
      } else {
        std::this_thread::yield();
      }
    }
  }

  std::atomic<bool> m_held{false};
};

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_BRIEF_LOCK_H_
