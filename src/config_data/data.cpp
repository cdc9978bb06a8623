#include "kqbridge/data.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "diagnostics/call_guard.h"
#include "kqbridge/utils.h"

namespace bg {

namespace {

typedef std::lock_guard<std::recursive_mutex> Hold;

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

ConfigListener::ConfigListener() : m_lastId(100) {}

ConfigListener::~ConfigListener() = default;

Data::Data()
    : m_registry(new ConfigListener()), m_lookupSlot(m_values.end()), m_lookupFor(nullptr), m_version(0) {}

Data::~Data() {
  Hold hold(m_lock);
  m_values.clear();
  delete m_registry;
  m_registry = nullptr;
}

bool Data::slotAfterHasData(const char* key, Slot* slot) {
  if (m_lookupFor != key) {
    m_lookupKey.assign(key);
    m_lookupSlot = m_values.lower_bound(m_lookupKey);
    m_lookupFor = key;
  }
  *slot = m_lookupSlot;
  return m_lookupSlot != m_values.end() && m_lookupSlot->first == m_lookupKey;
}

Value Data::getData(const char* key, const Value& def) {
  if (key == nullptr) return def;
  Hold hold(m_lock);
  m_lookupFor = nullptr;
  if (!hasData(key)) return def;
  Slot slot;
  return slotAfterHasData(key, &slot) ? slot->second : def;
}

bool Data::setData(const char* key, const Value& v, bool replace) {
  if (key == nullptr) return false;
  Hold hold(m_lock);
  m_lookupFor = nullptr;
  if (hasData(key) && !replace) return false;
  Slot slot;
  if (slotAfterHasData(key, &slot)) {
    slot->second = v;
  } else {
    m_lookupSlot = m_values.emplace_hint(slot, m_lookupKey, v);
  }
  return true;
}

bool Data::removeData(const char* key) {
  Hold hold(m_lock);
  m_lookupFor = nullptr;
  return key != nullptr && m_values.erase(key) != 0;
}

bool Data::hasData(const char* key) {
  if (key == nullptr) return false;
  Hold hold(m_lock);
  m_lookupFor = nullptr;
  Slot slot;
  return slotAfterHasData(key, &slot);
}

int Data::registListener(const char* key, ListenerRecord* rec) {
  if (rec == nullptr) return 0;
  ListenerRecord copy = *rec;
  Hold hold(m_lock);
  if (namesKey(key)) {
    if (copy.id >= 100) {
      auto range = m_registry->m_listeners.equal_range(key);
      for (auto it = range.first; it != range.second; ++it) {
        if (it->second.id != copy.id) continue;
        fprintf(stderr, "[Listener] (Warnning): data-listener 'key=%s, id=%d' already exist !\n\n", key,
                copy.id);
        fflush(stderr);
        return copy.id;
      }
    }
    copy.id = ++m_registry->m_lastId;
    m_registry->m_listeners.emplace(key, copy);
    ++m_version;
    return copy.id;
  }
  if (copy.id >= 100) {
    for (const ListenerRecord& filter : m_registry->m_filters) {
      if (filter.id != copy.id) continue;
      fprintf(stderr, "[Listener] (Warnning): data-filter 'id=%d' already exist !\n\n", copy.id);
      fflush(stderr);
      return copy.id;
    }
  }
  copy.id = ++m_registry->m_lastId;
  m_registry->m_filters.push_back(copy);
  ++m_version;
  return copy.id;
}

bool Data::unregistListener(const char* key, int id) {
  Hold hold(m_lock);
  if (namesKey(key)) {
    auto range = m_registry->m_listeners.equal_range(key);
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second.id != id) continue;
      m_registry->m_listeners.erase(it);
      ++m_version;
      fprintf(stderr, "[Listener] remove data-listener 'key=%s, id=%d' OK !!!\n\n", key, id);
      fflush(stderr);
      return true;
    }
    return false;
  }
  auto& filters = m_registry->m_filters;
  for (auto it = filters.begin(); it != filters.end(); ++it) {
    if (it->id != id) continue;
    filters.erase(it);
    ++m_version;
    fprintf(stderr, "[Listener] remove data-filter 'id=%d' OK !!!\n\n", id);
    fflush(stderr);
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
  ListenerRecord batch[kSnapshotRoom];
  int listeners = 0;
  int count = 0;
  unsigned version;
  {
    // One acquisition for the store and the copy; the nested ones only count.
    Hold hold(m_lock);
    if (!setData(key, v, replace)) return false;
    version = snapshot(key, batch, kSnapshotRoom, &listeners, &count);
  }
  int after[2] = {0, 0};  // the last id called among listeners, among filters
  int called = 0;
  for (; called < count; ++called) {
    if (called > 0 && m_version.load() != version) break;
    // The callback may change its copy of the record, the id included.
    ListenerRecord rec = batch[called];
    after[called < listeners ? 0 : 1] = rec.id;
    callBack(&rec, key, v, called >= listeners);
  }
  if (count >= 0 && called == count && m_version.load() == version) return true;

  const int resume = called > listeners ? 1 : 0;
  for (int phase = resume; phase < 2; ++phase) {
    const char* walk = phase == 0 ? key : nullptr;
    ListenerRecord rec;
    for (int last = after[phase]; nextToNotify(walk, last, &rec);) {
      last = rec.id;
      callBack(&rec, key, v, phase == 1);
    }
  }
  return true;
}

unsigned Data::snapshot(const char* key, ListenerRecord* out, int room, int* listeners, int* count) {
  Hold hold(m_lock);
  int n = 0;
  // Right after our own setData the key's text is already in the buffer.
  if (m_lookupFor != key) {
    m_lookupFor = nullptr;
    m_lookupKey.assign(key);
  }
  auto& all = m_registry->m_listeners;
  for (auto it = all.lower_bound(m_lookupKey); it != all.end() && it->first == m_lookupKey; ++it) {
    if (n == room) return *count = -1, m_version.load();
    out[n++] = it->second;
  }
  *listeners = n;
  for (const ListenerRecord& filter : m_registry->m_filters) {
    if (n == room) return *count = -1, m_version.load();
    out[n++] = filter;
  }
  *count = n;
  return m_version.load();
}

bool Data::nextToNotify(const char* key, int after, ListenerRecord* out) {
  Hold hold(m_lock);
  if (key == nullptr) {
    for (const ListenerRecord& filter : m_registry->m_filters) {
      if (filter.id <= after) continue;
      *out = filter;
      return true;
    }
    return false;
  }
  // The cached key buffer spares an allocation per step for long keys.
  m_lookupFor = nullptr;
  m_lookupKey.assign(key);
  auto& listeners = m_registry->m_listeners;
  for (auto it = listeners.lower_bound(m_lookupKey); it != listeners.end() && it->first == m_lookupKey; ++it) {
    if (it->second.id <= after) continue;
    *out = it->second;
    return true;
  }
  return false;
}

bool Data::hasListener(const char* key) {
  Hold hold(m_lock);
  if (namesKey(key)) return m_registry->m_listeners.count(key) != 0;
  return !m_registry->m_filters.empty();
}

void Data::debug(FILE* fp) {
  if (fp == nullptr) return;
  Hold hold(m_lock);
  fputs("\n[Data] debug >>\n", fp);
  for (const auto& item : m_values)
    fprintf(fp, "%s  -->  %s\n", item.first.c_str(), item.second.write().c_str());
  fputs("\n", fp);
  fflush(fp);
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
