#include "kqbridge/channel.h"

#include <atomic>
#include <cstdio>

#include "concurrency/blocking_io.h"
#include "concurrency/channel_exit.h"

namespace bg {

namespace {

std::atomic<bool> g_channelExit{false};

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

void raiseChannelExit() {
  g_channelExit.store(true);
}

bool channelExitRaised() {
  return g_channelExit.load();
}

Abstract_Channel::~Abstract_Channel() = default;

Channel::Channel() : m_reader(new Reader_IO()), m_writer(new Writer_IO()), m_recordedBy(nullptr) {}

Channel::Channel(Blocking_IO* reader, Blocking_IO* writer)
    : m_reader(reader), m_writer(writer), m_recordedBy(nullptr) {
  m_reader->addRef();
  m_writer->addRef();
}

Channel::~Channel() {
  if (m_recordedBy != nullptr) m_recordedBy->forget(this);
  fputs("~channel()\n", stderr);
  fflush(stderr);
  releaseQueue(m_reader, "--- delete  reader\n");
  releaseQueue(m_writer, "--- delete  writer\n");
}

Abstract_Channel* Channel::clone() {
  return new Channel(m_reader, m_writer);
}

Abstract_Channel* Channel::peer() {
  return new Channel(m_writer, m_reader);
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

bool Channel::isAborted() {
  if (channelExitRaised()) {
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
