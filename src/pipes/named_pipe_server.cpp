#include "pipes/named_pipe_server.h"

#include <sys/time.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

#include "platform/clock.h"
#include "platform/console.h"

namespace bg {
namespace pi {

namespace {

const unsigned kAcceptSliceMs = 1000;
const int kTakeTimeoutMs = 100;
// After a failed wait (say, out of descriptors) the acceptor pauses before
// trying again instead of spinning.
const int kAcceptRetryMs = 100;

struct timespec deadlineIn(int ms) {
  struct timeval now;
  platform::wallClock(&now);
  long usec = now.tv_usec + ms * 1000L;
  struct timespec ts;
  ts.tv_sec = now.tv_sec + usec / 1000000;
  ts.tv_nsec = (usec % 1000000) * 1000;
  return ts;
}

}  // namespace

INamedPipeServer::~INamedPipeServer() = default;

void INamedPipeServer::SetHandler(void (*)(INamedPipe*, void*), void*) {}

NamedPipeServer::NamedPipeServer(const char* name, int workerCount)
    : name(name), workerCount(workerCount), listener(nullptr), running(false) {
  pthread_mutex_init(&mutex, nullptr);
  pthread_cond_init(&cond, nullptr);
}

NamedPipeServer::~NamedPipeServer() {
  Stop();
  pthread_mutex_lock(&mutex);
  size_t left = queue.size();
  pthread_mutex_unlock(&mutex);
  while (left != 0) {
    delete take(kTakeTimeoutMs);
    pthread_mutex_lock(&mutex);
    left = queue.size();
    pthread_mutex_unlock(&mutex);
  }
  pthread_mutex_destroy(&mutex);
  pthread_cond_destroy(&cond);
}

// The listener is made here, on the caller's thread, rather than by the
// acceptor: a name that cannot be served is then reported to the caller
// (listen_pipe answers null) instead of only on standard error.
void NamedPipeServer::Start() {
  if (running) return;
  WinNamedPipe* l = new WinNamedPipe(name, true);
  try {
    l->Open();
  } catch (...) {
    delete l;
    throw;
  }
  listener = l;
  running = true;
  for (int i = 0; i < workerCount; ++i) {
    pthread_t t;
    if (pthread_create(&t, nullptr, workerMain, this) == 0) threads.push_back(t);
  }
  pthread_t t;
  if (pthread_create(&t, nullptr, acceptorMain, this) == 0) threads.push_back(t);
}

// The acceptor's wait is cancelled and idle workers are woken, so Stop
// returns as soon as the callbacks in progress do, not after a wait slice.
void NamedPipeServer::Stop() {
  running = false;
  if (listener != nullptr) listener->CancelWait();
  pthread_mutex_lock(&mutex);
  pthread_cond_broadcast(&cond);
  pthread_mutex_unlock(&mutex);
  for (pthread_t t : threads) pthread_join(t, nullptr);
  threads.clear();
  delete listener;
  listener = nullptr;
}

void* NamedPipeServer::acceptorMain(void* self) {
  static_cast<NamedPipeServer*>(self)->acceptLoop();
  return nullptr;
}

void NamedPipeServer::acceptLoop() {
  while (running) {
    try {
      AbstractNamedPipe* pipe = listener->AsyncWaitForConnection(kAcceptSliceMs);
      if (pipe == nullptr) continue;
      pthread_mutex_lock(&mutex);
      queue.push_back(pipe);
      pthread_cond_signal(&cond);
      pthread_mutex_unlock(&mutex);
    } catch (const std::exception& e) {
      platform::consoleError("pipeSrv, exception=%s", e.what());
      std::this_thread::sleep_for(std::chrono::milliseconds(kAcceptRetryMs));
    } catch (...) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kAcceptRetryMs));
    }
  }
}

AbstractNamedPipe* NamedPipeServer::take(int timeoutMs) {
  struct timespec deadline = deadlineIn(timeoutMs);
  AbstractNamedPipe* pipe = nullptr;
  pthread_mutex_lock(&mutex);
  while (queue.empty() && running) {
    if (pthread_cond_timedwait(&cond, &mutex, &deadline) == ETIMEDOUT) break;
  }
  if (!queue.empty()) {
    pipe = queue.front();
    queue.pop_front();
  }
  pthread_mutex_unlock(&mutex);
  return pipe;
}

// The timed take already paces an idle worker, so it goes straight back to
// waiting instead of sleeping on top of it.
void* NamedPipeServer::workerMain(void* self) {
  NamedPipeServer* server = static_cast<NamedPipeServer*>(self);
  while (server->running) {
    AbstractNamedPipe* pipe = server->take(kTakeTimeoutMs);
    if (pipe != nullptr) server->OnConnection(pipe);
  }
  return nullptr;
}

NamedPipeServerHandler::NamedPipeServerHandler(const char* name, int workerCount)
    : NamedPipeServer(name, workerCount), callback(nullptr), user(nullptr) {}

NamedPipeServerHandler::~NamedPipeServerHandler() {
  Stop();
}

void NamedPipeServerHandler::SetHandler(void (*cb)(INamedPipe* pipe, void* u), void* u) {
  callback = cb;
  user = u;
}

void NamedPipeServerHandler::OnConnection(INamedPipe* pipe) {
  if (callback != nullptr) callback(pipe, user);
}

}  // namespace pi
}  // namespace bg
