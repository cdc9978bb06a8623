#include "kqbridge/thread_pool.h"

#include <cstdio>

#include "concurrency/thread_pool_record.h"
#include "platform/console.h"

namespace bg {

namespace {

void destroyRecordOf(ThreadPoolRecord** slot) {
  ThreadPoolRecord* pool = *slot;
  if (pool == nullptr) return;
  *slot = nullptr;
  destroyPoolRecord(pool);
}

}  // namespace

Thread_Pool::Thread_Pool() : m_pool(nullptr) {}

Thread_Pool::~Thread_Pool() {
  destroyRecordOf(&m_pool);
}

bool Thread_Pool::addTask(void (*fn)(void*), void* arg) {
  if (m_pool == nullptr) {
    platform::consoleError("[thread_pool] >> err:  pool must be inited !\n");
    return false;
  }
  return addPoolJob(m_pool, fn, arg) == kPoolOk;
}

void Thread_Pool::clearTasks() {
  clearPoolJobs(m_pool);
}

Abstract_ThreadPool* Thread_Pool::createPool(int threads, int queueSize) {
  Thread_Pool* pool = new Thread_Pool();
  if (!pool->init(threads, queueSize)) {
    delete pool;
    return nullptr;
  }
  return pool;
}

void Thread_Pool::destroyPool(Abstract_ThreadPool** pp) {
  if (pp == nullptr) return;
  if (*pp == this) {
    platform::consoleError("[thread_pool] >> err:  pool can't delete myself ...\n");
    return;
  }
  delete *pp;
  *pp = nullptr;
}

bool Thread_Pool::init(int threads, int queueSize) {
  destroyRecordOf(&m_pool);
  m_pool = makePoolRecord(threads, queueSize);
  return m_pool != nullptr;
}

// The record stays until the pool is destroyed or started again: a thread
// that adds a job while the pool exits (a job of it, or a component's own
// thread at shutdown) finds it refusing jobs instead of freed. Only a job
// that stops its own pool leaves the record to its worker.
void Thread_Pool::exit() {
  if (m_pool != nullptr && stopPoolRecord(m_pool) == kPoolOk && m_pool->reapedByWorker) m_pool = nullptr;
}

}  // namespace bg
