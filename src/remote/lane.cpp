#include "lane.h"

namespace remote {

bool Lane::push(std::function<void()> item) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_closed || m_items.size() >= m_capacity) return false;
  m_items.push_back(std::move(item));
  m_changed.notify_one();
  return true;
}

bool Lane::closed() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_closed;
}

void Lane::open() {
  if (!m_thread.joinable() && !closed()) m_thread = std::thread(&Lane::work, this);
}

void Lane::close() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_closed = true;
    m_items.clear();
    m_changed.notify_all();
  }
  if (m_thread.joinable()) m_thread.join();
}

void Lane::work() {
  std::unique_lock<std::mutex> lock(m_lock);
  for (;;) {
    m_changed.wait(lock, [this] { return m_closed || !m_items.empty(); });
    if (m_closed) return;
    std::function<void()> item = std::move(m_items.front());
    m_items.pop_front();
    lock.unlock();
    item();
    item = nullptr;
    lock.lock();
  }
}

}  // namespace remote
