#include "link.h"

#include <kqbridge/logger.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <system_error>

#include "platform/clock.h"
#include "platform/socket_wait.h"
#include "wire.h"

namespace remote {

namespace {

// Reconnect delays double from the first to the cap.
const int kFirstRetryMs = 100;
const int kMaxRetryMs = 2000;
// How long one turn of the network loop may wait for traffic: the longest a
// stop request or a waiting job waits to be seen.
const int kLoopMs = 50;
// How often the watching idle thread looks whether the leader's job has run
// long enough to take the network from it.
const int kWatchMs = 50;
const auto kSlowJob = std::chrono::milliseconds(25);
// How often a caller waiting for the first connection asks whether to give up.
const int kStartPollMs = 50;
// Calls beyond this many waiting are dropped.
const size_t kJobBacklog = 4096;
const auto kTick = std::chrono::milliseconds(250);
// The broker notices a peer gone silent after 1.5 times this.
const int kKeepAliveS = 5;
// What stop() gives the broker to take the goodbye.
const auto kGoodbye = std::chrono::seconds(1);

std::string describe(int rc) {
  if (rc == MOSQ_ERR_ERRNO) return std::generic_category().message(errno);
  return mosquitto_strerror(rc);
}

// Unique per process, so that two hosts claiming one node name do not take
// each other's session over and over.
std::string clientId(const std::string& node) {
  std::random_device seed;
  char suffix[16];
  snprintf(suffix, sizeof(suffix), "-%08x", static_cast<unsigned>(seed()));
  return "kqbridge-" + node + suffix;
}

std::string readString(const mosquitto_property* props, int id) {
  char* value = nullptr;
  mosquitto_property_read_string(props, id, &value, false);
  std::string out = value != nullptr ? value : "";
  free(value);
  return out;
}

}  // namespace

struct Link::Callbacks {
  static void onConnect(mosquitto*, void* self, int rc, int flags, const mosquitto_property* props);
  static void onDisconnect(mosquitto*, void* self, int rc, const mosquitto_property* props);
  static void onSubscribe(mosquitto*, void* self, int mid, int count, const int* granted,
                          const mosquitto_property* props);
  static void onMessage(mosquitto*, void* self, const mosquitto_message* msg,
                        const mosquitto_property* props);
  static void onPublish(mosquitto*, void* self, int mid, int reason, const mosquitto_property* props);
  static void onUnsubscribe(mosquitto*, void* self, int mid, const mosquitto_property* props);
};

Link::Link(const Settings& settings, std::vector<std::string> filters, LinkEvents* events, int workers)
    : m_settings(settings),
      m_filters(std::move(filters)),
      m_events(events),
      m_statusTopic(statusTopic(settings.node)),
      m_workers(workers),
      m_retryMs(kFirstRetryMs),
      m_nextTick(std::chrono::steady_clock::now() + kTick) {}

Link::~Link() {
  stop();
  if (m_mosq != nullptr) mosquitto_destroy(m_mosq);
  if (m_libraryReady) mosquitto_lib_cleanup();
}

bool Link::start(std::string* why) {
  m_libraryReady = mosquitto_lib_init() == MOSQ_ERR_SUCCESS;
  m_mosq = mosquitto_new(clientId(m_settings.node).c_str(), true, this);
  if (m_mosq == nullptr) {
    *why = "the MQTT client could not be made";
    return false;
  }
  mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_connect_v5_callback_set(m_mosq, Callbacks::onConnect);
  mosquitto_disconnect_v5_callback_set(m_mosq, Callbacks::onDisconnect);
  mosquitto_subscribe_v5_callback_set(m_mosq, Callbacks::onSubscribe);
  mosquitto_message_v5_callback_set(m_mosq, Callbacks::onMessage);
  mosquitto_publish_v5_callback_set(m_mosq, Callbacks::onPublish);
  mosquitto_unsubscribe_v5_callback_set(m_mosq, Callbacks::onUnsubscribe);
  int rc = mosquitto_will_set_v5(m_mosq, m_statusTopic.c_str(), static_cast<int>(strlen(kOffline)), kOffline,
                                 1, true, nullptr);
  if (rc == MOSQ_ERR_SUCCESS && !m_settings.username.empty()) {
    rc = mosquitto_username_pw_set(m_mosq, m_settings.username.c_str(),
                                   m_settings.password.empty() ? nullptr : m_settings.password.c_str());
  }
  if (rc == MOSQ_ERR_SUCCESS && m_settings.tls) {
    auto orNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    if (m_settings.caFile.empty()) {
      rc = mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    } else {
      rc = mosquitto_tls_set(m_mosq, m_settings.caFile.c_str(), nullptr, orNull(m_settings.certFile),
                             orNull(m_settings.keyFile), nullptr);
    }
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    *why = rc == MOSQ_ERR_NOT_SUPPORTED ? "this build of the MQTT client has no TLS" : describe(rc);
    return false;
  }
  for (int i = 0; i <= m_workers; ++i) m_threads.emplace_back(&Link::work, this);
  return true;
}

void Link::stop() {
  {
    bg::platform::MutexLock hold(&m_lock);
    m_stop = true;
    m_jobs.clear();
    m_changed.signalAll();
    m_leadFree.signalAll();
    m_watch.signalAll();
  }
  for (std::thread& t : m_threads) t.join();
  m_threads.clear();
  closeCleanly();
}

// Nobody is woken: the leader sees the job after its turn of the network
// loop, and threads that finish a job look for the next.
bool Link::addJob(std::function<void()> job) {
  bg::platform::MutexLock hold(&m_lock);
  if (m_jobsClosed || m_stop || m_jobs.size() >= kJobBacklog) return false;
  m_jobs.push_back(std::move(job));
  return true;
}

void Link::openJobs() {
  bg::platform::MutexLock hold(&m_lock);
  m_jobsOpen = !m_jobsClosed;
}

void Link::closeJobs() {
  bg::platform::MutexLock hold(&m_lock);
  m_jobsOpen = false;
  m_jobsClosed = true;
  m_jobs.clear();
  while (m_running != 0) m_changed.wait(&m_lock);
}

bool Link::jobsClosed() {
  bg::platform::MutexLock hold(&m_lock);
  return m_jobsClosed;
}

bool Link::publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                   const Extras& extras, std::string* why) {
  if (!m_connected) {
    *why = "the broker is not connected";
    return false;
  }
  mosquitto_property* props = nullptr;
  if (extras.responseTopic != nullptr)
    mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC, extras.responseTopic->c_str());
  if (extras.correlation != nullptr) {
    mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, extras.correlation->data(),
                                  static_cast<uint16_t>(std::min<size_t>(extras.correlation->size(), 65535)));
  }
  if (extras.origin != nullptr)
    mosquitto_property_add_string_pair(&props, MQTT_PROP_USER_PROPERTY, kOriginProperty,
                                       extras.origin->c_str());
  int rc = mosquitto_publish_v5(m_mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                payload.data(), qos, retain, props);
  mosquitto_property_free_all(&props);
  if (rc != MOSQ_ERR_SUCCESS) *why = describe(rc);
  return rc == MOSQ_ERR_SUCCESS;
}

Link::State Link::waitStarted(std::chrono::steady_clock::time_point deadline,
                              const std::function<bool()>& abort) {
  bg::platform::MutexLock hold(&m_lock);
  while (m_state == State::kStarting && !m_stop && !abort()) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    m_changed.waitUntil(&m_lock, bg::platform::deadlineAfterMs(
                                     static_cast<unsigned>(std::min<long long>(left.count(), kStartPollMs))));
  }
  return m_state;
}

void Link::setState(State s) {
  bg::platform::MutexLock hold(&m_lock);
  m_state = s;
  m_changed.signalAll();
}

void Link::pause(int ms) {
  bg::platform::MutexLock hold(&m_lock);
  timespec until = bg::platform::deadlineAfterMs(static_cast<unsigned>(ms));
  while (!m_stop && m_changed.waitUntil(&m_lock, until)) {
  }
}

void Link::lost(const std::string& cause) {
  m_connected = false;
  bool wasUp = m_state == State::kUp;
  if (m_state != State::kDown) setState(State::kDown);
  if (wasUp || cause != m_lastCause) {
    BG_LOG(ERROR, "remote: broker %s:%d %s: %s; trying again", m_settings.host.c_str(), m_settings.port,
           wasUp ? "lost" : "unreachable", cause.c_str());
  }
  m_lastCause = cause;
  m_events->onDown(cause);
}

void Link::work() {
  m_lock.lock();
  while (!m_stop) {
    if (!m_leading) {
      m_leading = true;
      lead(++m_leadTerm);
      // After a hand-over the job it was for is taken before anyone else can.
      if (hasJob()) runJob(false);
      continue;
    }
    if (hasJob()) {
      runJob(false);
      continue;
    }
    ++m_idle;
    if (m_watching) {
      m_leadFree.wait(&m_lock);
      --m_idle;
      continue;
    }
    m_watching = true;
    m_watch.waitUntil(&m_lock, bg::platform::deadlineAfterMs(kWatchMs));
    m_watching = false;
    --m_idle;
    if (m_leading && m_leaderInJob && std::chrono::steady_clock::now() - m_leaderJobSince >= kSlowJob)
      vacateLead();
    // The watch passes to another idle thread when this one has work now.
    if ((m_stop || !m_leading || hasJob()) && m_idle > 0) m_leadFree.signal();
  }
  m_lock.unlock();
}

// A single job runs here, on the thread that read it: the answer leaves
// without a switch of threads. When more are waiting the network passes to an
// idle thread, and this one becomes a worker. A job that runs long loses the
// lead to the watching thread (see work()).
void Link::lead(uint64_t term) {
  while (!m_stop && term == m_leadTerm) {
    if (!hasJob()) {
      m_lock.unlock();
      turn();
      m_lock.lock();
      continue;
    }
    if (m_jobs.size() > 1 && m_idle > 0) {
      vacateLead();
      return;
    }
    runJob(true);
  }
}

bool Link::hasJob() const {
  return m_jobsOpen && !m_jobs.empty();
}

void Link::runJob(bool leading) {
  std::function<void()> job = std::move(m_jobs.front());
  m_jobs.pop_front();
  ++m_running;
  uint64_t term = m_leadTerm;
  if (leading) {
    m_leaderInJob = true;
    m_leaderJobSince = std::chrono::steady_clock::now();
    m_leader = std::this_thread::get_id();
  }
  m_lock.unlock();
  job();
  job = nullptr;
  m_lock.lock();
  if (leading && term == m_leadTerm) m_leaderInJob = false;
  --m_running;
  m_changed.signalAll();
}

void Link::vacateLead() {
  m_leading = false;
  m_leaderInJob = false;
  ++m_leadTerm;
  if (m_idle > (m_watching ? 1 : 0)) {
    m_leadFree.signal();
  } else if (m_watching) {
    m_watch.signal();
  }
}

void Link::releaseLead() {
  bg::platform::MutexLock hold(&m_lock);
  if (m_leading && m_leaderInJob && m_leader == std::this_thread::get_id()) vacateLead();
}

void Link::turn() {
  if (!m_socketOpen) {
    int rc = mosquitto_connect_async(m_mosq, m_settings.host.c_str(), m_settings.port, kKeepAliveS);
    m_socketOpen = rc == MOSQ_ERR_SUCCESS;
    if (!m_socketOpen) {
      lost(describe(rc));
      pause(m_retryMs);
      m_retryMs = std::min(m_retryMs * 2, kMaxRetryMs);
      return;
    }
  }
  // While connecting the library's own loop does the handshake steps.
  int rc = m_connected ? serviceSocket() : mosquitto_loop(m_mosq, kLoopMs, 1);
  if (m_justConnected && rc == MOSQ_ERR_SUCCESS) {
    m_justConnected = false;
    m_retryMs = kFirstRetryMs;
    afterConnect();
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    m_justConnected = false;
    m_socketOpen = false;
    lost(m_refusal.empty() ? describe(rc) : m_refusal);
    m_refusal.clear();
    pause(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, kMaxRetryMs);
  }
  if (std::chrono::steady_clock::now() >= m_nextTick) {
    m_events->onTick();
    m_nextTick = std::chrono::steady_clock::now() + kTick;
  }
}

// Once connected we wait on the socket alone, not through mosquitto_loop:
// that also waits on a pipe to which the library writes a byte on every
// publish, which would wake this thread for each call or answer another
// thread sends, only to find it already written. A publish that could not
// be written at once (the library in one of our callbacks, a full socket) is
// written after the callback, or at the latest on the next turn.
int Link::serviceSocket() {
  int ready = bg::platform::waitSocket(mosquitto_socket(m_mosq), mosquitto_want_write(m_mosq), kLoopMs);
  if (ready < 0) return MOSQ_ERR_ERRNO;
  int rc = MOSQ_ERR_SUCCESS;
  if ((ready & bg::platform::kSocketReadable) != 0) rc = mosquitto_loop_read(m_mosq, 1);
  if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(m_mosq)) rc = mosquitto_loop_write(m_mosq, 1);
  if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(m_mosq);
  return rc;
}

// Outside the library's callbacks: the library has already queued again what
// was in flight when the last connection went, so what we publish now follows it.
void Link::afterConnect() {
  m_connected = true;
  m_lastCause.clear();
  BG_LOG(ERROR, "remote: connected to broker %s:%d as node '%s'", m_settings.host.c_str(), m_settings.port,
         m_settings.node.c_str());
  mosquitto_publish_v5(m_mosq, nullptr, m_statusTopic.c_str(), static_cast<int>(strlen(kOnline)), kOnline, 1,
                       true, nullptr);
  m_events->onConnected();
  std::vector<char*> filters;
  for (const std::string& f : m_filters) filters.push_back(const_cast<char*>(f.c_str()));
  int rc = mosquitto_subscribe_multiple(m_mosq, &m_subscribeMid, static_cast<int>(filters.size()),
                                        filters.data(), 1, MQTT_SUB_OPT_NO_LOCAL, nullptr);
  if (rc != MOSQ_ERR_SUCCESS) {
    BG_LOG(ERROR, "remote: subscribing failed: %s", describe(rc).c_str());
    setState(State::kUp);
  }
}

// The goodbye is acknowledged before the disconnect, so that the broker
// never finds the socket gone with an answer still to send.
void Link::closeCleanly() {
  if (!m_connected) return;
  m_connected = false;
  int goodbye = 0;
  mosquitto_publish_v5(m_mosq, &goodbye, m_statusTopic.c_str(), static_cast<int>(strlen(kOffline)), kOffline,
                       1, true, nullptr);
  m_goodbyeMid = goodbye;
  std::vector<char*> filters;
  for (const std::string& f : m_filters) filters.push_back(const_cast<char*>(f.c_str()));
  int unsubscribe = 0;
  mosquitto_unsubscribe_multiple(m_mosq, &unsubscribe, static_cast<int>(filters.size()), filters.data(),
                                 nullptr);
  m_unsubscribeMid = unsubscribe;
  auto deadline = std::chrono::steady_clock::now() + kGoodbye;
  while (std::chrono::steady_clock::now() < deadline && (m_goodbyeMid != 0 || m_unsubscribeMid != 0) &&
         mosquitto_loop(m_mosq, kLoopMs, 1) == MOSQ_ERR_SUCCESS) {
  }
  mosquitto_disconnect_v5(m_mosq, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
  while (std::chrono::steady_clock::now() < deadline &&
         mosquitto_loop(m_mosq, kLoopMs, 1) == MOSQ_ERR_SUCCESS) {
  }
}

// Also called on other threads, for the requests and answers they publish.
void Link::Callbacks::onPublish(mosquitto*, void* self, int mid, int, const mosquitto_property*) {
  Link* link = static_cast<Link*>(self);
  int expected = mid;
  link->m_goodbyeMid.compare_exchange_strong(expected, 0);
}

void Link::Callbacks::onUnsubscribe(mosquitto*, void* self, int mid, const mosquitto_property*) {
  Link* link = static_cast<Link*>(self);
  if (mid == link->m_unsubscribeMid) link->m_unsubscribeMid = 0;
}

void Link::Callbacks::onConnect(mosquitto*, void* self, int rc, int, const mosquitto_property*) {
  Link* link = static_cast<Link*>(self);
  if (rc == 0) {
    link->m_justConnected = true;
  } else {
    link->m_refusal = std::string("refused: ") + mosquitto_reason_string(rc);
  }
}

void Link::Callbacks::onDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*) {
  Link* link = static_cast<Link*>(self);
  if (link->m_stop || !link->m_connected) return;
  link->m_connected = false;
  link->lost(describe(rc));
}

void Link::Callbacks::onSubscribe(mosquitto*, void* self, int mid, int count, const int* granted,
                                  const mosquitto_property*) {
  Link* link = static_cast<Link*>(self);
  if (mid != link->m_subscribeMid) return;
  for (int i = 0; i < count && i < static_cast<int>(link->m_filters.size()); ++i) {
    if (granted[i] >= 0x80)
      BG_LOG(ERROR, "remote: the broker refused the subscription to '%s'", link->m_filters[i].c_str());
  }
  link->setState(State::kUp);
}

void Link::Callbacks::onMessage(mosquitto*, void* self, const mosquitto_message* msg,
                                const mosquitto_property* props) {
  Inbound in;
  in.topic = msg->topic;
  in.payload.assign(static_cast<const char*>(msg->payload), static_cast<size_t>(msg->payloadlen));
  in.responseTopic = readString(props, MQTT_PROP_RESPONSE_TOPIC);
  void* data = nullptr;
  uint16_t len = 0;
  if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &len, false) != nullptr) {
    in.hasCorrelation = true;
    in.correlation.assign(static_cast<const char*>(data), len);
    free(data);
  }
  for (const mosquitto_property* p = props; p != nullptr; p = mosquitto_property_next(p)) {
    char* name = nullptr;
    char* value = nullptr;
    if (mosquitto_property_read_string_pair(p, MQTT_PROP_USER_PROPERTY, &name, &value, false) == p &&
        strcmp(name, kOriginProperty) == 0) {
      in.origin = value;
    }
    free(name);
    free(value);
  }
  static_cast<Link*>(self)->m_events->onMessage(in);
}

}  // namespace remote
