// A thread of the library's own: started on a plain function, joined or
// detached once. Like the mutex, it sits on the POSIX threads API on every
// system we build for.
#ifndef KQBRIDGE_PLATFORM_THREAD_H_
#define KQBRIDGE_PLATFORM_THREAD_H_

#include <pthread.h>

namespace bg {
namespace platform {

// A handle, copyable as a value; it owns nothing. One thread may start,
// join or detach it at a time.
class Thread {
 public:
  // Runs `fn(arg)` on a new thread with default attributes; false when the
  // system refused one.
  bool start(void* (*fn)(void*), void* arg) { return pthread_create(&m_id, nullptr, fn, arg) == 0; }
  // Waits until the thread has ended; false when it cannot be joined.
  bool join() { return pthread_join(m_id, nullptr) == 0; }
  // Lets the thread end on its own: nobody joins it.
  void detach() { pthread_detach(m_id); }
  // Whether the calling thread is this one.
  bool isCurrent() const { return pthread_equal(m_id, pthread_self()) != 0; }

 private:
  pthread_t m_id{};
};

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_THREAD_H_
