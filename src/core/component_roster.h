// What the central object shows of its components to another thread (the
// admin endpoint): name, module file, log file and how far each has come.
// Kept apart from the records the loader and the stop walk work on, which
// only the host's thread touches. Safe for concurrent use.
#ifndef KQBRIDGE_CORE_COMPONENT_ROSTER_H_
#define KQBRIDGE_CORE_COMPONENT_ROSTER_H_

#include <map>
#include <string>
#include <vector>

#include "platform/mutex.h"

namespace bg {

class ComponentRoster {
 public:
  enum Phase { kLoaded, kStarted, kStopping };
  struct Entry {
    std::string name;
    std::string module;
    std::string log;
    Phase phase;
  };

  // Registered under `name` (replacing a component of that name).
  void loaded(const std::string& name, const std::string& module, const std::string& log);
  // initExtend() was called on it.
  void started(const std::string& name);
  // The central object has begun to stop every component.
  void stopping();
  void clear();
  // In name order.
  std::vector<Entry> entries() const;

 private:
  mutable platform::Mutex m_lock;
  std::map<std::string, Entry> m_byName GUARDED_BY(m_lock);
};

const char* phaseName(ComponentRoster::Phase phase);

}  // namespace bg

#endif  // KQBRIDGE_CORE_COMPONENT_ROSTER_H_
