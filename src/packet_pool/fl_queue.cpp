#include "packet_pool/fl_queue.h"

#include <sys/time.h>

#include <cstdlib>
#include <ctime>

#include "kqbridge/utils.h"
#include "packet_pool/brief_lock.h"

namespace pp {

namespace {

std::atomic<FLQueue::Disposer> g_disposer{nullptr};

void freeElement(FLQueueElement* e) {
  free(e->data);
  *e = FLQueueElement{};
}

// Queue entries live in a ring that only grows, so a push allocates nothing
// once the ring has held as many elements as the queue ever does.
const uint32_t kFirstCapacity = 16;

// A taker that finds the queue empty polls for a short while before it
// sleeps: with a busy producer the next packet is usually a moment away, and
// a sleep costs a system call on both sides.
const int kSpinsBeforeSleep = 400;

}  // namespace

timespec deadlineAfter(int timeoutMs) {
  struct timeval now;
  bg::gettimeofday(&now, nullptr);
  // Microseconds and the milliseconds below a second may add up to more than
  // a second; carry it so the nanosecond field stays below 10^9.
  int64_t ns = static_cast<int64_t>(now.tv_usec) * 1000 + static_cast<int64_t>(timeoutMs % 1000) * 1000000;
  timespec deadline;
  deadline.tv_sec = now.tv_sec + timeoutMs / 1000 + static_cast<time_t>(ns / 1000000000);
  deadline.tv_nsec = static_cast<long>(ns % 1000000000);
  return deadline;
}

void FLQueue::setDisposer(Disposer d) {
  g_disposer.store(d);
}

FLQueue::FLQueue() {
  Disposer none = nullptr;
  g_disposer.compare_exchange_strong(none, freeElement);
  pthread_mutex_init(&m_lock, nullptr);
  pthread_cond_init(&m_notEmpty, nullptr);
  pthread_cond_init(&m_notFull, nullptr);
}

FLQueue::~FLQueue() {
  exit();
  clear();
  pthread_mutex_destroy(&m_lock);
  pthread_cond_destroy(&m_notEmpty);
  pthread_cond_destroy(&m_notFull);
  free(m_ring);
}

bool FLQueue::makeRoomLocked() {
  uint32_t n = static_cast<uint32_t>(m_count.load(std::memory_order_relaxed));
  if (n < m_capacity) return true;
  if (m_capacity > (1u << 30)) return false;
  uint32_t capacity = m_capacity ? m_capacity * 2 : kFirstCapacity;
  FLQueueElement* ring = static_cast<FLQueueElement*>(malloc(capacity * sizeof(FLQueueElement)));
  if (ring == nullptr) return false;
  for (uint32_t i = 0; i < n; ++i) ring[i] = m_ring[(m_head + i) & (m_capacity - 1)];
  free(m_ring);
  m_ring = ring;
  m_capacity = capacity;
  m_head = 0;
  return true;
}

void FLQueue::appendLocked(const FLQueueElement& e) {
  int n = m_count.load(std::memory_order_relaxed);
  m_ring[(m_head + static_cast<uint32_t>(n)) & (m_capacity - 1)] = e;
  m_count.store(n + 1, std::memory_order_relaxed);
  m_bytes.store(m_bytes.load(std::memory_order_relaxed) + e.len + 16, std::memory_order_relaxed);
  if (m_takersWaiting > 0) pthread_cond_signal(&m_notEmpty);
}

FLQueueElement FLQueue::removeLocked() {
  FLQueueElement e = m_ring[m_head];
  m_head = (m_head + 1) & (m_capacity - 1);
  m_count.store(m_count.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
  m_bytes.store(m_bytes.load(std::memory_order_relaxed) - (e.len + 16), std::memory_order_relaxed);
  if (m_pushersWaiting > 0) pthread_cond_signal(&m_notFull);
  return e;
}

void FLQueue::spinWhileEmpty(int* spins) const {
  for (; *spins > 0; --*spins) {
    if (m_count.load(std::memory_order_relaxed) > 0 || m_exit.load(std::memory_order_relaxed)) return;
    pauseCpu();
  }
}

FLQueueStatus FLQueue::push(const FLQueueElement& e) {
  lockBriefly(&m_lock);
  if (!makeRoomLocked()) {
    pthread_mutex_unlock(&m_lock);
    return FLQ_MALLOC_FAILED;
  }
  appendLocked(e);
  pthread_mutex_unlock(&m_lock);
  return FLQ_OK;
}

FLQueueStatus FLQueue::pushBounded(const FLQueueElement& e, int maxCount, bool block) {
  lockBriefly(&m_lock);
  FLQueueStatus status = FLQ_OK;
  for (;;) {
    if (m_exit.load(std::memory_order_relaxed)) {
      status = FLQ_EXIT;
      break;
    }
    if (m_count.load(std::memory_order_relaxed) < maxCount) break;
    if (!block) {
      status = FLQ_FULL;
      break;
    }
    ++m_pushersWaiting;
    pthread_cond_wait(&m_notFull, &m_lock);
    --m_pushersWaiting;
  }
  if (status == FLQ_OK) {
    if (makeRoomLocked()) {
      appendLocked(e);
    } else {
      status = FLQ_MALLOC_FAILED;
    }
  }
  pthread_mutex_unlock(&m_lock);
  return status;
}

FLQueueStatus FLQueue::take(FLQueueElement* out, bool block, const timespec* deadline) {
  bool timed = !block && deadline != nullptr;
  bool mayWait = block || timed;
  int spins = mayWait ? kSpinsBeforeSleep : 0;
  FLQueueStatus status;
  lockBriefly(&m_lock);
  for (;;) {
    if (m_exit.load(std::memory_order_relaxed)) {
      status = FLQ_EXIT;
      break;
    }
    if (m_count.load(std::memory_order_relaxed) > 0) {
      *out = removeLocked();
      status = FLQ_OK;
      break;
    }
    if (!mayWait) {
      status = FLQ_NO_DATA;
      break;
    }
    if (spins > 0) {
      pthread_mutex_unlock(&m_lock);
      spinWhileEmpty(&spins);
      lockBriefly(&m_lock);
      continue;
    }
    ++m_takersWaiting;
    // A wake-up without an element before the deadline (spurious, or another
    // taker was faster) waits again for the rest of the time.
    int rc = timed ? pthread_cond_timedwait(&m_notEmpty, &m_lock, deadline) : pthread_cond_wait(&m_notEmpty, &m_lock);
    --m_takersWaiting;
    if (rc != 0) mayWait = false;
  }
  pthread_mutex_unlock(&m_lock);
  return status;
}

FLQueueStatus FLQueue::look(FLQueueElement* out, bool block, void (*onFound)(const FLQueueElement&)) {
  FLQueueStatus status;
  lockBriefly(&m_lock);
  for (;;) {
    if (m_exit.load(std::memory_order_relaxed)) {
      status = FLQ_EXIT;
      break;
    }
    if (m_count.load(std::memory_order_relaxed) > 0) {
      *out = m_ring[m_head];
      if (onFound) onFound(*out);
      status = FLQ_OK;
      break;
    }
    if (!block) {
      status = FLQ_NO_DATA;
      break;
    }
    ++m_takersWaiting;
    pthread_cond_wait(&m_notEmpty, &m_lock);
    --m_takersWaiting;
  }
  pthread_mutex_unlock(&m_lock);
  return status;
}

bool FLQueue::at(int index, FLQueueElement* out) {
  lockBriefly(&m_lock);
  bool found = index >= 0 && index < m_count.load(std::memory_order_relaxed);
  if (found) *out = m_ring[(m_head + static_cast<uint32_t>(index)) & (m_capacity - 1)];
  pthread_mutex_unlock(&m_lock);
  return found;
}

void FLQueue::exit() {
  if (m_exit.load(std::memory_order_acquire)) return;
  lockBriefly(&m_lock);
  m_exit.store(true, std::memory_order_release);
  pthread_cond_broadcast(&m_notEmpty);
  pthread_cond_broadcast(&m_notFull);
  pthread_mutex_unlock(&m_lock);
}

void FLQueue::clear() {
  Disposer dispose = g_disposer.load();
  lockBriefly(&m_lock);
  int n = m_count.load(std::memory_order_relaxed);
  for (int i = 0; i < n; ++i) {
    FLQueueElement* e = &m_ring[(m_head + static_cast<uint32_t>(i)) & (m_capacity - 1)];
    if (dispose) dispose(e);
  }
  m_head = 0;
  m_count.store(0, std::memory_order_relaxed);
  m_bytes.store(0, std::memory_order_relaxed);
  if (m_pushersWaiting > 0) pthread_cond_broadcast(&m_notFull);
  pthread_mutex_unlock(&m_lock);
}

}  // namespace pp
