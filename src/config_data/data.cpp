#include "kqbridge/data.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <list>
#include <map>
#include <string>
#include <typeinfo>

#include "admin/status_probe.h"
#include "diagnostics/call_guard.h"
#include "kqbridge/utils.h"
#include "platform/console.h"
#include "platform/mutex.h"

namespace bg {

namespace {

// Most keys have a few listeners and the bus few filters: up to this many
// registrations are copied under one lock for a notification.
constexpr int kSnapshotRoom = 8;

bool namesKey(const char* key) {
  return key != nullptr && *key != '\0';
}

// What a callback throws is reported with the module that holds its code,
// and the walk goes on with the next one.
void callBack(ListenerRecord* rec, const char* key, const Value& v, bool filter) {
  if (rec->callback == nullptr) return;
  callGuarded([&] { rec->callback(key, &v, rec); },
              [&] {
                return codeThrew(
                    reinterpret_cast<const void*>(rec->callback),
                    filter ? std::string("a data filter") : format("a data listener of '%s'", key));
              });
}

}  // namespace

// Listeners by key, kept in registration order within a key, and filters,
// which see every key. Ids count from 101, one counter for both, so within
// a key (and among filters) registration order is also ascending id order.
struct ConfigListener {
  std::multimap<std::string, ListenerRecord> listeners;
  std::list<ListenerRecord> filters;
  int lastId = 100;
};

struct Data::State {
  using Slot = std::map<std::string, Value>::iterator;

  // Whether `key` is stored; `slot` gets its entry, or the insertion hint
  // when absent. The key's text is left in `lookupKey`.
  bool findLocked(const char* key, Slot* slot) REQUIRES(lock);
  // setData under the lock.
  bool storeLocked(const char* key, const Value& v, bool replace) REQUIRES(lock);

  // The next listener of `key` (or filter, for a null key) after id
  // `after`, copied out under the lock; false when there is none.
  bool nextToNotify(const char* key, int after, ListenerRecord* out) EXCLUDES(lock);

  // Copies the listeners of `key` and then the filters into `out` (room for
  // `room`); `*listeners` tells where the filters start. Returns the
  // registration version, with `*count` -1 when they did not fit.
  // `keyInBuffer`: `lookupKey` holds the key's text already.
  unsigned snapshotLocked(const char* key, bool keyInBuffer, ListenerRecord* out, int room, int* listeners,
                          int* count) REQUIRES(lock);

  // Taken once by every operation; never held while a callback runs.
  platform::Mutex lock;
  std::map<std::string, Value> values GUARDED_BY(lock);
  ConfigListener registry GUARDED_BY(lock);
  // The text of the last key looked up, kept so that its buffer is reused
  // instead of a std::string made per call.
  std::string lookupKey GUARDED_BY(lock);
  // Raised by every registration and removal, so that a notification can
  // tell, without the lock, that its copy of the registrations still holds.
  std::atomic<unsigned> version{0};
};

namespace {

// A class derived from Data sees the calls our operations make through the
// interface (setData asks hasData, setDataNotify calls setData), as it always
// has; Data itself does the same work under one acquisition of its lock.
bool isPlainData(Abstract_Datas* d) {
  return typeid(*d) == typeid(Data);
}

}  // namespace

Data::Data() : m_state(new State()) {}

Data::~Data() {
  {
    platform::MutexLock hold(&m_state->lock);
    m_state->values.clear();
  }
  delete m_state;
  m_state = nullptr;
}

bool Data::State::findLocked(const char* key, Slot* slot) {
  lookupKey.assign(key);
  *slot = values.lower_bound(lookupKey);
  return *slot != values.end() && (*slot)->first == lookupKey;
}

bool Data::State::storeLocked(const char* key, const Value& v, bool replace) {
  Slot slot;
  if (findLocked(key, &slot)) {
    if (!replace) return false;
    slot->second = v;
  } else {
    values.emplace_hint(slot, lookupKey, v);
  }
  return true;
}

Value Data::getData(const char* key, const Value& def) {
  if (key == nullptr) return def;
  if (!isPlainData(this) && !hasData(key)) return def;
  State& s = *m_state;
  platform::MutexLock hold(&s.lock);
  State::Slot slot;
  return s.findLocked(key, &slot) ? slot->second : def;
}

bool Data::setData(const char* key, const Value& v, bool replace) {
  if (key == nullptr) return false;
  if (!isPlainData(this)) {
    if (!replace && hasData(key)) return false;
    replace = true;
  }
  platform::MutexLock hold(&m_state->lock);
  return m_state->storeLocked(key, v, replace);
}

bool Data::removeData(const char* key) {
  if (key == nullptr) return false;
  platform::MutexLock hold(&m_state->lock);
  return m_state->values.erase(key) != 0;
}

bool Data::hasData(const char* key) {
  if (key == nullptr) return false;
  State& s = *m_state;
  platform::MutexLock hold(&s.lock);
  State::Slot slot;
  return s.findLocked(key, &slot);
}

int Data::registListener(const char* key, ListenerRecord* rec) {
  if (rec == nullptr) return 0;
  ListenerRecord copy = *rec;
  State& s = *m_state;
  platform::MutexLock hold(&s.lock);
  ConfigListener& registry = s.registry;
  if (namesKey(key)) {
    if (copy.id >= 100) {
      auto range = registry.listeners.equal_range(key);
      for (auto it = range.first; it != range.second; ++it) {
        if (it->second.id != copy.id) continue;
        platform::consoleError("[Listener] (Warnning): data-listener 'key=%s, id=%d' already exist !\n\n",
                               key, copy.id);
        return copy.id;
      }
    }
    copy.id = ++registry.lastId;
    registry.listeners.emplace(key, copy);
    ++s.version;
    return copy.id;
  }
  if (copy.id >= 100) {
    for (const ListenerRecord& filter : registry.filters) {
      if (filter.id != copy.id) continue;
      platform::consoleError("[Listener] (Warnning): data-filter 'id=%d' already exist !\n\n", copy.id);
      return copy.id;
    }
  }
  copy.id = ++registry.lastId;
  registry.filters.push_back(copy);
  ++s.version;
  return copy.id;
}

bool Data::unregistListener(const char* key, int id) {
  State& s = *m_state;
  platform::MutexLock hold(&s.lock);
  if (namesKey(key)) {
    auto range = s.registry.listeners.equal_range(key);
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second.id != id) continue;
      s.registry.listeners.erase(it);
      ++s.version;
      platform::consoleError("[Listener] remove data-listener 'key=%s, id=%d' OK !!!\n\n", key, id);
      return true;
    }
    return false;
  }
  auto& filters = s.registry.filters;
  for (auto it = filters.begin(); it != filters.end(); ++it) {
    if (it->id != id) continue;
    filters.erase(it);
    ++s.version;
    platform::consoleError("[Listener] remove data-filter 'id=%d' OK !!!\n\n", id);
    return true;
  }
  return false;
}

// Each callback runs without the lock, on a copy of its record. While no
// registration changes, the copies taken under one lock are called in order;
// after a change the walk finds its place again by id before every call: a
// callback may remove any registration, itself included, or add new ones, and
// another thread may do the same meanwhile. Registrations added during the
// walk carry higher ids and are called in the same notification.
bool Data::setDataNotify(const char* key, const Value& v, bool replace) {
  State& s = *m_state;
  ListenerRecord batch[kSnapshotRoom];
  int listeners = 0;
  int count = 0;
  unsigned version;
  if (isPlainData(this)) {
    // One acquisition for the store and the copy.
    if (key == nullptr) return false;
    platform::MutexLock hold(&s.lock);
    if (!s.storeLocked(key, v, replace)) return false;
    version = s.snapshotLocked(key, true, batch, kSnapshotRoom, &listeners, &count);
  } else {
    if (!setData(key, v, replace)) return false;
    platform::MutexLock hold(&s.lock);
    version = s.snapshotLocked(key, false, batch, kSnapshotRoom, &listeners, &count);
  }
  int after[2] = {0, 0};  // the last id called among listeners, among filters
  int called = 0;
  for (; called < count; ++called) {
    if (called > 0 && s.version.load() != version) break;
    // The callback may change its copy of the record, the id included.
    ListenerRecord rec = batch[called];
    after[called < listeners ? 0 : 1] = rec.id;
    callBack(&rec, key, v, called >= listeners);
  }
  if (count >= 0 && called == count && s.version.load() == version) return true;

  const int resume = called > listeners ? 1 : 0;
  for (int phase = resume; phase < 2; ++phase) {
    const char* walk = phase == 0 ? key : nullptr;
    ListenerRecord rec;
    for (int last = after[phase]; s.nextToNotify(walk, last, &rec);) {
      last = rec.id;
      callBack(&rec, key, v, phase == 1);
    }
  }
  return true;
}

unsigned Data::State::snapshotLocked(const char* key, bool keyInBuffer, ListenerRecord* out, int room,
                                     int* listeners, int* count) {
  int n = 0;
  if (!keyInBuffer) lookupKey.assign(key);
  auto& all = registry.listeners;
  for (auto it = all.lower_bound(lookupKey); it != all.end() && it->first == lookupKey; ++it) {
    if (n == room) return *count = -1, version.load();
    out[n++] = it->second;
  }
  *listeners = n;
  for (const ListenerRecord& filter : registry.filters) {
    if (n == room) return *count = -1, version.load();
    out[n++] = filter;
  }
  *count = n;
  return version.load();
}

bool Data::State::nextToNotify(const char* key, int after, ListenerRecord* out) {
  platform::MutexLock hold(&lock);
  if (key == nullptr) {
    for (const ListenerRecord& filter : registry.filters) {
      if (filter.id <= after) continue;
      *out = filter;
      return true;
    }
    return false;
  }
  // The cached key buffer spares an allocation per step for long keys.
  lookupKey.assign(key);
  for (auto it = registry.listeners.lower_bound(lookupKey);
       it != registry.listeners.end() && it->first == lookupKey; ++it) {
    if (it->second.id <= after) continue;
    *out = it->second;
    return true;
  }
  return false;
}

bool Data::hasListener(const char* key) {
  State& s = *m_state;
  platform::MutexLock hold(&s.lock);
  if (namesKey(key)) return s.registry.listeners.count(key) != 0;
  return !s.registry.filters.empty();
}

void Data::debug(FILE* fp) {
  if (fp == nullptr) return;
  platform::MutexLock hold(&m_state->lock);
  fputs("\n[Data] debug >>\n", fp);
  for (const auto& item : m_state->values)
    fprintf(fp, "%s  -->  %s\n", item.first.c_str(), item.second.write().c_str());
  fputs("\n", fp);
  fflush(fp);
}

// The keys and the listeners are both in key order: one walk over each.
void StatusProbe::dataBus(Data* bus, DataReport* out) {
  Data::State& s = *bus->m_state;
  platform::MutexLock hold(&s.lock);
  out->keys.reserve(s.values.size());
  auto listener = s.registry.listeners.begin();
  const auto listenersEnd = s.registry.listeners.end();
  for (const auto& item : s.values) {
    while (listener != listenersEnd && listener->first < item.first) ++listener;
    int listeners = 0;
    for (; listener != listenersEnd && listener->first == item.first; ++listener) ++listeners;
    out->keys.push_back({item.first, item.second.type(), valueSize(item.second), listeners});
  }
  for (const ListenerRecord& filter : s.registry.filters)
    out->filters.push_back({filter.id, reinterpret_cast<const void*>(filter.callback)});
}

Abstract_Datas* Data::create() {
  return new Data();
}

void Data::destroy(Abstract_Datas** pp) {
  if (pp == nullptr) return;
  delete *pp;
  *pp = nullptr;
}

}  // namespace bg
