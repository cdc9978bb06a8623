// Work from the broker, run on threads of the lane's own in arrival order.
#ifndef KQBRIDGE_REMOTE_LANE_H_
#define KQBRIDGE_REMOTE_LANE_H_

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace remote {

// Runs items on `width` threads (a width of 1 keeps them in order), holding
// them until open(). Safe for concurrent use from any thread.
class Lane {
 public:
  Lane(int width, size_t capacity);
  ~Lane() { close(); }
  Lane(const Lane&) = delete;
  Lane& operator=(const Lane&) = delete;

  // False when the item was dropped: the lane is full or closed.
  bool push(std::function<void()> item);
  bool closed();
  // Starts the threads.
  void open();
  // Drops the waiting items, refuses new ones, and returns once the running
  // ones have returned and the threads have ended. Safe to call twice, but
  // never from one of the lane's own items.
  void close();

 private:
  void work();

  const int m_width;
  const size_t m_capacity;
  std::vector<std::thread> m_threads;  // touched by open() and close() only

  std::mutex m_lock;
  std::condition_variable m_changed;
  std::deque<std::function<void()>> m_items;
  bool m_closed = false;
};

}  // namespace remote

#endif  // KQBRIDGE_REMOTE_LANE_H_
