#include "concurrency/message_batch.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace bg {

namespace {

// Each message is its length as a 32-bit word, then its bytes, unaligned.
const size_t kHeader = sizeof(uint32_t);
const size_t kFirstCapacity = 1024;
// Below this size a buffer is always kept: freeing it would only make the
// next batch grow it again.
const size_t kAlwaysKept = 64 * 1024;

}  // namespace

MessageBatch::~MessageBatch() {
  free(m_data);
}

void MessageBatch::append(const void* data, int len) {
  size_t n = len > 0 ? static_cast<size_t>(len) : 0;
  size_t need = m_size + kHeader + n;
  if (need > m_capacity) {
    size_t capacity = m_capacity < kFirstCapacity ? kFirstCapacity : m_capacity * 2;
    if (capacity < need) capacity = need;
    char* grown = static_cast<char*>(realloc(m_data, capacity));
    if (grown == nullptr) throw std::bad_alloc();
    m_data = grown;
    m_capacity = capacity;
  }
  uint32_t header = static_cast<uint32_t>(n);
  memcpy(m_data + m_size, &header, kHeader);
  if (n > 0) memcpy(m_data + m_size + kHeader, data, n);
  m_size = need;
  m_count += 1;
}

int MessageBatch::pop(void* buf, int size) {
  uint32_t len;
  memcpy(&len, m_data + m_head, kHeader);
  size_t n = size < 0 ? 0 : static_cast<size_t>(size);
  if (n > len) n = len;
  if (n > 0) memcpy(buf, m_data + m_head + kHeader, n);
  m_head += kHeader + len;
  m_count -= 1;
  return static_cast<int>(n);
}

void MessageBatch::clear() {
  if (m_capacity > kAlwaysKept && m_capacity > 4 * m_size) {
    free(m_data);
    m_data = nullptr;
    m_capacity = 0;
  }
  m_size = 0;
  m_head = 0;
  m_count = 0;
}

void MessageBatch::swap(MessageBatch& other) {
  std::swap(m_data, other.m_data);
  std::swap(m_capacity, other.m_capacity);
  std::swap(m_size, other.m_size);
  std::swap(m_head, other.m_head);
  std::swap(m_count, other.m_count);
}

size_t MessageBatch::bytes() const {
  return m_size - m_head - static_cast<size_t>(m_count) * kHeader;
}

}  // namespace bg
