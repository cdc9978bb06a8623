// The FIFO between the producers and the consumer of a packet pool.
#ifndef KQBRIDGE_PACKET_POOL_FL_QUEUE_H_
#define KQBRIDGE_PACKET_POOL_FL_QUEUE_H_

#include <atomic>
#include <cstdint>
#include <ctime>

#include "kqbridge/packet_pool.h"
#include "platform/brief_lock.h"
#include "platform/thread_annotations.h"

namespace pp {

// Copied into and out of the queue by value; the queue never looks behind
// `data`.
struct FLQueueElement {
  void* data;
  int32_t len;
  int64_t value;
};

// Any number of threads may push and take. Elements leave in the order they
// came. exit() wakes every waiter and refuses bounded pushes and takes until
// resume(). count() and bytes() are read without the lock.
class FLQueue {
 public:
  // Called on each element the queue discards (clear, destruction); one
  // function for the whole process. The packet pool, the queue's one user,
  // installs it before it makes its first queue.
  using Disposer = void (*)(FLQueueElement*);
  static void setDisposer(Disposer d);

  FLQueue() = default;
  FLQueue(const FLQueue&) = delete;
  FLQueue& operator=(const FLQueue&) = delete;
  // Exits, then disposes of every element left.
  virtual ~FLQueue();

  // Appends without a bound, also in the exit state; 4 when no room can be
  // allocated.
  FLQueueStatus push(const FLQueueElement& e);
  // Appends while fewer than `maxCount` elements are queued: otherwise 3, or
  // with `block` waits for a take (1 on exit).
  FLQueueStatus pushBounded(const FLQueueElement& e, int maxCount, bool block);
  // Moves the oldest element to *out: 0; 1 on exit; 2 when there is none and
  // neither `block` nor a `deadline` (see platform::deadlineAfterMs) lets it wait, or
  // the deadline passed.
  FLQueueStatus take(FLQueueElement* out, bool block, const timespec* deadline);
  // Copies the oldest element to *out without taking it and, while it still
  // holds the lock, hands it to `onFound` (may be null). Statuses as take().
  FLQueueStatus look(FLQueueElement* out, bool block, void (*onFound)(const FLQueueElement&));
  // The element at `index` from the oldest; false when there is none.
  bool at(int index, FLQueueElement* out);

  void exit();
  bool isExit() const { return m_exit.load(std::memory_order_acquire); }
  // Leaves the exit state; wakes nobody.
  void resume() { m_exit.store(false, std::memory_order_release); }
  void clear();

  int count() const { return m_count.load(std::memory_order_relaxed); }
  // The sum of (length + 16) over the queued elements.
  int bytes() const { return m_bytes.load(std::memory_order_relaxed); }

 private:
  bool makeRoomLocked() REQUIRES(m_lock);
  // Both return true when a sleeper of the other side is to be woken.
  bool appendLocked(const FLQueueElement& e) REQUIRES(m_lock);
  bool removeLocked(FLQueueElement* out) REQUIRES(m_lock);
  void spinWhileEmpty(int* spins) const;
  // True when a sleeping taker is to be woken once the lock is released.
  bool signalTakerLocked() REQUIRES(m_lock);
  bool sleepAsTaker(const timespec* deadline) REQUIRES(m_lock);
  // Sleeps on `word` with the lock released; false when `deadline` passed.
  bool sleepOn(std::atomic<uint32_t>* word, int* waiting, const timespec* deadline) REQUIRES(m_lock);
  // Wakes `count` sleepers of `word` after the lock is released; the word
  // was changed under the lock.
  static void wake(std::atomic<uint32_t>* word, int count);

  // Read at the start of every operation, written rarely: kept away from
  // the line that every push and take writes.
  std::atomic<bool> m_exit{false};
  // The lock and everything a push or take touches under it share one cache
  // line, which moves between the producer and the consumer once per packet.
  // The lock is never held across a wait: waiters sleep on the two words
  // below, which a push or take changes (under the lock) only when somebody
  // sleeps on them.
  alignas(64) bg::platform::BriefLock m_lock;
  // A ring of m_capacity (a power of two) slots; m_count of them from m_head.
  FLQueueElement* m_ring GUARDED_BY(m_lock) = nullptr;
  uint32_t m_capacity GUARDED_BY(m_lock) = 0;
  uint32_t m_head GUARDED_BY(m_lock) = 0;
  // Threads asleep on each word, so that a push or take with nobody waiting
  // costs no wake-up.
  int m_takersWaiting GUARDED_BY(m_lock) = 0;
  int m_pushersWaiting GUARDED_BY(m_lock) = 0;
  // A taker has been woken and has not come back yet: the pushes meanwhile
  // wake nobody else (one system call per sleep, not per push), and the
  // taker that comes back passes the wake on when elements are left.
  bool m_takerWakeSent GUARDED_BY(m_lock) = false;
  // A taker that polls for the next element reads the count on a line of its
  // own, so that it does not pull the lock's line away from a pusher that
  // holds the lock.
  alignas(64) std::atomic<int> m_count{0};
  std::atomic<int> m_bytes{0};
  alignas(64) std::atomic<uint32_t> m_notEmpty{0};
  std::atomic<uint32_t> m_notFull{0};
};

}  // namespace pp

#endif  // KQBRIDGE_PACKET_POOL_FL_QUEUE_H_
