#include "kqbridge/data.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace bg {

namespace {

bool namesKey(const char* key) {
  return key != nullptr && *key != '\0';
}

}  // namespace

ConfigListener::ConfigListener() : m_lastId(100) {}

ConfigListener::~ConfigListener() = default;

Data::Data() : m_registry(new ConfigListener()), m_lookupSlot(m_values.end()), m_lookupFor(nullptr) {}

Data::~Data() {
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
  m_lookupFor = nullptr;
  if (!hasData(key)) return def;
  Slot slot;
  return slotAfterHasData(key, &slot) ? slot->second : def;
}

bool Data::setData(const char* key, const Value& v, bool replace) {
  if (key == nullptr) return false;
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
  m_lookupFor = nullptr;
  return key != nullptr && m_values.erase(key) != 0;
}

bool Data::hasData(const char* key) {
  if (key == nullptr) return false;
  m_lookupFor = nullptr;
  Slot slot;
  return slotAfterHasData(key, &slot);
}

int Data::registListener(const char* key, ListenerRecord* rec) {
  if (rec == nullptr) return 0;
  ListenerRecord copy = *rec;
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
  return copy.id;
}

bool Data::unregistListener(const char* key, int id) {
  if (namesKey(key)) {
    auto range = m_registry->m_listeners.equal_range(key);
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second.id != id) continue;
      m_registry->m_listeners.erase(it);
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
    fprintf(stderr, "[Listener] remove data-filter 'id=%d' OK !!!\n\n", id);
    fflush(stderr);
    return true;
  }
  return false;
}

// Registrations made by a callback join the walk in progress: a listener for
// the same key is inserted after the others of its key and a filter at the end
// of the list, and neither insertion moves the element the walk stands on.
bool Data::setDataNotify(const char* key, const Value& v, bool replace) {
  if (!setData(key, v, replace)) return false;
  auto& listeners = m_registry->m_listeners;
  if (m_lookupFor != key) m_lookupKey.assign(key);
  // Callbacks may look up other keys; the walk compares against its own copy of the length.
  const size_t keyLength = m_lookupKey.size();
  for (auto it = listeners.lower_bound(m_lookupKey); it != listeners.end() && it->first.size() == keyLength &&
                                                     memcmp(it->first.data(), key, keyLength) == 0;
       ++it) {
    ListenerRecord rec = it->second;
    if (rec.callback != nullptr) rec.callback(key, &v, &rec);
  }
  auto& filters = m_registry->m_filters;
  for (auto it = filters.begin(); it != filters.end(); ++it) {
    ListenerRecord rec = *it;
    if (rec.callback != nullptr) rec.callback(key, &v, &rec);
  }
  return true;
}

bool Data::hasListener(const char* key) {
  if (namesKey(key)) return m_registry->m_listeners.count(key) != 0;
  return !m_registry->m_filters.empty();
}

void Data::debug(FILE* fp) {
  if (fp == nullptr) return;
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
