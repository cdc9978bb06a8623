// Taking a lock that is held only for a few instructions at a time.
#ifndef KQBRIDGE_PACKET_POOL_BRIEF_LOCK_H_
#define KQBRIDGE_PACKET_POOL_BRIEF_LOCK_H_

#include <pthread.h>

namespace pp {

inline void pauseCpu() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// A few attempts, a moment apart; false when the lock stayed taken.
inline bool tryLockBriefly(pthread_mutex_t* m) {
  for (int i = 0; i < 64; ++i) {
    if (pthread_mutex_trylock(m) == 0) return true;
    pauseCpu();
  }
  return false;
}

// The producer and the consumer meet on the queue's lock and the free list's
// lock for every packet, each holding it for a few instructions. Blocking at
// once on such a lock costs a sleep and a wake-up system call where waiting
// a moment would have sufficed, so we try a few times before we block.
inline void lockBriefly(pthread_mutex_t* m) {
  if (!tryLockBriefly(m)) pthread_mutex_lock(m);
}

}  // namespace pp

#endif  // KQBRIDGE_PACKET_POOL_BRIEF_LOCK_H_
