#include "packet_pool/fl_queue.h"

#include <climits>
#include <cstdlib>
#include <ctime>

#include "platform/cpu_relax.h"
#include "platform/wait_word.h"

namespace pp {

namespace {

std::atomic<FLQueue::Disposer> g_disposer{nullptr};

// Queue entries live in a ring that only grows, so a push allocates nothing
// once the ring has held as many elements as the queue ever does.
const uint32_t kFirstCapacity = 16;

// A taker that finds the queue empty polls for a short while before it
// sleeps: with a busy producer the next packet is usually a moment away, and
// a sleep costs a system call on both sides.
const int kSpinsBeforeSleep = 400;

}  // namespace

void FLQueue::setDisposer(Disposer d) {
  g_disposer.store(d);
}

FLQueue::~FLQueue() {
  exit();
  clear();
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

bool FLQueue::appendLocked(const FLQueueElement& e) {
  int n = m_count.load(std::memory_order_relaxed);
  m_ring[(m_head + static_cast<uint32_t>(n)) & (m_capacity - 1)] = e;
  m_count.store(n + 1, std::memory_order_relaxed);
  m_bytes.store(m_bytes.load(std::memory_order_relaxed) + e.len + 16, std::memory_order_relaxed);
  return signalTakerLocked();
}

bool FLQueue::signalTakerLocked() {
  if (m_takersWaiting == 0 || m_takerWakeSent) return false;
  m_takerWakeSent = true;
  m_notEmpty.fetch_add(1, std::memory_order_relaxed);
  return true;
}

bool FLQueue::removeLocked(FLQueueElement* out) {
  *out = m_ring[m_head];
  m_head = (m_head + 1) & (m_capacity - 1);
  m_count.store(m_count.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
  m_bytes.store(m_bytes.load(std::memory_order_relaxed) - (out->len + 16), std::memory_order_relaxed);
  if (m_pushersWaiting == 0) return false;
  m_notFull.fetch_add(1, std::memory_order_relaxed);
  return true;
}

void FLQueue::spinWhileEmpty(int* spins) const {
  for (; *spins > 0; --*spins) {
    if (m_count.load(std::memory_order_relaxed) > 0 || m_exit.load(std::memory_order_relaxed)) return;
    bg::platform::cpuRelax();
  }
}

bool FLQueue::sleepOn(std::atomic<uint32_t>* word, int* waiting, const timespec* deadline) {
  // A change made after we read the word, under the lock we still hold,
  // makes the sleep return at once: no wake-up is lost.
  uint32_t seen = word->load(std::memory_order_relaxed);
  ++*waiting;
  m_lock.unlock();
  bool inTime = bg::platform::waitWord(word, seen, deadline);
  m_lock.lock();
  --*waiting;
  return inTime;
}

bool FLQueue::sleepAsTaker(const timespec* deadline) {
  bool inTime = sleepOn(&m_notEmpty, &m_takersWaiting, deadline);
  m_takerWakeSent = false;
  return inTime;
}

void FLQueue::wake(std::atomic<uint32_t>* word, int count) {
  bg::platform::wakeWord(word, count);
}

// One way out of the lock, as in pushBounded(): no early return can leave it held.
FLQueueStatus FLQueue::push(const FLQueueElement& e) {
  m_lock.lock();
  bool room = makeRoomLocked();
  bool wakeTaker = room && appendLocked(e);
  m_lock.unlock();
  if (wakeTaker) wake(&m_notEmpty, 1);
  return room ? FLQ_OK : FLQ_MALLOC_FAILED;
}

FLQueueStatus FLQueue::pushBounded(const FLQueueElement& e, int maxCount, bool block) {
  m_lock.lock();
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
    sleepOn(&m_notFull, &m_pushersWaiting, nullptr);
  }
  bool wakeTaker = false;
  if (status == FLQ_OK) {
    if (makeRoomLocked()) {
      wakeTaker = appendLocked(e);
    } else {
      status = FLQ_MALLOC_FAILED;
    }
  }
  m_lock.unlock();
  if (wakeTaker) wake(&m_notEmpty, 1);
  return status;
}

FLQueueStatus FLQueue::take(FLQueueElement* out, bool block, const timespec* deadline) {
  bool timed = !block && deadline != nullptr;
  bool mayWait = block || timed;
  int spins = mayWait ? kSpinsBeforeSleep : 0;
  bool wakePusher = false;
  bool wakeTaker = false;
  FLQueueStatus status;
  m_lock.lock();
  for (;;) {
    if (m_exit.load(std::memory_order_relaxed)) {
      status = FLQ_EXIT;
      break;
    }
    if (m_count.load(std::memory_order_relaxed) > 0) {
      wakePusher = removeLocked(out);
      wakeTaker = m_count.load(std::memory_order_relaxed) > 0 && signalTakerLocked();
      status = FLQ_OK;
      break;
    }
    if (!mayWait) {
      status = FLQ_NO_DATA;
      break;
    }
    if (spins > 0) {
      m_lock.unlock();
      spinWhileEmpty(&spins);
      m_lock.lock();
      continue;
    }
    // A wake-up without an element before the deadline (spurious, or another
    // taker was faster) waits again for the rest of the time.
    if (!sleepAsTaker(timed ? deadline : nullptr)) mayWait = false;
  }
  m_lock.unlock();
  if (wakePusher) wake(&m_notFull, 1);
  if (wakeTaker) wake(&m_notEmpty, 1);
  return status;
}

FLQueueStatus FLQueue::look(FLQueueElement* out, bool block, void (*onFound)(const FLQueueElement&)) {
  bool wakeTaker = false;
  FLQueueStatus status;
  m_lock.lock();
  for (;;) {
    if (m_exit.load(std::memory_order_relaxed)) {
      status = FLQ_EXIT;
      break;
    }
    if (m_count.load(std::memory_order_relaxed) > 0) {
      *out = m_ring[m_head];
      if (onFound) onFound(*out);
      wakeTaker = signalTakerLocked();
      status = FLQ_OK;
      break;
    }
    if (!block) {
      status = FLQ_NO_DATA;
      break;
    }
    sleepAsTaker(nullptr);
  }
  m_lock.unlock();
  if (wakeTaker) wake(&m_notEmpty, 1);
  return status;
}

bool FLQueue::at(int index, FLQueueElement* out) {
  m_lock.lock();
  bool found = index >= 0 && index < m_count.load(std::memory_order_relaxed);
  if (found) *out = m_ring[(m_head + static_cast<uint32_t>(index)) & (m_capacity - 1)];
  m_lock.unlock();
  return found;
}

void FLQueue::exit() {
  if (m_exit.load(std::memory_order_acquire)) return;
  m_lock.lock();
  m_exit.store(true, std::memory_order_release);
  m_notEmpty.fetch_add(1, std::memory_order_relaxed);
  m_notFull.fetch_add(1, std::memory_order_relaxed);
  m_lock.unlock();
  wake(&m_notEmpty, INT_MAX);
  wake(&m_notFull, INT_MAX);
}

void FLQueue::clear() {
  Disposer dispose = g_disposer.load();
  m_lock.lock();
  int n = m_count.load(std::memory_order_relaxed);
  for (int i = 0; i < n; ++i) {
    FLQueueElement* e = &m_ring[(m_head + static_cast<uint32_t>(i)) & (m_capacity - 1)];
    if (dispose) dispose(e);
  }
  m_head = 0;
  m_count.store(0, std::memory_order_relaxed);
  m_bytes.store(0, std::memory_order_relaxed);
  bool wakePushers = m_pushersWaiting > 0;
  if (wakePushers) m_notFull.fetch_add(1, std::memory_order_relaxed);
  m_lock.unlock();
  if (wakePushers) wake(&m_notFull, INT_MAX);
}

}  // namespace pp
