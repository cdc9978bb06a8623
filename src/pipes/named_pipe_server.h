// The pipe server: one acceptor thread waits for clients of a name and
// queues each connected instance; worker threads take them in order and
// pass each to OnConnection. Start, Stop and the destructor are called from
// one thread at a time; OnConnection runs on the workers.
#ifndef KQBRIDGE_PIPES_NAMED_PIPE_SERVER_H_
#define KQBRIDGE_PIPES_NAMED_PIPE_SERVER_H_

#include <atomic>
#include <deque>
#include <string>
#include <vector>

#include "kqbridge/named_pipe.h"
#include "platform/mutex.h"
#include "platform/thread.h"

namespace bg {
namespace pi {

class NamedPipeServer : public INamedPipeServer {
 public:
  NamedPipeServer(const char* name, int workerCount);
  // Stops, joins and deletes the connections nobody took. A derived class
  // must call Stop in its own destructor, while OnConnection still works.
  ~NamedPipeServer() override;
  NamedPipeServer(const NamedPipeServer&) = delete;
  NamedPipeServer& operator=(const NamedPipeServer&) = delete;

  // Serves the name and starts the threads; throws std::runtime_error when
  // the name cannot be served. Does nothing while already running.
  void Start() override;
  // Ends and joins every thread, after the callbacks in progress return.
  void Stop() override;
  // Owns `pipe`.
  virtual void OnConnection(INamedPipe* pipe) = 0;

 private:
  static void* acceptorMain(void* self);
  static void* workerMain(void* self);
  void acceptLoop();
  AbstractNamedPipe* take(unsigned timeoutMs);
  size_t queuedCount();

  std::string name;
  int workerCount;
  WinNamedPipe* listener;
  std::atomic<bool> running;
  platform::Mutex mutex;
  platform::CondVar cond;
  std::deque<AbstractNamedPipe*> queue GUARDED_BY(mutex);
  std::vector<platform::Thread> threads;
};

class NamedPipeServerHandler : public NamedPipeServer {
 public:
  NamedPipeServerHandler(const char* name, int workerCount);
  ~NamedPipeServerHandler() override;
  void SetHandler(void (*callback)(INamedPipe* pipe, void* user), void* user) override;
  // Calls the callback; without one the connection stays unread and unreleased.
  void OnConnection(INamedPipe* pipe) override;

 private:
  void (*callback)(INamedPipe* pipe, void* user);
  void* user;
};

}  // namespace pi
}  // namespace bg

#endif  // KQBRIDGE_PIPES_NAMED_PIPE_SERVER_H_
