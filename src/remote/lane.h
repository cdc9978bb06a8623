// Work from the broker, run on a thread of the lane's own in arrival order.
#ifndef KQBRIDGE_REMOTE_LANE_H_
#define KQBRIDGE_REMOTE_LANE_H_

#include <cstddef>
#include <deque>
#include <functional>
#include <thread>

#include "platform/mutex.h"

namespace remote {

// Runs items one after another, holding them until open(). Safe for
// concurrent use from any thread.
class Lane {
 public:
  explicit Lane(size_t capacity) : m_capacity(capacity) {}
  ~Lane() { close(); }
  Lane(const Lane&) = delete;
  Lane& operator=(const Lane&) = delete;

  // False when the item was dropped: the lane is full or closed.
  bool push(std::function<void()> item) EXCLUDES(m_lock);
  bool closed() EXCLUDES(m_lock);
  // Starts the thread.
  void open();
  // Drops the waiting items, refuses new ones, and returns once the running
  // one has returned and the thread has ended. Safe to call twice, but never
  // from one of the lane's own items.
  void close() EXCLUDES(m_lock);

 private:
  void work() EXCLUDES(m_lock);

  const size_t m_capacity;
  std::thread m_thread;  // touched by open() and close() only

  bg::platform::Mutex m_lock;
  bg::platform::CondVar m_changed;
  std::deque<std::function<void()>> m_items GUARDED_BY(m_lock);
  bool m_closed GUARDED_BY(m_lock) = false;
};

}  // namespace remote

#endif  // KQBRIDGE_REMOTE_LANE_H_
