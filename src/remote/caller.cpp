#include "caller.h"

#include <kqbridge/logger.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>

#include "platform/clock.h"
#include "wire.h"

namespace remote {

namespace {

// How often a waiting call looks whether the host has begun to stop.
const std::chrono::milliseconds kAbortPoll(50);

void logFailure(const std::string& component, const std::string& node, const std::string& cause) {
  BG_LOG(ERROR, "remote: call to '%s' on node '%s' failed: %s", component.c_str(), node.c_str(),
         cause.c_str());
}

}  // namespace

Caller::Caller(const Settings& settings, Link* link, std::function<bool()> aborting)
    : m_settings(settings),
      m_link(link),
      m_aborting(std::move(aborting)),
      m_replyTopic(replyTopic(settings.node)) {
  // A random start, so that an answer meant for an earlier run of this node
  // cannot match a call of this one.
  std::random_device seed;
  m_lastId = (static_cast<uint64_t>(seed()) << 32) ^ seed();
}

bg::Value Caller::call(const std::string& node, const std::string& component, const char* from,
                       const BridgeMsg& msg) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_settings.callTimeoutMs);
  bool closed;
  {
    bg::platform::MutexLock hold(&m_lock);
    closed = m_closed;
  }
  if (!closed && m_link->state() == Link::State::kStarting) m_link->waitStarted(deadline, m_aborting);
  Waiter w;
  uint64_t id = 0;
  {
    bg::platform::MutexLock hold(&m_lock);
    if (m_closed) {
      w.cause = "the host is stopping";
    } else if (m_link->state() != Link::State::kUp) {
      w.cause = "the broker is not connected";
    } else if (m_presence[node] == Presence::kOffline) {
      w.cause = "the node is offline";
    } else {
      id = ++m_lastId != 0 ? m_lastId : ++m_lastId;
      w.node = node;
      m_waiting[id] = &w;
    }
  }
  if (id == 0) {
    logFailure(component, node, w.cause);
    return bg::Value();
  }
  std::string correlation = std::to_string(id);
  Extras extras;
  extras.responseTopic = &m_replyTopic;
  extras.correlation = &correlation;
  std::string why;
  if (!m_link->publish(callTopic(node, component), encodeRequest(from, msg), 0, false, extras, &why)) {
    bg::platform::MutexLock hold(&m_lock);
    m_waiting.erase(id);
    logFailure(component, node, why);
    return bg::Value();
  }
  // The answer may have to come through this very thread's network loop.
  m_link->releaseLead();
  bg::Value answer = wait(&w, id, deadline);
  if (!w.cause.empty()) logFailure(component, node, w.cause);
  return answer;
}

bg::Value Caller::wait(Waiter* w, uint64_t id, std::chrono::steady_clock::time_point deadline) {
  {
    bg::platform::MutexLock hold(&m_lock);
    while (!w->done) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        w->cause = "no answer within " + std::to_string(m_settings.callTimeoutMs) + " ms";
        break;
      }
      if (m_aborting()) {
        w->cause = "the host is stopping";
        break;
      }
      w->woken.waitUntil(
          &m_lock, bg::platform::deadlineAfterMs(static_cast<unsigned>(std::min(left, kAbortPoll).count())));
    }
    m_waiting.erase(id);
  }
  bg::Value answer;
  if (w->cause.empty() && !decodeValue(w->answer, &answer))
    w->cause = "the answer is not {\"value\":\"<text form>\"}";
  return w->cause.empty() ? answer : bg::Value();
}

void Caller::onAnswer(const Inbound& in) {
  char* end = nullptr;
  uint64_t id = in.correlation.empty() ? 0 : std::strtoull(in.correlation.c_str(), &end, 10);
  if (id == 0 || *end != '\0' || in.correlation.size() > 20) {
    BG_LOG(ERROR, "remote: dropped an answer without a correlation id of ours (%d bytes)",
           static_cast<int>(in.payload.size()));
    return;
  }
  bg::platform::MutexLock hold(&m_lock);
  auto it = m_waiting.find(id);
  if (it == m_waiting.end()) {
    BG_LOG(DEBUG, "remote: answer %s came after its call ended", in.correlation.c_str());
    return;
  }
  it->second->done = true;
  it->second->answer = in.payload;
  it->second->woken.signal();
  m_waiting.erase(it);
}

void Caller::onStatus(const std::string& node, const std::string& payload) {
  Presence now = payload == kOnline    ? Presence::kOnline
                 : payload == kOffline ? Presence::kOffline
                                       : Presence::kUnknown;
  if (now == Presence::kUnknown && !payload.empty()) {
    BG_LOG(ERROR, "remote: dropped a status of node '%s' that is neither online nor offline", node.c_str());
    return;
  }
  bg::platform::MutexLock hold(&m_lock);
  Presence& known = m_presence[node];
  if (known == now) return;
  known = now;
  BG_LOG(ERROR, "remote: node '%s' is %s", node.c_str(), now == Presence::kOnline ? kOnline : kOffline);
  if (now == Presence::kOffline) failWaiting(node, "the node went offline");
}

void Caller::onDown(const std::string& cause) {
  bg::platform::MutexLock hold(&m_lock);
  // Presence is learnt again from the retained statuses after reconnecting.
  m_presence.clear();
  failWaiting(std::string(), "the connection to the broker was lost (" + cause + ")");
}

void Caller::close() {
  bg::platform::MutexLock hold(&m_lock);
  m_closed = true;
  failWaiting(std::string(), "the host is stopping");
}

void Caller::failWaiting(const std::string& node, const std::string& cause) {
  for (auto it = m_waiting.begin(); it != m_waiting.end();) {
    Waiter* w = it->second;
    if (!node.empty() && w->node != node) {
      ++it;
      continue;
    }
    w->done = true;
    w->cause = cause;
    w->woken.signal();
    it = m_waiting.erase(it);
  }
}

Proxy::Proxy(Caller* caller, const Import& import) : m_caller(caller), m_node(import.node) {
  snprintf(m_name, sizeof(m_name), "%s", import.component.c_str());
}

bg::Value Proxy::process(const char* from, BridgeMsg msg) {
  return m_caller->call(m_node, m_name, from, msg);
}

}  // namespace remote
