// Calls to components of other nodes, and what is known of those nodes'
// presence. A Proxy stands for an imported component in the instance
// registry, so that CD->call reaches it as any local one.
#ifndef KQBRIDGE_REMOTE_CALLER_H_
#define KQBRIDGE_REMOTE_CALLER_H_

#include <kqbridge/interface.h>
#include <kqbridge/value.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>

#include "link.h"
#include "platform/mutex.h"
#include "settings.h"

namespace remote {

// Safe for concurrent use from any thread without outside locking. The
// on... operations run on the link's thread and only take this object's lock,
// which is never held around a publish.
class Caller {
 public:
  // `aborting` tells whether the host has begun to stop; it is asked only
  // while this object is open.
  Caller(const Settings& settings, Link* link, std::function<bool()> aborting);

  // Sends `msg` to `component` on `node` and returns its answer. Returns an
  // empty Value at once when the broker is not connected, the node is known
  // to be offline or this object is closed, and at the deadline when no
  // answer came within the call timeout; each failure logs one line naming
  // the node and the cause. While the first connection is being made it
  // waits for its outcome (up to the deadline).
  bg::Value call(const std::string& node, const std::string& component, const char* from,
                 const BridgeMsg& msg) EXCLUDES(m_lock);

  void onAnswer(const Inbound& in) EXCLUDES(m_lock);
  // "online", "offline" or empty (the retained status was cleared).
  void onStatus(const std::string& node, const std::string& payload) EXCLUDES(m_lock);
  // Answers every waiting call: its answer cannot come any more.
  void onDown(const std::string& cause) EXCLUDES(m_lock);
  // Answers every waiting call and refuses new ones: the host is stopping.
  void close() EXCLUDES(m_lock);

 private:
  enum class Presence { kUnknown, kOnline, kOffline };
  // Its fields change under m_lock while the call waits in m_waiting; once
  // it has left it, only the calling thread reads them.
  struct Waiter {
    std::string node;
    bool done = false;
    std::string answer;
    std::string cause;  // why there is no answer
    bg::platform::CondVar woken;
  };

  void failWaiting(const std::string& node, const std::string& cause) REQUIRES(m_lock);
  bg::Value wait(Waiter* w, uint64_t id, std::chrono::steady_clock::time_point deadline) EXCLUDES(m_lock);

  const Settings& m_settings;
  Link* const m_link;
  const std::function<bool()> m_aborting;
  const std::string m_replyTopic;

  bg::platform::Mutex m_lock;
  std::unordered_map<uint64_t, Waiter*> m_waiting GUARDED_BY(m_lock);
  std::map<std::string, Presence> m_presence GUARDED_BY(m_lock);
  uint64_t m_lastId GUARDED_BY(m_lock) = 0;
  bool m_closed GUARDED_BY(m_lock) = false;
};

// Stands for `import.component` of `import.node`; every message to it
// becomes a remote call. Its services stay null: the framework neither sets
// it up nor stops it, as it is not a loaded module.
class Proxy : public bg::Interface {
 public:
  Proxy(Caller* caller, const Import& import);
  bool init() override { return true; }
  bool initExtend() override { return true; }
  bool uninit() override { return true; }
  bg::Value process(const char* from, BridgeMsg msg) override;

 private:
  Caller* const m_caller;
  const std::string m_node;
};

}  // namespace remote

#endif  // KQBRIDGE_REMOTE_CALLER_H_
