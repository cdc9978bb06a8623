#include "kqbridge/registry.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace bg {

namespace {

// Transparent comparison: a lookup by C string measures it once and builds no std::string.
typedef std::map<std::string, void*, std::less<>> InstanceTable;

InstanceTable& table() {
  static InstanceTable* instances = new InstanceTable();  // outlives every static destructor that may look
  return *instances;
}

std::mutex& tableLock() {
  static std::mutex* lock = new std::mutex();  // as long-lived as the table
  return *lock;
}

typedef std::lock_guard<std::mutex> Hold;

}  // namespace

void setInstance(const char* name, void* inst) {
  if (name == nullptr) return;
  Hold hold(tableLock());
  table()[name] = inst;
}

void setInstance(const std::type_info& type, void* inst) {
  setInstance(type.name(), inst);
}

void* getInstance(const char* name) {
  if (name == nullptr) return nullptr;
  Hold hold(tableLock());
  InstanceTable& t = table();
  auto it = t.find(std::string_view(name));
  return it == t.end() ? nullptr : it->second;
}

void* getInstance(const std::type_info& type) {
  return getInstance(type.name());
}

int eraseInstance(const char* name) {
  if (name == nullptr) return 0;
  Hold hold(tableLock());
  InstanceTable& t = table();
  auto it = t.find(std::string_view(name));
  if (it == t.end()) return 0;
  t.erase(it);
  return 1;
}

void clearInstance() {
  Hold hold(tableLock());
  table().clear();
}

int getInstanceCount() {
  Hold hold(tableLock());
  return static_cast<int>(table().size());
}

// The walk copies one entry out under the lock, calls `cb` without it, and
// finds its place again by name, so `cb` may change the table freely.
void travellInstance(void (*cb)(const char* name, void* inst, void* user), void* user) {
  if (cb == nullptr) return;
  std::string name;
  for (bool first = true;; first = false) {
    void* inst;
    {
      Hold hold(tableLock());
      InstanceTable& t = table();
      auto it = first ? t.begin() : t.upper_bound(name);
      if (it == t.end()) return;
      name = it->first;
      inst = it->second;
    }
    cb(name.c_str(), inst, user);
  }
}

}  // namespace bg
