#include "concurrency/channel_exit.h"
#include "kqbridge/channel.h"

namespace bg {

namespace {

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

Channel_Mgr::Channel_Mgr() = default;

Channel_Mgr::~Channel_Mgr() {
  raiseChannelExit();
  for (auto* names : {&m_opened, &m_created}) {
    for (auto& entry : *names) {
      if (Channel* end = dynamic_cast<Channel*>(entry.second)) end->m_recordedBy = nullptr;
    }
    names->clear();
  }
}

void Channel_Mgr::exit() {
  raiseChannelExit();
}

// A recorded end that is deleted by other means than releaseChannel (its own
// destroy(), a plain delete) takes its entry with it, so the manager never
// hands out clones of a deleted end.
Abstract_Channel* Channel_Mgr::record(std::map<std::string, Abstract_Channel*>* names, const char* name,
                                      Abstract_Channel* end) {
  if (Channel* channel = dynamic_cast<Channel*>(end)) channel->m_recordedBy = this;
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
  auto it = m_created.find(name);
  if (it != m_created.end()) return it->second->clone();
  return record(&m_created, name, new Channel());
}

Abstract_Channel* Channel_Mgr::openChannel(const char* name) {
  if (name == nullptr) return nullptr;
  auto opened = m_opened.find(name);
  if (opened != m_opened.end()) return opened->second->clone();
  auto created = m_created.find(name);
  if (created == m_created.end()) return nullptr;
  return record(&m_opened, name, created->second->peer());
}

Abstract_Channel* Channel_Mgr::getChannel(const char* name) {
  Abstract_Channel* end = openChannel(name);
  return end != nullptr ? end : createChannel(name);
}

void Channel_Mgr::releaseChannel(Abstract_Channel** pp) {
  if (pp == nullptr || *pp == nullptr) return;
  Abstract_Channel* end = *pp;
  if (!eraseFirst(&m_created, end)) eraseFirst(&m_opened, end);
  if (Channel* channel = dynamic_cast<Channel*>(end)) {
    if (channel->m_recordedBy == this) channel->m_recordedBy = nullptr;
  }
  delete end;
  *pp = nullptr;
}

}  // namespace bg
