#include "lane.h"

namespace remote {

bool Lane::push(std::function<void()> item) {
  bg::platform::MutexLock hold(&m_lock);
  if (m_closed || m_items.size() >= m_capacity) return false;
  m_items.push_back(std::move(item));
  m_changed.signal();
  return true;
}

bool Lane::closed() {
  bg::platform::MutexLock hold(&m_lock);
  return m_closed;
}

void Lane::open() {
  if (!m_thread.joinable() && !closed()) m_thread = std::thread(&Lane::work, this);
}

void Lane::close() {
  {
    bg::platform::MutexLock hold(&m_lock);
    m_closed = true;
    m_items.clear();
    m_changed.signalAll();
  }
  if (m_thread.joinable()) m_thread.join();
}

// Items run without the lock, so that they may push more.
void Lane::work() {
  m_lock.lock();
  for (;;) {
    while (!m_closed && m_items.empty()) m_changed.wait(&m_lock);
    if (m_closed) break;
    std::function<void()> item = std::move(m_items.front());
    m_items.pop_front();
    m_lock.unlock();
    item();
    item = nullptr;
    m_lock.lock();
  }
  m_lock.unlock();
}

}  // namespace remote
