#include "concurrency/blocking_io.h"

#include <algorithm>
#include <chrono>
#include <climits>

#include "concurrency/message_batch.h"
#include "platform/clock.h"
#include "platform/cpu_relax.h"
#include "platform/mutex.h"
#include "platform/wait_word.h"

namespace bg {

namespace {

using Clock = std::chrono::steady_clock;

// A reader that finds the queue empty polls before it sleeps, since a sleep
// costs a system call on both sides, but only while polling pays. It polls
// for twice the time polls have lately taken to see a message, within
// [kMinPollNs, kMaxPollNs]; a poll that ends in sleep halves that time.
// After kMissesToRest such polls in a row the reader rests: it sleeps at once
// for a number of waits, then probes with one poll of kMaxPollNs, long enough
// for a writer that was itself asleep to wake and answer. A failed probe
// doubles the rest, up to kLongestRest waits; a probe that sees a message
// sets the poll time to what it took. So a reader whose writer is slow, or
// shares its CPU and cannot write while it polls, soon stops polling, and one
// whose writer runs beside it on another CPU learns to poll again. kMaxPollNs
// keeps an idle reader asleep within tens of microseconds.
const int kMinPollNs = 2000;
const int kMaxPollNs = 40000;
const unsigned kMissesToRest = 4;
const unsigned kLongestRest = 255;

using platform::MutexLock;

}  // namespace

// Writers append to `pending` under `inLock`; readers pop from `batch` under
// `outLock` and, when it runs dry, swap in the whole of `pending` at once. A
// writer and a reader thus meet on a lock once per batch, not once per
// message, and both buffers are reused, so a message costs no allocation.
// Lock order: outLock, then inLock. What readers, writers and both touch
// sit on separate cache lines.
struct Blocking_IO::State {
  platform::Mutex outLock;
  MessageBatch batch GUARDED_BY(outLock);
  // Readers between taking outLock and their last unlock of it; the
  // destructor waits on `drained` until none is left.
  int inside GUARDED_BY(outLock) = 0;
  platform::CondVar drained;
  // How readers' polls have been going (see kMinPollNs).
  std::atomic<int> typicalPollNs{0};
  std::atomic<unsigned> missedPolls{0};
  std::atomic<unsigned> restLength{0};
  std::atomic<unsigned> restLeft{0};

  alignas(64) platform::Mutex inLock;
  MessageBatch pending GUARDED_BY(inLock);
  // Readers asleep (or about to be) on `wakeSeq`, and wakes sent to them
  // that no reader has answered yet. A writer wakes a reader only when a
  // sleeper has no wake coming, so a busy queue makes no system call per
  // message, and a burst does not wake the same sleeper over and over.
  int sleepers GUARDED_BY(inLock) = 0;
  int wakesInFlight GUARDED_BY(inLock) = 0;
  // Changed under inLock with every wake; readers sleep on it.
  std::atomic<uint32_t> wakeSeq{0};

  // Polled without a lock by readers about to sleep.
  alignas(64) std::atomic<bool> hasPending{false};
  alignas(64) std::atomic<bool> aborted{false};

  // Polls until a writer fills `pending` or the queue is aborted, if and as
  // long as polling pays (see kMinPollNs).
  void pollBeforeSleep() {
    unsigned left = restLeft.load(std::memory_order_relaxed);
    if (left > 0) {
      restLeft.store(left - 1, std::memory_order_relaxed);
      return;
    }
    unsigned missed = missedPolls.load(std::memory_order_relaxed);
    int typical = typicalPollNs.load(std::memory_order_relaxed);
    bool probe = missed >= kMissesToRest;
    Clock::duration budget = std::chrono::nanoseconds(
        probe ? kMaxPollNs : std::min(std::max(2 * typical, kMinPollNs), kMaxPollNs));
    Clock::time_point start = Clock::now();
    for (unsigned i = 1;; ++i) {
      if (hasPending.load(std::memory_order_relaxed) || aborted.load(std::memory_order_relaxed)) {
        Clock::duration took = std::min(Clock::now() - start, budget);
        int ns = static_cast<int>(std::chrono::duration_cast<std::chrono::nanoseconds>(took).count());
        typicalPollNs.store(probe ? ns : typical + (ns - typical) / 4, std::memory_order_relaxed);
        if (missed != 0) {
          missedPolls.store(0, std::memory_order_relaxed);
          restLength.store(0, std::memory_order_relaxed);
        }
        return;
      }
      platform::cpuRelax();
      if (i % 16 == 0 && Clock::now() - start > budget) break;
    }
    typicalPollNs.store(typical / 2, std::memory_order_relaxed);
    missedPolls.store(missed + 1, std::memory_order_relaxed);
    if (missed + 1 >= kMissesToRest) {
      unsigned rest = std::min(2 * restLength.load(std::memory_order_relaxed) + 1, kLongestRest);
      restLength.store(rest, std::memory_order_relaxed);
      restLeft.store(rest, std::memory_order_relaxed);
    }
  }
};

Blocking_IO::Blocking_IO(int direction) : m_state(new State), m_direction(direction), m_shares(1) {}

Blocking_IO::~Blocking_IO() {
  {
    MutexLock hold(&m_state->outLock);
    while (m_state->inside > 0) m_state->drained.wait(&m_state->outLock);
  }
  delete m_state;
}

int Blocking_IO::write(const void* data, int len) {
  State* s = m_state;
  if (s->aborted.load()) return len;
  bool wake;
  {
    MutexLock hold(&s->inLock);
    bool wasEmpty = s->pending.empty();
    s->pending.append(data, data != nullptr ? len : 0);
    if (wasEmpty) s->hasPending.store(true, std::memory_order_relaxed);
    wake = s->sleepers > s->wakesInFlight;
    if (wake) {
      s->wakesInFlight += 1;
      s->wakeSeq.fetch_add(1, std::memory_order_relaxed);
    }
  }
  // Woken after the unlock, so that the reader does not at once block on the
  // lock we still hold. The queue outlives this call: our caller's channel
  // end holds a share of it.
  if (wake) platform::wakeWord(&s->wakeSeq, 1);
  return len;
}

int Blocking_IO::take(void* buf, int size, const timespec* deadline, bool mayWait) {
  State* s = m_state;
  if (s->aborted.load()) return -1;
  s->outLock.lock();
  s->inside += 1;
  int copied = -1;
  bool polled = !mayWait;
  bool timedOut = !mayWait;
  for (;;) {
    if (!s->batch.empty()) {
      copied = s->batch.pop(buf, size);
      break;
    }
    // Before the first sleep we poll, on the flag rather than under the
    // writers' lock: each look there costs a writer a cache miss.
    if (!polled && !s->hasPending.load(std::memory_order_relaxed) &&
        !s->aborted.load(std::memory_order_relaxed)) {
      polled = true;
      s->outLock.unlock();
      s->pollBeforeSleep();
      s->outLock.lock();
      continue;
    }
    s->inLock.lock();
    if (!s->pending.empty()) {
      s->batch.clear();
      s->batch.swap(s->pending);
      s->hasPending.store(false, std::memory_order_relaxed);
      s->inLock.unlock();
      continue;
    }
    // A message that came with the abort is still taken; one that comes
    // after it is not (writes are dropped by then).
    if (s->aborted.load() || timedOut) {
      s->inLock.unlock();
      break;
    }
    // We register and read wakeSeq under inLock, where writers and abort()
    // change it: one that comes after our last look changes the word before
    // we sleep on it, or wakes us. Any wake-up answers one wake in flight:
    // whoever answers it looks at the queue again.
    s->outLock.unlock();
    s->sleepers += 1;
    uint32_t seq = s->wakeSeq.load(std::memory_order_relaxed);
    s->inLock.unlock();
    timedOut = !platform::waitWord(&s->wakeSeq, seq, deadline);
    s->inLock.lock();
    s->sleepers -= 1;
    if (s->wakesInFlight > 0) s->wakesInFlight -= 1;
    s->inLock.unlock();
    s->outLock.lock();
  }
  s->inside -= 1;
  if (s->inside == 0 && s->aborted.load()) s->drained.signal();
  // Nothing of the queue is touched after this unlock: the queue may be
  // deleted by then.
  s->outLock.unlock();
  return copied;
}

int Blocking_IO::read(void* buf, int size) {
  int n = take(buf, size, nullptr, true);
  return n < 0 ? 0 : n;
}

int Blocking_IO::timedRead(void* buf, int size, unsigned timeoutMs) {
  if (m_state->aborted.load()) return 0;
  timespec deadline = platform::deadlineAfterMs(timeoutMs);
  int n = take(buf, size, &deadline, timeoutMs > 0);
  return n < 0 ? 0 : n;
}

// The flag is set under inLock so that a reader that has just found the
// queue empty and is about to sleep cannot miss the wake.
void Blocking_IO::abort() {
  MutexLock hold(&m_state->inLock);
  if (m_state->aborted.exchange(true)) return;
  m_state->wakeSeq.fetch_add(1, std::memory_order_relaxed);
  platform::wakeWord(&m_state->wakeSeq, INT_MAX);
}

bool Blocking_IO::isAborted() {
  return m_state->aborted.load();
}

// A reader counts as waiting from the moment it asks until it has its
// message; this look holds outLock, so none of them is copying one out.
Blocking_IO::Counts Blocking_IO::counts() {
  State* s = m_state;
  Counts c;
  MutexLock out(&s->outLock);
  MutexLock in(&s->inLock);
  c.messages = s->batch.messages() + s->pending.messages();
  c.bytes = static_cast<long long>(s->batch.bytes()) + static_cast<long long>(s->pending.bytes());
  c.readersWaiting = s->inside;
  return c;
}

void Blocking_IO::addRef() {
  m_shares.fetch_add(1);
}

int Blocking_IO::release() {
  return m_shares.fetch_sub(1) - 1;
}

}  // namespace bg
