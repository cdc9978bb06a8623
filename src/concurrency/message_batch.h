// A run of whole byte messages in one growing buffer: the storage of a
// blocking queue, which moves a whole batch from its writers to its readers
// at once.
#ifndef KQBRIDGE_CONCURRENCY_MESSAGE_BATCH_H_
#define KQBRIDGE_CONCURRENCY_MESSAGE_BATCH_H_

#include <cstddef>

namespace bg {

// Messages leave in the order they were appended; each keeps its boundary and
// may be empty. Not thread-safe: the owner guards it.
class MessageBatch {
 public:
  MessageBatch() = default;
  MessageBatch(const MessageBatch&) = delete;
  MessageBatch& operator=(const MessageBatch&) = delete;
  ~MessageBatch();

  // Copies `len` bytes in as one message. Throws std::bad_alloc when the
  // buffer cannot grow.
  void append(const void* data, int len);
  bool empty() const { return m_head == m_size; }
  // Removes the oldest message and copies at most `size` of its bytes to
  // `buf`; returns that count. REQUIRES: !empty().
  int pop(void* buf, int size);
  // Drops every message. The buffer is kept for reuse unless it has grown
  // far beyond what this batch needed, so one burst does not pin its memory.
  void clear();
  void swap(MessageBatch& other);
  // The messages waiting, and the bytes of their contents.
  int messages() const { return m_count; }
  size_t bytes() const;

 private:
  char* m_data = nullptr;
  size_t m_capacity = 0;
  size_t m_size = 0;  // bytes appended
  size_t m_head = 0;  // bytes already popped
  int m_count = 0;    // messages appended and not yet popped
};

}  // namespace bg

#endif  // KQBRIDGE_CONCURRENCY_MESSAGE_BATCH_H_
