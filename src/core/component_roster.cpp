#include "core/component_roster.h"

namespace bg {

void ComponentRoster::loaded(const std::string& name, const std::string& module, const std::string& log) {
  platform::MutexLock hold(&m_lock);
  m_byName[name] = Entry{name, module, log, kLoaded};
}

void ComponentRoster::started(const std::string& name) {
  platform::MutexLock hold(&m_lock);
  auto it = m_byName.find(name);
  if (it != m_byName.end()) it->second.phase = kStarted;
}

void ComponentRoster::stopping() {
  platform::MutexLock hold(&m_lock);
  for (auto& entry : m_byName) entry.second.phase = kStopping;
}

void ComponentRoster::clear() {
  platform::MutexLock hold(&m_lock);
  m_byName.clear();
}

std::vector<ComponentRoster::Entry> ComponentRoster::entries() const {
  platform::MutexLock hold(&m_lock);
  std::vector<Entry> all;
  all.reserve(m_byName.size());
  for (const auto& entry : m_byName) all.push_back(entry.second);
  return all;
}

const char* phaseName(ComponentRoster::Phase phase) {
  switch (phase) {
    case ComponentRoster::kLoaded:
      return "loaded";
    case ComponentRoster::kStarted:
      return "started";
    default:
      return "stopping";
  }
}

}  // namespace bg
