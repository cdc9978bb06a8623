// Work from the broker handed to the host's shared thread pool, in arrival
// order. Running there, it never overlaps a component's uninit: the host
// joins the pool before it stops the components.
#ifndef KQBRIDGE_REMOTE_LANE_H_
#define KQBRIDGE_REMOTE_LANE_H_

#include <kqbridge/thread_pool.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace remote {

// Runs at most `width` items at once (a width of 1 keeps them in order) and
// holds them until open(). Safe for concurrent use from any thread.
class Lane {
 public:
  Lane(bg::Abstract_ThreadPool* pool, int width, size_t capacity);
  Lane(const Lane&) = delete;
  Lane& operator=(const Lane&) = delete;

  // False when the item was dropped: the lane is full or closed.
  bool push(std::function<void()> item);
  bool closed();
  void open();
  // Drops the waiting items, refuses new ones and waits for the running ones.
  void close();

 private:
  static void drain(void* self);
  // REQUIRES: m_lock held.
  void schedule();

  bg::Abstract_ThreadPool* const m_pool;
  const int m_width;
  const size_t m_capacity;

  std::mutex m_lock;
  std::condition_variable m_idle;
  std::deque<std::function<void()>> m_items;
  int m_scheduled = 0;  // pool jobs handed out and not yet finished (or dropped by the pool)
  int m_running = 0;
  bool m_open = false;
  bool m_closed = false;
};

}  // namespace remote

#endif  // KQBRIDGE_REMOTE_LANE_H_
