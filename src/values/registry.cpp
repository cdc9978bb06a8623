#include "kqbridge/registry.h"

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "kqbridge/logger.h"

namespace bg {

namespace {

// Transparent comparison: a lookup by C string measures it once and builds no std::string.
typedef std::map<std::string, void*, std::less<>> InstanceTable;

InstanceTable& table() {
  static InstanceTable* instances = new InstanceTable();  // outlives every static destructor that may look
  return *instances;
}

// Named "show" because the log line carries the function's name.
void show(const char* name, void* /*inst*/, void* /*user*/) {
  BG_LOG(DEBUG, "Instance: %s", name);
}

}  // namespace

void setInstance(const char* name, void* inst) {
  table()[name] = inst;
}

void setInstance(const std::type_info& type, void* inst) {
  setInstance(type.name(), inst);
}

void* getInstance(const char* name) {
  InstanceTable& t = table();
  auto it = t.find(std::string_view(name));
  return it == t.end() ? nullptr : it->second;
}

void* getInstance(const std::type_info& type) {
  return getInstance(type.name());
}

int eraseInstance(const char* name) {
  InstanceTable& t = table();
  auto it = t.find(std::string_view(name));
  if (it == t.end()) return 0;
  t.erase(it);
  return 1;
}

void clearInstance() {
  table().clear();
}

int getInstanceCount() {
  return static_cast<int>(table().size());
}

void travellInstance(void (*cb)(const char* name, void* inst, void* user), void* user) {
  InstanceTable& t = table();
  for (auto it = t.begin(); it != t.end();) {
    auto current = it++;
    cb(current->first.c_str(), current->second, user);
  }
}

void showAllInstance() {
  BG_LOG(DEBUG, "=========== allInstance ==========");
  travellInstance(show, nullptr);
  BG_LOG(DEBUG, "==================================");
  fflush(stderr);
}

}  // namespace bg
