#include "session.h"

#include <kqbridge/bridge.h>
#include <kqbridge/logger.h>
#include <kqbridge/registry.h>

#include <chrono>
#include <exception>
#include <set>
#include <thread>

#include "wire.h"

namespace remote {

namespace {

// Calls run side by side on the link's threads; values one at a time, in order.
const int kCallWidth = 4;
const size_t kValueBacklog = 65536;
// How often the guard looks whether the host has begun to stop.
const auto kGuardPoll = std::chrono::milliseconds(50);

}  // namespace

Session::Session(Settings settings, bg::Abstract_Datas* bus, bg::Abstract_ThreadPool* pool)
    : m_settings(std::move(settings)),
      m_pool(pool),
      m_link(m_settings, filters(), this, kCallWidth),
      m_caller(m_settings, &m_link, [pool] { return pool->isAborting(); }),
      m_mirror(m_settings, &m_link, bus),
      m_values(kValueBacklog) {}

Session::~Session() {
  stop();
}

// Requests to this node always get an answer, also for components it does
// not export; statuses only matter for the nodes we import from.
std::vector<std::string> Session::filters() const {
  std::set<std::string> topics = {replyTopic(m_settings.node), callTopic(m_settings.node, "#")};
  for (const Import& i : m_settings.imports) topics.insert(statusTopic(i.node));
  std::set<std::string> data;
  for (const std::string& k : m_settings.exactKeys) data.insert(dataFilter(k, false));
  for (const std::string& p : m_settings.keyPrefixes) data.insert(dataFilter(p, true));
  const std::string everything = dataFilter(std::string(), true);
  if (data.count(everything) != 0) data = {everything};
  topics.insert(data.begin(), data.end());
  return std::vector<std::string>(topics.begin(), topics.end());
}

bool Session::start(std::string* why) {
  for (const Import& import : m_settings.imports) {
    if (bg::getInstance(import.component.c_str()) != nullptr) {
      BG_LOG(ERROR, "remote: Import '%s@%s' skipped: '%s' is a component here already",
             import.component.c_str(), import.node.c_str(), import.component.c_str());
      continue;
    }
    m_proxies.emplace_back(&m_caller, import);
    bg::setInstance(import.component.c_str(), &m_proxies.back());
  }
  if (!m_settings.exactKeys.empty() || !m_settings.keyPrefixes.empty()) m_mirror.attach();
  return m_link.start(why);
}

void Session::serve() {
  m_link.openJobs();
  m_values.open();
  if (!m_guarding) m_guarding = m_pool->addTask(&Session::guard, this);
}

// A job on the host's shared pool for as long as the session serves. The host
// joins the pool before it stops any component, and this job ends only once
// calls and values are closed: none of ours reaches a component while it is
// being stopped. It is added from the host's thread only, as the pool must
// not be given jobs while it shuts down.
void Session::guard(void* self) {
  Session* session = static_cast<Session*>(self);
  while (!session->m_pool->isAborting()) std::this_thread::sleep_for(kGuardPoll);
  session->m_link.closeJobs();
  session->m_values.close();
}

void Session::stop() {
  if (m_stopped) return;
  m_stopped = true;
  m_caller.close();
  m_mirror.detach();
  m_link.closeJobs();
  m_values.close();
  m_link.stop();
  for (Proxy& proxy : m_proxies) {
    if (bg::getInstance(proxy.m_name) == &proxy) bg::eraseInstance(proxy.m_name);
  }
}

void Session::onConnected() {
  m_mirror.publishPending();
}

void Session::onDown(const std::string& cause) {
  m_caller.onDown(cause);
}

void Session::onMessage(const Inbound& in) {
  if (in.payload.size() > kMaxPayload) {
    BG_LOG(ERROR, "remote: dropped a message of %d bytes on '%.200s': more than %d",
           static_cast<int>(in.payload.size()), in.topic.c_str(), static_cast<int>(kMaxPayload));
    return;
  }
  std::string name;
  bool queued = true;
  bool closed = false;
  switch (classify(in.topic, m_settings.node, &name)) {
    case Topic::kCall:
      queued = m_link.addJob([this, name, in] { serveCall(name, in); });
      closed = !queued && m_link.jobsClosed();
      break;
    case Topic::kReply:
      m_caller.onAnswer(in);
      break;
    case Topic::kStatus:
      m_caller.onStatus(name, in.payload);
      break;
    case Topic::kData:
      queued = m_values.push([this, name, in] { m_mirror.apply(name, in); });
      closed = !queued && m_values.closed();
      break;
    case Topic::kOther:
      BG_LOG(ERROR, "remote: dropped a message on '%.200s', a topic of no use here", in.topic.c_str());
      break;
  }
  if (!queued && !closed)
    BG_LOG(ERROR, "remote: dropped a message on '%.200s': too many are waiting", in.topic.c_str());
}

void Session::onTick() {
  if (m_settings.exactKeys.empty() && m_settings.keyPrefixes.empty()) return;
  if (m_scanQueued.exchange(true)) return;
  if (!m_values.push([this] {
        m_scanQueued = false;
        m_mirror.scan();
      })) {
    m_scanQueued = false;
  }
}

void Session::serveCall(const std::string& component, const Inbound& in) {
  if (in.responseTopic.empty()) {
    BG_LOG(ERROR, "remote: dropped a call to '%s' without a response topic", component.c_str());
    return;
  }
  Request request;
  if (!decodeRequest(in.payload, &request)) {
    BG_LOG(ERROR, "remote: dropped a call to '%s' that is not a request object (answer to '%.200s')",
           component.c_str(), in.responseTopic.c_str());
    answer(in, bg::Value().write());
    return;
  }
  // Only components the host loaded answer: never a proxy, which would pass
  // the call on, nor anything else in the instance registry.
  void* target = bg::getInstance(component.c_str());
  bg::Admin* admin = dynamic_cast<bg::Admin*>(bg::CD);
  const char* refusal = !m_settings.exported(component) ? "it is not exported"
                        : target == nullptr || admin == nullptr || !admin->isManaged(target)
                            ? "there is no such component"
                            : nullptr;
  if (refusal != nullptr) {
    BG_LOG(ERROR, "remote: refused a call to '%s' from '%s' (answer to '%.200s'): %s", component.c_str(),
           request.from.c_str(), in.responseTopic.c_str(), refusal);
    answer(in, bg::Value().write());
    return;
  }
  bg::Value result;
  try {
    result = static_cast<bg::Interface*>(target)->process(request.from.c_str(), request.message());
  } catch (const std::exception& e) {
    BG_LOG(ERROR, "remote: component '%s' threw from process(): %s", component.c_str(), e.what());
  } catch (...) {
    BG_LOG(ERROR, "remote: component '%s' threw from process()", component.c_str());
  }
  answer(in, result.write());
}

void Session::answer(const Inbound& in, const std::string& textForm) {
  Extras extras;
  if (in.hasCorrelation) extras.correlation = &in.correlation;
  std::string why;
  if (!m_link.publish(in.responseTopic, encodeValue(textForm), 0, false, extras, &why))
    BG_LOG(ERROR, "remote: could not answer on '%.200s': %s", in.responseTopic.c_str(), why.c_str());
}

}  // namespace remote
