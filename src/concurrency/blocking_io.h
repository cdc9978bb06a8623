// Unbounded queues of whole byte messages with blocking and timed takes; the
// storage under every channel end.
#ifndef KQBRIDGE_CONCURRENCY_BLOCKING_IO_H_
#define KQBRIDGE_CONCURRENCY_BLOCKING_IO_H_

#include <atomic>
#include <ctime>

namespace bg {

// Any number of threads may write and read. One write is one message; one
// take removes exactly one, each message going to one reader, in the order
// written. abort() wakes every reader; from then on writes are dropped and
// takes return 0 at once, even while messages are still queued. A write
// never waits beyond a short lock; a reader with nothing to take polls for at
// most tens of microseconds, and only while messages have lately come that
// fast, then sleeps until a write or abort() wakes it.
class Blocking_IO {
 public:
  // 1 for a reader queue, 2 for a writer queue; the share count starts at 1.
  explicit Blocking_IO(int direction);
  Blocking_IO(const Blocking_IO&) = delete;
  Blocking_IO& operator=(const Blocking_IO&) = delete;
  // Waits until every reader woken by a preceding abort() has left, then
  // frees the queue. It wakes nobody: abort first.
  virtual ~Blocking_IO();

  // Queues a copy of `len` bytes; returns `len`, also when the copy is
  // dropped because the queue is aborted.
  virtual int write(const void* data, int len);
  // Blocks for the next message and copies at most `size` bytes of it; the
  // rest is discarded. 0 once aborted.
  virtual int read(void* buf, int size);
  // As read(), giving up with 0 after `timeoutMs`; `buf` is left untouched
  // when no bytes are copied.
  virtual int timedRead(void* buf, int size, unsigned timeoutMs);
  virtual void abort();
  virtual bool isAborted();

  // The number of channel ends holding the queue; the end that brings it
  // below 1 deletes the queue. Ends may come and go on any thread.
  void addRef();
  int release();

  int direction() const { return m_direction; }

  // What the queue holds and who waits on it, read under its locks, briefly.
  struct Counts {
    int messages = 0;
    long long bytes = 0;  // of the messages' contents
    int readersWaiting = 0;
  };
  Counts counts();

 private:
  struct State;

  // Removes the oldest message and copies at most `size` of its bytes to
  // `buf`; returns that count, or -1 when there was none by the deadline
  // (none: wait until a message comes or the queue is aborted). With `mayWait`
  // false it neither polls nor sleeps.
  int take(void* buf, int size, const timespec* deadline, bool mayWait);

  State* m_state;
  int m_direction;
  std::atomic<int> m_shares;
};

class Reader_IO : public Blocking_IO {
 public:
  Reader_IO() : Blocking_IO(1) {}
};

class Writer_IO : public Blocking_IO {
 public:
  Writer_IO() : Blocking_IO(2) {}
};

}  // namespace bg

#endif  // KQBRIDGE_CONCURRENCY_BLOCKING_IO_H_
