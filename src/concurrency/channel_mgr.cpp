#include "concurrency/channel_book.h"
#include "kqbridge/channel.h"

namespace bg {

namespace {

bool eraseFirst(ChannelBook::Names* names, Abstract_Channel* end) {
  for (auto it = names->begin(); it != names->end(); ++it) {
    if (it->second == end) {
      names->erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace

void ChannelBook::abortAllLocked() {
  exited.store(true);
  for (Channel* end : live) end->abort();
}

Channel* Channel_Mgr::State::endLocked(ChannelBook& ours, Blocking_IO* reader, Blocking_IO* writer) {
  Channel* end = new Channel(reader, writer);
  end->m_state->book = book;
  ours.live.insert(end);
  return end;
}

void ChannelBook::forgetLocked(Abstract_Channel* end) {
  while (eraseFirst(&created, end)) {
  }
  while (eraseFirst(&opened, end)) {
  }
}

Channel_Mgr::Channel_Mgr() : m_state(new State()) {}

// The ends outlive the manager; they report themselves aborted from now on.
Channel_Mgr::~Channel_Mgr() {
  {
    ChannelBook& book = *m_state->book;
    platform::MutexLock hold(&book.lock);
    book.abortAllLocked();
    for (auto* names : {&book.opened, &book.created}) {
      for (auto& entry : *names) static_cast<Channel*>(entry.second)->m_state->recorded = false;
      names->clear();
    }
  }
  delete m_state;
  m_state = nullptr;
}

// Unlike a flag that each channel reads only when asked, aborting the live
// ends here wakes a reader blocked without a timeout, so a shutdown that
// joins the thread such a reader runs on cannot hang on it.
void Channel_Mgr::exit() {
  ChannelBook& book = *m_state->book;
  platform::MutexLock hold(&book.lock);
  book.abortAllLocked();
}

Abstract_Channel* Channel_Mgr::createChannel(const char* name) {
  if (name == nullptr) return nullptr;
  ChannelBook& book = *m_state->book;
  platform::MutexLock hold(&book.lock);
  auto it = book.created.find(name);
  if (it != book.created.end()) {
    Channel::State& first = *static_cast<Channel*>(it->second)->m_state;
    return m_state->endLocked(book, first.reader, first.writer);
  }
  Channel* end = new Channel();
  end->m_state->book = m_state->book;
  end->m_state->recorded = true;
  book.live.insert(end);
  book.created[name] = end;
  return end;
}

Abstract_Channel* Channel_Mgr::openChannel(const char* name) {
  if (name == nullptr) return nullptr;
  ChannelBook& book = *m_state->book;
  platform::MutexLock hold(&book.lock);
  auto opened = book.opened.find(name);
  if (opened != book.opened.end()) {
    Channel::State& first = *static_cast<Channel*>(opened->second)->m_state;
    return m_state->endLocked(book, first.reader, first.writer);
  }
  auto created = book.created.find(name);
  if (created == book.created.end()) return nullptr;
  Channel::State& creator = *static_cast<Channel*>(created->second)->m_state;
  Channel* end = m_state->endLocked(book, creator.writer, creator.reader);
  end->m_state->recorded = true;
  book.opened[name] = end;
  return end;
}

Abstract_Channel* Channel_Mgr::getChannel(const char* name) {
  Abstract_Channel* end = openChannel(name);
  return end != nullptr ? end : createChannel(name);
}

void Channel_Mgr::releaseChannel(Abstract_Channel** pp) {
  if (pp == nullptr || *pp == nullptr) return;
  Abstract_Channel* end = *pp;
  {
    ChannelBook& book = *m_state->book;
    platform::MutexLock hold(&book.lock);
    if (!eraseFirst(&book.created, end)) eraseFirst(&book.opened, end);
    Channel* channel = dynamic_cast<Channel*>(end);
    if (channel != nullptr && channel->m_state->book == m_state->book) channel->m_state->recorded = false;
  }
  delete end;
  *pp = nullptr;
}

}  // namespace bg
