#include "mirror.h"

#include <kqbridge/logger.h>

#include <cstdio>
#include <cstring>

#include "wire.h"

namespace remote {

namespace {

// What getData answers for a key that is not stored: no value's text form.
const char kAbsent[] = "\x01 absent";

}  // namespace

Mirror::Mirror(const Settings& settings, Link* link, bg::Abstract_Datas* bus)
    : m_settings(settings), m_link(link), m_bus(bus) {}

void Mirror::attach() {
  ListenerRecord record = {};
  record.callback = &Mirror::onSet;
  record.user[0] = reinterpret_cast<intptr_t>(this);
  m_filterId = m_bus->registListener(nullptr, &record);
}

void Mirror::detach() {
  if (m_filterId != 0) m_bus->unregistListener(nullptr, m_filterId);
  m_filterId = 0;
}

void Mirror::onSet(const char* key, const bg::Value* value, ListenerRecord* rec) {
  Mirror* self = reinterpret_cast<Mirror*>(rec->user[0]);
  if (key != nullptr && self->m_settings.mirrored(key)) self->changed(key, value->write());
}

void Mirror::changed(const std::string& key, const std::string& text) {
  bg::platform::MutexLock hold(&m_lock);
  std::string& onWire = m_onWire[key];
  if (onWire == text) return;
  onWire = text;
  send(key, text);
}

void Mirror::send(const std::string& key, const std::string& text) {
  if (m_refused.count(key) != 0) return;
  if (!m_link->connected()) {
    m_pending.insert(key);
    return;
  }
  Extras extras;
  extras.origin = &m_settings.node;
  std::string why;
  if (m_link->publish(dataTopic(key), encodeValue(text), 1, true, extras, &why)) return;
  if (!m_link->connected()) {
    m_pending.insert(key);
  } else {
    m_refused.insert(key);
    BG_LOG(ERROR, "remote: key '%s' cannot be mirrored: %s", key.c_str(), why.c_str());
  }
}

void Mirror::publishPending() {
  bg::platform::MutexLock hold(&m_lock);
  std::set<std::string> pending;
  pending.swap(m_pending);
  for (const std::string& key : pending) send(key, m_onWire[key]);
}

void Mirror::apply(const std::string& key, const Inbound& in) {
  if (in.origin == m_settings.node || !m_settings.mirrored(key)) return;
  bg::Value value;
  if (!decodeValue(in.payload, &value)) {
    BG_LOG(ERROR, "remote: dropped a value for key '%s' that is not {\"value\":\"<text form>\"} (%d bytes)",
           key.c_str(), static_cast<int>(in.payload.size()));
    return;
  }
  {
    bg::platform::MutexLock hold(&m_lock);
    std::string& onWire = m_onWire[key];
    std::string text = value.write();
    if (onWire == text) return;
    onWire = text;
    m_pending.erase(key);
  }
  // Outside the lock: the listeners run now, and may set mirrored keys themselves.
  m_bus->setDataNotify(key.c_str(), value, true);
}

// The bus is read under the lock, so that a change made meanwhile by
// setDataNotify is published after this one, not before.
void Mirror::scan() {
  std::vector<std::string> keys = m_settings.exactKeys;
  if (!m_settings.keyPrefixes.empty()) {
    std::vector<std::string> more = keysUnderPrefixes();
    keys.insert(keys.end(), more.begin(), more.end());
  }
  bg::Value absent = bg::Value::ErrorValue(kAbsent);
  std::string absentText = absent.write();
  for (const std::string& key : keys) {
    bg::platform::MutexLock hold(&m_lock);
    std::string text = m_bus->getData(key.c_str(), absent).write();
    std::string& onWire = m_onWire[key];
    if (text == absentText || text == onWire) continue;
    onWire = text;
    send(key, text);
  }
}

// The bus offers no walk over its keys, but its debug dump lists them, one
// "key  -->  text form" line each. A text form may span lines; a line taken
// for a key by mistake names no stored key and is skipped by scan().
std::vector<std::string> Mirror::keysUnderPrefixes() {
  std::vector<std::string> keys;
  FILE* dump = std::tmpfile();
  if (dump == nullptr) return keys;
  m_bus->debug(dump);
  std::rewind(dump);
  std::string line;
  for (int c = std::fgetc(dump);; c = std::fgetc(dump)) {
    if (c != '\n' && c != EOF) {
      line += static_cast<char>(c);
      continue;
    }
    size_t arrow = line.find("  -->  ");
    if (arrow != std::string::npos) {
      std::string key = line.substr(0, arrow);
      if (m_settings.mirrored(key)) keys.push_back(key);
    }
    line.clear();
    if (c == EOF) break;
  }
  std::fclose(dump);
  return keys;
}

}  // namespace remote
