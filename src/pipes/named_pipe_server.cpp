#include "pipes/named_pipe_server.h"

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
const unsigned kTakeTimeoutMs = 100;
// After a failed wait (say, out of descriptors) the acceptor pauses before
// trying again instead of spinning.
const int kAcceptRetryMs = 100;

}  // namespace

INamedPipeServer::~INamedPipeServer() = default;

void INamedPipeServer::SetHandler(void (*)(INamedPipe*, void*), void*) {}

NamedPipeServer::NamedPipeServer(const char* name, int workerCount)
    : name(name), workerCount(workerCount), listener(nullptr), running(false) {}

NamedPipeServer::~NamedPipeServer() {
  Stop();
  while (queuedCount() != 0) delete take(kTakeTimeoutMs);
}

size_t NamedPipeServer::queuedCount() {
  platform::MutexLock hold(&mutex);
  return queue.size();
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
  // The workers first, then the acceptor.
  platform::Thread t;
  for (int i = 0; i < workerCount; ++i) {
    if (t.start(workerMain, this)) threads.push_back(t);
  }
  if (t.start(acceptorMain, this)) threads.push_back(t);
}

// The acceptor's wait is cancelled and idle workers are woken, so Stop
// returns as soon as the callbacks in progress do, not after a wait slice.
void NamedPipeServer::Stop() {
  running = false;
  if (listener != nullptr) listener->CancelWait();
  {
    platform::MutexLock hold(&mutex);
    cond.signalAll();
  }
  for (platform::Thread& t : threads) t.join();
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
      platform::MutexLock hold(&mutex);
      queue.push_back(pipe);
      cond.signal();
    } catch (const std::exception& e) {
      platform::consoleError("pipeSrv, exception=%s", e.what());
      std::this_thread::sleep_for(std::chrono::milliseconds(kAcceptRetryMs));
    } catch (...) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kAcceptRetryMs));
    }
  }
}

AbstractNamedPipe* NamedPipeServer::take(unsigned timeoutMs) {
  timespec deadline = platform::deadlineAfterMs(timeoutMs);
  platform::MutexLock hold(&mutex);
  while (queue.empty() && running) {
    if (!cond.waitUntil(&mutex, deadline)) break;
  }
  if (queue.empty()) return nullptr;
  AbstractNamedPipe* pipe = queue.front();
  queue.pop_front();
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
