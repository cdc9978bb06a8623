#include <mutex>

#include "concurrency/channel_book.h"
#include "kqbridge/channel.h"

namespace bg {

namespace {

typedef std::lock_guard<std::recursive_mutex> Hold;

bool eraseFirst(std::map<std::string, Abstract_Channel*>* names, Abstract_Channel* end) {
  for (auto it = names->begin(); it != names->end(); ++it) {
    if (it->second == end) {
      names->erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace

Channel_Mgr::Channel_Mgr() : m_book(std::make_shared<ChannelBook>()) {
  m_book->owner = this;
}

// The ends outlive the manager; they report themselves aborted from now on.
Channel_Mgr::~Channel_Mgr() {
  Hold hold(m_book->lock);
  abortAll();
  for (auto* names : {&m_opened, &m_created}) {
    for (auto& entry : *names) static_cast<Channel*>(entry.second)->m_recorded = false;
    names->clear();
  }
  m_book->owner = nullptr;
}

// Unlike a flag that each channel reads only when asked, aborting the live
// ends here wakes a reader blocked without a timeout, so a shutdown that
// joins the thread such a reader runs on cannot hang on it.
void Channel_Mgr::exit() {
  Hold hold(m_book->lock);
  abortAll();
}

void Channel_Mgr::abortAll() {
  m_book->exited.store(true);
  for (Channel* end : m_book->live) end->abort();
}

Abstract_Channel* Channel_Mgr::record(std::map<std::string, Abstract_Channel*>* names, const char* name,
                                      Channel* end) {
  end->m_recorded = true;
  (*names)[name] = end;
  return end;
}

void Channel_Mgr::forget(Abstract_Channel* end) {
  while (eraseFirst(&m_created, end)) {
  }
  while (eraseFirst(&m_opened, end)) {
  }
}

Abstract_Channel* Channel_Mgr::createChannel(const char* name) {
  if (name == nullptr) return nullptr;
  Hold hold(m_book->lock);
  auto it = m_created.find(name);
  if (it != m_created.end()) return it->second->clone();
  Channel* end = new Channel();
  end->join(m_book);
  return record(&m_created, name, end);
}

Abstract_Channel* Channel_Mgr::openChannel(const char* name) {
  if (name == nullptr) return nullptr;
  Hold hold(m_book->lock);
  auto opened = m_opened.find(name);
  if (opened != m_opened.end()) return opened->second->clone();
  auto created = m_created.find(name);
  if (created == m_created.end()) return nullptr;
  return record(&m_opened, name, static_cast<Channel*>(created->second->peer()));
}

Abstract_Channel* Channel_Mgr::getChannel(const char* name) {
  Abstract_Channel* end = openChannel(name);
  return end != nullptr ? end : createChannel(name);
}

void Channel_Mgr::releaseChannel(Abstract_Channel** pp) {
  if (pp == nullptr || *pp == nullptr) return;
  Abstract_Channel* end = *pp;
  {
    Hold hold(m_book->lock);
    if (!eraseFirst(&m_created, end)) eraseFirst(&m_opened, end);
    Channel* channel = dynamic_cast<Channel*>(end);
    if (channel != nullptr && channel->m_book == m_book) channel->m_recorded = false;
  }
  delete end;
  *pp = nullptr;
}

}  // namespace bg
