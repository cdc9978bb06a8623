#include "admin/admin_endpoint.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <exception>

#include "admin/admin_request.h"
#include "kqbridge/bridge.h"
#include "kqbridge/logger.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/last_error.h"
#include "platform/pipe.h"
#include "platform/process.h"

namespace bg {

namespace {

// Enough workers for requests stuck on slow components to leave room for a
// status; connections beyond that wait, up to kMaxWaiting, and are closed
// unanswered after that.
const int kMaxWorkers = 8;
const size_t kMaxWaiting = 64;
const unsigned kWorkerIdleMs = 2000;
// A client that stalls mid-request, or does not read its answer, is let go
// after this long without progress.
const int kTransferTimeoutMs = 5000;
// The name of a pipe's socket file is its own up to this length.
const size_t kMaxPipeName = 64;
const char kPipePrefix[] = "kqbridge.";

std::atomic<bool> g_adminPipe{true};

bool isNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

bool sendAnswer(platform::PipeConnection* connection, const std::string& json) {
  uint32_t length = static_cast<uint32_t>(json.size());
  std::string frame(reinterpret_cast<const char*>(&length), sizeof(length));
  frame += json;
  return platform::pipeWrite(connection, frame.data(), frame.size());
}

// What a request answers; a failure of ours (memory, say) is an answer too.
AdminAnswer answerBytes(const AdminHost& host, const std::string& bytes) {
  try {
    AdminRequest request;
    std::string error;
    if (!decodeAdminRequest(bytes, &request, &error)) return AdminAnswer{adminErrorAnswer(error)};
    return answerAdminRequest(host, request);
  } catch (const std::exception& e) {
    return AdminAnswer{adminErrorAnswer(std::string("the host could not answer: ") + e.what())};
  }
}

}  // namespace

void SetAdminPipe(bool on) {
  g_adminPipe.store(on);
}

bool adminPipeEnabled() {
  return g_adminPipe.load();
}

std::string adminPipeName(const std::string& exeName, long pid) {
  std::string suffix = "." + std::to_string(pid);
  std::string name;
  for (char c : exeName) {
    if (isNameChar(c)) name += c;
  }
  if (name.empty()) name = "host";
  size_t room = kMaxPipeName - (sizeof(kPipePrefix) - 1) - suffix.size();
  return kPipePrefix + name.substr(0, room) + suffix;
}

AdminEndpoint* AdminEndpoint::start(Interface* central, const ComponentRoster* roster) {
  AdminHost host = {central, roster, adminPipeName(g_exeName, platform::processId()),
                    std::chrono::steady_clock::now()};
  platform::PipeListener* listener = platform::pipeListen(host.name);
  if (listener == nullptr) {
    platform::consoleError(
        "[Bridge Warning] the admin pipe '%s' cannot be served (error %u); kqbridge-ctl cannot see this "
        "process\n",
        host.name.c_str(), platform::getLastError());
    return nullptr;
  }
  AdminEndpoint* endpoint = new AdminEndpoint(host, listener);
  BG_LOG(DEBUG, "admin pipe '%s' served", host.name.c_str());
  return endpoint;
}

AdminEndpoint::AdminEndpoint(const AdminHost& host, platform::PipeListener* listener)
    : m_host(host), m_listener(listener) {
  m_acceptor = std::thread([this] { acceptLoop(); });
}

AdminEndpoint::~AdminEndpoint() {
  stop();
}

void AdminEndpoint::stop() {
  bool first;
  bool onWorker;
  {
    platform::MutexLock hold(&m_lock);
    first = !m_stopping;
    m_stopping = true;
    onWorker = m_workers.count(std::this_thread::get_id()) != 0;
    m_work.signalAll();
  }
  std::deque<platform::PipeConnection*> unanswered;
  if (first) {
    platform::pipeCancelAccept(m_listener);
    m_acceptor.join();
    platform::pipeCloseListener(m_listener);
    m_listener = nullptr;
    platform::MutexLock hold(&m_lock);
    unanswered.swap(m_waiting);
    m_acceptorDone = true;
    m_changed.signalAll();
  }
  for (platform::PipeConnection* connection : unanswered) platform::pipeCloseConnection(connection);
  // A worker that stops the endpoint (it is delivering the stop message)
  // waits for the others only; any other caller waits for every worker, so
  // the central object's thread never stops components under an answer.
  platform::MutexLock hold(&m_lock);
  while (!m_acceptorDone || m_live != (onWorker ? 1 : 0)) m_changed.wait(&m_lock);
  // Joined here rather than by the destructor: after a stop message the
  // process ends on a worker, and no destructor runs.
  reapLocked();
}

void AdminEndpoint::acceptLoop() {
  for (;;) {
    platform::PipeConnection* connection = nullptr;
    platform::AcceptResult result = platform::pipeAccept(m_listener, -1, &connection);
    bool stopping;
    {
      platform::MutexLock hold(&m_lock);
      stopping = m_stopping;
    }
    if (result == platform::AcceptResult::kConnected) {
      if (stopping) {
        platform::pipeCloseConnection(connection);
      } else {
        hand(connection);
      }
    }
    if (stopping) return;
    if (result == platform::AcceptResult::kFailed) {
      // Out of descriptors, say: a pause rather than a spin.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
}

void AdminEndpoint::hand(platform::PipeConnection* connection) {
  platform::MutexLock hold(&m_lock);
  reapLocked();
  if (m_waiting.size() >= kMaxWaiting) {
    platform::pipeCloseConnection(connection);
    return;
  }
  m_waiting.push_back(connection);
  if (m_idle > 0 || m_live >= kMaxWorkers) {
    m_work.signal();
    return;
  }
  try {
    std::thread worker([this] { workerLoop(); });
    m_live += 1;
    m_workers.emplace(worker.get_id(), std::move(worker));
  } catch (const std::exception&) {
    // No thread to be had: the connection waits for a worker, or, with
    // none left, is closed.
    if (m_live == 0) {
      platform::pipeCloseConnection(m_waiting.back());
      m_waiting.pop_back();
    }
  }
}

void AdminEndpoint::workerLoop() {
  for (;;) {
    platform::PipeConnection* connection;
    {
      platform::MutexLock hold(&m_lock);
      m_idle += 1;
      timespec deadline = platform::deadlineAfterMs(kWorkerIdleMs);
      while (!m_stopping && m_waiting.empty() && m_work.waitUntil(&m_lock, deadline)) {
      }
      m_idle -= 1;
      if (m_stopping || m_waiting.empty()) {
        m_live -= 1;
        m_ended.push_back(std::this_thread::get_id());
        m_changed.signalAll();
        return;
      }
      connection = m_waiting.front();
      m_waiting.pop_front();
    }
    serve(connection);
  }
}

// One request per connection. A length over the limit is answered without
// reading what follows; a client that stops halfway is let go after the
// timeout.
void AdminEndpoint::serve(platform::PipeConnection* connection) {
  platform::pipeSetTimeout(connection, kTransferTimeoutMs);
  uint32_t length = 0;
  AdminAnswer answer;
  if (!platform::pipeRead(connection, &length, sizeof(length))) {
    platform::pipeCloseConnection(connection);
    return;
  }
  if (length == 0 || length > kMaxAdminRequest) {
    answer.json = adminErrorAnswer("a request is 1 to " + std::to_string(kMaxAdminRequest) + " bytes, not " +
                                   std::to_string(length));
  } else {
    std::string bytes(length, '\0');
    if (!platform::pipeRead(connection, &bytes[0], length)) {
      platform::pipeCloseConnection(connection);
      return;
    }
    answer = answerBytes(m_host, bytes);
  }
  sendAnswer(connection, answer.json);
  platform::pipeCloseConnection(connection);
  if (answer.thenStop && claimStop()) {
    BridgeMsg stopMessage = {1, 0, "stop (kqbridge-ctl)", 0, 0};
    m_host.central->call("Admin", stopMessage);
  }
}

// Two workers delivering the stop message would each wait, inside the
// central object's stop, for the other to end. So only the first stop
// request is delivered; a later one, or one that comes while the host is
// stopping already, is answered alike and the process ends all the same.
bool AdminEndpoint::claimStop() {
  platform::MutexLock hold(&m_lock);
  if (m_stopping || m_stopClaimed) return false;
  m_stopClaimed = true;
  return true;
}

void AdminEndpoint::reapLocked() {
  for (std::thread::id id : m_ended) {
    auto it = m_workers.find(id);
    if (it == m_workers.end()) continue;
    it->second.join();
    m_workers.erase(it);
  }
  m_ended.clear();
}

}  // namespace bg
