#include "kqbridge/registry.h"

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "platform/mutex.h"

namespace bg {

namespace {

// Transparent comparison: a lookup by C string measures it once and builds no std::string.
typedef std::map<std::string, void*, std::less<>> InstanceTable;

struct Registry {
  platform::Mutex lock;
  InstanceTable table GUARDED_BY(lock);
};

Registry& registry() {
  static Registry* instances = new Registry();  // outlives every static destructor that may look
  return *instances;
}

}  // namespace

void setInstance(const char* name, void* inst) {
  if (name == nullptr) return;
  Registry& r = registry();
  platform::MutexLock hold(&r.lock);
  r.table[name] = inst;
}

void setInstance(const std::type_info& type, void* inst) {
  setInstance(type.name(), inst);
}

void* getInstance(const char* name) {
  if (name == nullptr) return nullptr;
  Registry& r = registry();
  platform::MutexLock hold(&r.lock);
  InstanceTable& t = r.table;
  auto it = t.find(std::string_view(name));
  return it == t.end() ? nullptr : it->second;
}

void* getInstance(const std::type_info& type) {
  return getInstance(type.name());
}

int eraseInstance(const char* name) {
  if (name == nullptr) return 0;
  Registry& r = registry();
  platform::MutexLock hold(&r.lock);
  InstanceTable& t = r.table;
  auto it = t.find(std::string_view(name));
  if (it == t.end()) return 0;
  t.erase(it);
  return 1;
}

void clearInstance() {
  Registry& r = registry();
  platform::MutexLock hold(&r.lock);
  r.table.clear();
}

int getInstanceCount() {
  Registry& r = registry();
  platform::MutexLock hold(&r.lock);
  return static_cast<int>(r.table.size());
}

// The walk copies one entry out under the lock, calls `cb` without it, and
// finds its place again by name, so `cb` may change the table freely.
void travellInstance(void (*cb)(const char* name, void* inst, void* user), void* user) {
  if (cb == nullptr) return;
  std::string name;
  for (bool first = true;; first = false) {
    void* inst;
    {
      Registry& r = registry();
      platform::MutexLock hold(&r.lock);
      InstanceTable& t = r.table;
      auto it = first ? t.begin() : t.upper_bound(name);
      if (it == t.end()) return;
      name = it->first;
      inst = it->second;
    }
    cb(name.c_str(), inst, user);
  }
}

}  // namespace bg
