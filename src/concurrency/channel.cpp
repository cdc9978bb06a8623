#include "kqbridge/channel.h"

#include <cstdio>

#include "concurrency/blocking_io.h"
#include "concurrency/channel_book.h"

namespace bg {

namespace {

// The last end holding a queue aborts it, so that readers still blocked on it
// leave, and deletes it.
void releaseQueue(Blocking_IO* queue, const char* message) {
  if (queue->release() >= 1) return;
  queue->abort();
  delete queue;
  fputs(message, stderr);
  fflush(stderr);
}

}  // namespace

Abstract_Channel::~Abstract_Channel() = default;

Channel::Channel() : m_reader(new Reader_IO()), m_writer(new Writer_IO()), m_recorded(false) {}

Channel::Channel(Blocking_IO* reader, Blocking_IO* writer) : m_reader(reader), m_writer(writer), m_recorded(false) {
  m_reader->addRef();
  m_writer->addRef();
}

// The end leaves its manager's book before it lets go of its queues, so an
// exit() running on another thread never aborts queues that are gone. A
// recorded end deleted by other means than releaseChannel (its own destroy(),
// a plain delete) takes its entry with it, so the manager never hands out
// clones of a deleted end.
Channel::~Channel() {
  if (m_book != nullptr) {
    std::lock_guard<std::recursive_mutex> hold(m_book->lock);
    m_book->live.erase(this);
    if (m_recorded && m_book->owner != nullptr) m_book->owner->forget(this);
  }
  fputs("~channel()\n", stderr);
  fflush(stderr);
  releaseQueue(m_reader, "--- delete  reader\n");
  releaseQueue(m_writer, "--- delete  writer\n");
}

void Channel::join(const std::shared_ptr<ChannelBook>& book) {
  std::lock_guard<std::recursive_mutex> hold(book->lock);
  m_book = book;
  book->live.insert(this);
}

Abstract_Channel* Channel::clone() {
  Channel* end = new Channel(m_reader, m_writer);
  if (m_book != nullptr) end->join(m_book);
  return end;
}

Abstract_Channel* Channel::peer() {
  Channel* end = new Channel(m_writer, m_reader);
  if (m_book != nullptr) end->join(m_book);
  return end;
}

int Channel::write(const void* data, int len) {
  return m_writer->write(data, len);
}

int Channel::read(void* buf, int size) {
  return m_reader->read(buf, size);
}

int Channel::timedRead(void* buf, int size, unsigned timeoutMs) {
  return m_reader->timedRead(buf, size, timeoutMs);
}

void Channel::abort() {
  m_reader->abort();
  m_writer->abort();
}

// The exit flag belongs to the manager that made this end, not to the
// process: a bridge started after another one stopped gets working channels.
bool Channel::isAborted() {
  if (m_book != nullptr && m_book->exited.load()) {
    abort();
    return true;
  }
  return m_reader->isAborted() || m_writer->isAborted();
}

Abstract_Channel* Channel::create() {
  return new Channel();
}

void Channel::destroy(Abstract_Channel** pp) {
  if (pp == nullptr || *pp == nullptr) return;
  delete *pp;
  *pp = nullptr;
}

}  // namespace bg
