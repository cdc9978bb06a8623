#include "concurrency/blocking_io.h"

#include <pthread.h>
#include <sys/time.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <utility>

#include "kqbridge/utils.h"

namespace bg {

struct Blocking_IO::State {
  std::deque<std::string> items;
  pthread_mutex_t lock;
  pthread_cond_t notEmpty;
  // Signalled when the last reader inside a take leaves an aborted queue;
  // the destructor waits on it.
  pthread_cond_t drained;
  std::atomic<bool> aborted;
  // items.size(), for readers polling without the lock.
  std::atomic<size_t> queued;
  // Readers between taking the lock and their last unlock.
  int inside;
};

namespace {

// Before it sleeps, a reader that found the queue empty polls for a short
// while: with a busy writer the next message is usually a moment away, and
// a sleep costs a system call on both sides.
const int kPollsBeforeSleep = 200;

inline void pauseCpu() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

int copyOut(const std::string& item, void* buf, int size) {
  int n = size < 0 ? 0 : (static_cast<size_t>(size) < item.size() ? size : static_cast<int>(item.size()));
  if (n > 0) memcpy(buf, item.data(), static_cast<size_t>(n));
  return n;
}

timespec deadlineAfter(unsigned timeoutMs) {
  struct timeval now;
  bg::gettimeofday(&now, nullptr);
  long long ns =
      static_cast<long long>(now.tv_usec) * 1000 + static_cast<long long>(timeoutMs % 1000) * 1000000;
  timespec deadline;
  deadline.tv_sec = now.tv_sec + static_cast<time_t>(timeoutMs / 1000) + static_cast<time_t>(ns / 1000000000);
  deadline.tv_nsec = static_cast<long>(ns % 1000000000);
  return deadline;
}

}  // namespace

Blocking_IO::Blocking_IO(int direction) : m_state(new State), m_direction(direction), m_shares(1) {
  pthread_mutex_init(&m_state->lock, nullptr);
  pthread_cond_init(&m_state->notEmpty, nullptr);
  pthread_cond_init(&m_state->drained, nullptr);
  m_state->aborted.store(false);
  m_state->queued.store(0);
  m_state->inside = 0;
}

Blocking_IO::~Blocking_IO() {
  pthread_mutex_lock(&m_state->lock);
  while (m_state->inside > 0) pthread_cond_wait(&m_state->drained, &m_state->lock);
  pthread_mutex_unlock(&m_state->lock);
  pthread_mutex_destroy(&m_state->lock);
  pthread_cond_destroy(&m_state->notEmpty);
  pthread_cond_destroy(&m_state->drained);
  delete m_state;
}

int Blocking_IO::write(const void* data, int len) {
  if (m_state->aborted.load()) return len;
  std::string item;
  if (len > 0 && data != nullptr) item.assign(static_cast<const char*>(data), static_cast<size_t>(len));
  pthread_mutex_lock(&m_state->lock);
  m_state->items.push_back(std::move(item));
  m_state->queued.store(m_state->items.size(), std::memory_order_relaxed);
  pthread_cond_signal(&m_state->notEmpty);
  pthread_mutex_unlock(&m_state->lock);
  return len;
}

bool Blocking_IO::take(std::string* item, const timespec* deadline, int pollsBeforeSleep) {
  if (m_state->aborted.load()) return false;
  pthread_mutex_lock(&m_state->lock);
  m_state->inside += 1;
  bool polled = false;
  while (!m_state->aborted.load() && m_state->items.empty()) {
    if (!polled && pollsBeforeSleep > 0) {
      polled = true;
      pthread_mutex_unlock(&m_state->lock);
      for (int i = 0; i < pollsBeforeSleep; ++i) {
        if (m_state->queued.load(std::memory_order_relaxed) != 0 ||
            m_state->aborted.load(std::memory_order_relaxed)) {
          break;
        }
        pauseCpu();
      }
      pthread_mutex_lock(&m_state->lock);
      continue;
    }
    if (deadline == nullptr) {
      pthread_cond_wait(&m_state->notEmpty, &m_state->lock);
    } else if (pthread_cond_timedwait(&m_state->notEmpty, &m_state->lock, deadline) == ETIMEDOUT) {
      break;
    }
  }
  bool taken = !m_state->items.empty();
  if (taken) {
    *item = std::move(m_state->items.front());
    m_state->items.pop_front();
    m_state->queued.store(m_state->items.size(), std::memory_order_relaxed);
  }
  m_state->inside -= 1;
  if (m_state->inside == 0 && m_state->aborted.load()) pthread_cond_signal(&m_state->drained);
  // Nothing of the queue is touched after this unlock: the queue may be
  // deleted by then.
  pthread_mutex_unlock(&m_state->lock);
  return taken;
}

int Blocking_IO::read(void* buf, int size) {
  std::string item;
  if (!take(&item, nullptr, kPollsBeforeSleep)) return 0;
  return copyOut(item, buf, size);
}

int Blocking_IO::timedRead(void* buf, int size, unsigned timeoutMs) {
  if (m_state->aborted.load()) return 0;
  timespec deadline = deadlineAfter(timeoutMs);
  std::string item;
  if (!take(&item, &deadline, timeoutMs == 0 ? 0 : kPollsBeforeSleep) || item.empty()) return 0;
  return copyOut(item, buf, size);
}

// The flag is set under the lock so that a reader that has just found the
// queue empty and is about to wait cannot miss the broadcast.
void Blocking_IO::abort() {
  pthread_mutex_lock(&m_state->lock);
  bool first = !m_state->aborted.exchange(true);
  if (first) pthread_cond_broadcast(&m_state->notEmpty);
  pthread_mutex_unlock(&m_state->lock);
}

bool Blocking_IO::isAborted() {
  return m_state->aborted.load();
}

void Blocking_IO::addRef() {
  m_shares.fetch_add(1);
}

int Blocking_IO::release() {
  return m_shares.fetch_sub(1) - 1;
}

}  // namespace bg
