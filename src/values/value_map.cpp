#include "kqbridge/value_map.h"

#include <cstdio>

#include "platform/console.h"

namespace bg {

const Value ValueMap::m_invalid;

ValueMap::ValueMap() {
  m_type = VT_MAP;
}

ValueMap::ValueMap(const ValueMap& o) = default;

ValueMap::ValueMap(const Map& m) : m_map(m) {
  m_type = VT_MAP;
}

ValueMap::~ValueMap() = default;

ValueMap& ValueMap::operator=(const ValueMap& o) {
  if (&o == this) return *this;
  setmap(o.m_map);
  Value::operator=(o);
  return *this;
}

Value& ValueMap::operator[](const char* key) {
  return m_map[key];
}

const Value& ValueMap::operator[](const char* key) const {
  auto it = m_map.find(key);
  if (it != m_map.end()) return it->second;
  platform::consoleError("== invalid, key = %s\n", key);
  return m_invalid;
}

Value ValueMap::get_data(const char* key, const Value& def) {
  auto it = m_map.find(key);
  if (it != m_map.end()) return it->second;
  if (def.Value::isValid()) return def;
  return Value::ErrorValue("'key' not exist ...");
}

bool ValueMap::insert_data(const char* key, const Value& v, bool replace) {
  auto result = m_map.emplace(key, v);
  if (result.second) return true;
  if (!replace) return false;
  result.first->second = v;
  return true;
}

bool ValueMap::isContains(const char* key) {
  return key != nullptr && m_map.count(key) != 0;
}

bool ValueMap::isEmpty() const {
  return !m_map.empty();
}

bool ValueMap::isValid() const {
  return !m_map.empty();
}

void ValueMap::clear() {
  m_map.clear();
}

ValueMap::Map::iterator ValueMap::begin() {
  return m_map.begin();
}
ValueMap::Map::iterator ValueMap::end() {
  return m_map.end();
}
ValueMap::Map::const_iterator ValueMap::begin() const {
  return m_map.begin();
}
ValueMap::Map::const_iterator ValueMap::end() const {
  return m_map.end();
}

const ValueMap::Map& ValueMap::vmap() const {
  return m_map;
}

void ValueMap::setmap(const Map& m) {
  if (&m == &m_map) return;
  m_map = m;
}

}  // namespace bg
