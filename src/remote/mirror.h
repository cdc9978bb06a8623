// Mirrored data-bus keys. A local change of a mirrored key is published
// retained, with this node as its origin: a setDataNotify at once (a filter
// on the bus sees it), a plain setData, which notifies nobody, at the next
// scan of the bus a few times a second. A value from another node is stored
// here with setDataNotify, so that local listeners fire. Each key's last text
// form on the wire is remembered, so a value neither echoes back nor loops,
// and a change made while the broker is away is published once it is back.
#ifndef KQBRIDGE_REMOTE_MIRROR_H_
#define KQBRIDGE_REMOTE_MIRROR_H_

#include <kqbridge/data.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "link.h"
#include "platform/mutex.h"
#include "settings.h"

namespace remote {

// Safe for concurrent use from any thread. apply() and scan() must be
// called one at a time, in the order the values arrived.
class Mirror {
 public:
  Mirror(const Settings& settings, Link* link, bg::Abstract_Datas* bus);
  Mirror(const Mirror&) = delete;
  Mirror& operator=(const Mirror&) = delete;

  // Registers and removes the filter that sees every setDataNotify.
  void attach();
  void detach();

  // On the link's thread once connected, before the subscriptions are made:
  // publishes what changed while the broker was away.
  void publishPending() EXCLUDES(m_lock);
  // A value published by another node for `key`.
  void apply(const std::string& key, const Inbound& in) EXCLUDES(m_lock);
  // Publishes mirrored keys that setData changed since the last look.
  void scan() EXCLUDES(m_lock);

 private:
  static void onSet(const char* key, const bg::Value* value, ListenerRecord* rec);
  // Publishes `text` as the value of `key` unless it is what the wire
  // already has; queues it while the broker is away.
  void changed(const std::string& key, const std::string& text) EXCLUDES(m_lock);
  void send(const std::string& key, const std::string& text) REQUIRES(m_lock);
  // The stored keys under the mirrored prefixes.
  std::vector<std::string> keysUnderPrefixes();

  const Settings& m_settings;
  Link* const m_link;
  bg::Abstract_Datas* const m_bus;
  int m_filterId = 0;

  // Held from the decision to publish until the publish, so that the broker
  // sees a key's values in the order they were decided here.
  bg::platform::Mutex m_lock;
  // key -> text form last sent or received
  std::map<std::string, std::string> m_onWire GUARDED_BY(m_lock);
  std::set<std::string> m_pending GUARDED_BY(m_lock);  // changed while the broker was away
  std::set<std::string> m_refused GUARDED_BY(m_lock);  // keys no topic can carry, reported once
};

}  // namespace remote

#endif  // KQBRIDGE_REMOTE_MIRROR_H_
