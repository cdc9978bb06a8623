#include "lane.h"

namespace remote {

Lane::Lane(bg::Abstract_ThreadPool* pool, int width, size_t capacity)
    : m_pool(pool), m_width(width), m_capacity(capacity) {}

bool Lane::push(std::function<void()> item) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_closed || m_items.size() >= m_capacity) return false;
  m_items.push_back(std::move(item));
  schedule();
  return true;
}

bool Lane::closed() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_closed;
}

void Lane::open() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_open = true;
  schedule();
}

void Lane::close() {
  std::unique_lock<std::mutex> lock(m_lock);
  m_closed = true;
  m_items.clear();
  m_idle.wait(lock, [this] { return m_running == 0; });
}

// A job the pool refuses (it is full) leaves its items waiting for the next
// push. Once the host stops, nothing more is handed to the pool.
void Lane::schedule() {
  while (m_open && !m_closed && m_scheduled < m_width && static_cast<size_t>(m_scheduled) < m_items.size() &&
         !m_pool->isAborting()) {
    if (!m_pool->addTask(&Lane::drain, this)) return;
    ++m_scheduled;
  }
}

// The emptiness test and the job's end are one step under the lock, so that
// an item pushed meanwhile always finds a job to run it.
void Lane::drain(void* self) {
  Lane* lane = static_cast<Lane*>(self);
  std::unique_lock<std::mutex> lock(lane->m_lock);
  ++lane->m_running;
  while (!lane->m_items.empty() && !lane->m_closed && !lane->m_pool->isAborting()) {
    std::function<void()> item = std::move(lane->m_items.front());
    lane->m_items.pop_front();
    lock.unlock();
    item();
    item = nullptr;
    lock.lock();
  }
  --lane->m_running;
  --lane->m_scheduled;
  lane->m_idle.notify_all();
}

}  // namespace remote
