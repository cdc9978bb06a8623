#include "kqbridge/channel.h"

#include <cstdio>

#include "concurrency/channel_book.h"
#include "platform/console.h"

namespace bg {

namespace {

// The last end holding a queue aborts it, so that readers still blocked on it
// leave, and deletes it.
void releaseQueue(Blocking_IO* queue, const char* message) {
  if (queue->release() >= 1) return;
  queue->abort();
  delete queue;
  platform::consoleError("%s", message);
}

// Counts `end` among the live ends of the manager that keeps `book`, if any;
// `slot` is the end's own reference to the book.
void join(Channel* end, std::shared_ptr<ChannelBook>* slot, const std::shared_ptr<ChannelBook>& book) {
  if (book == nullptr) return;
  platform::MutexLock hold(&book->lock);
  *slot = book;
  book->live.insert(end);
}

}  // namespace

Abstract_Channel::~Abstract_Channel() = default;

Channel::Channel() : m_state(new State(new Reader_IO(), new Writer_IO())) {}

Channel::Channel(Blocking_IO* reader, Blocking_IO* writer) : m_state(new State(reader, writer)) {
  reader->addRef();
  writer->addRef();
}

// The end leaves its manager's book before it lets go of its queues, so an
// exit() running on another thread never aborts queues that are gone. A
// recorded end deleted by other means than releaseChannel (its own destroy(),
// a plain delete) takes its entry with it, so the manager never hands out
// clones of a deleted end.
Channel::~Channel() {
  if (m_state->book != nullptr) {
    ChannelBook& book = *m_state->book;
    platform::MutexLock hold(&book.lock);
    book.live.erase(this);
    if (m_state->recorded) book.forgetLocked(this);
  }
  platform::consoleError("~channel()\n");
  releaseQueue(m_state->reader, "--- delete  reader\n");
  releaseQueue(m_state->writer, "--- delete  writer\n");
  delete m_state;
  m_state = nullptr;
}

Abstract_Channel* Channel::clone() {
  Channel* end = new Channel(m_state->reader, m_state->writer);
  join(end, &end->m_state->book, m_state->book);
  return end;
}

Abstract_Channel* Channel::peer() {
  Channel* end = new Channel(m_state->writer, m_state->reader);
  join(end, &end->m_state->book, m_state->book);
  return end;
}

int Channel::write(const void* data, int len) {
  return m_state->writer->write(data, len);
}

int Channel::read(void* buf, int size) {
  return m_state->reader->read(buf, size);
}

int Channel::timedRead(void* buf, int size, unsigned timeoutMs) {
  return m_state->reader->timedRead(buf, size, timeoutMs);
}

void Channel::abort() {
  m_state->reader->abort();
  m_state->writer->abort();
}

// The exit flag belongs to the manager that made this end, not to the
// process: a bridge started after another one stopped gets working channels.
bool Channel::isAborted() {
  if (m_state->book != nullptr && m_state->book->exited.load()) {
    abort();
    return true;
  }
  return m_state->reader->isAborted() || m_state->writer->isAborted();
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
