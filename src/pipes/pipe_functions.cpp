#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <thread>

#include "kqbridge/named_pipe.h"
#include "pipes/named_pipe_server.h"
#include "platform/console.h"
#include "platform/last_error.h"
#include "platform/pipe.h"

namespace bg {
namespace pi {

namespace {

const char kPipePrefix[] = "\\\\.\\pipe\\";

const char* orEmpty(const char* name) {
  return name != nullptr ? name : "";
}

void printPipeError(const char* what) {
  platform::consoleError("[pipe] err: %s\n", what);
}

}  // namespace

INamedPipe* create_pipe_client(const char* name) {
  try {
    return new WinNamedPipe(orEmpty(name), false);
  } catch (...) {
    return nullptr;
  }
}

INamedPipeServer* create_pipe_server(const char* name, int n) {
  try {
    return new NamedPipeServerHandler(orEmpty(name), n);
  } catch (...) {
    return nullptr;
  }
}

void destroy_pipe_client(INamedPipe** p) {
  if (p == nullptr || *p == nullptr) return;
  INamedPipe* pipe = *p;
  *p = nullptr;
  delete pipe;
}

void destroy_pipe_server(INamedPipeServer** p) {
  if (p == nullptr || *p == nullptr) return;
  INamedPipeServer* server = *p;
  *p = nullptr;
  delete server;
}

INamedPipeServer* listen_pipe(const char* name, int n, void (*callback)(INamedPipe*, void*), void* user) {
  INamedPipeServer* server = create_pipe_server(name, n);
  if (server == nullptr) return nullptr;
  try {
    server->SetHandler(callback, user);
    server->Start();
    return server;
  } catch (const std::exception& e) {
    printPipeError(e.what());
  } catch (...) {
    printPipeError("unknown failure");
  }
  destroy_pipe_server(&server);
  return nullptr;
}

bool pipe_send_msg(const char* name, const std::string& msg) {
  INamedPipe* pipe = create_pipe_client(name);
  bool sent = false;
  try {
    if (pipe == nullptr) throw std::bad_alloc();
    pipe->Open();
    pipe->WriteString(msg);
    pipe->Close();
    sent = true;
  } catch (const std::exception& e) {
    printPipeError(e.what());
  } catch (...) {
    printPipeError("unknown failure");
  }
  destroy_pipe_client(&pipe);
  return sent;
}

// Checking for a running instance and claiming the name are one step: a
// name nobody serves is reserved for this process at once (clients may
// connect and send from then on; listen_pipe takes the reservation over),
// so of several instances started together exactly one goes on and every
// other hands its message to it. One that loses the claim to another in
// between connects again, a moment later; after some seconds of that (a
// peer that keeps dying) it goes on as before.
void setup_single_app(const char* name, const char* msg) {
  const auto kPause = std::chrono::milliseconds(5);
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  const std::string path = std::string(kPipePrefix) + orEmpty(name);
  for (bool again = false;; again = true) {
    if (again) std::this_thread::sleep_for(kPause);
    INamedPipe* pipe = create_pipe_client(name);
    std::string failure;
    try {
      if (pipe == nullptr) throw std::bad_alloc();
      pipe->Open();
      if (msg != nullptr && *msg != '\0') pipe->WriteString(msg);
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
      failure = "unknown failure";
    }
    destroy_pipe_client(&pipe);
    if (failure.empty()) break;
    bool claimed = platform::pipeReserve(path);
    if (!claimed && platform::getLastError() == platform::kErrPipeBusy &&
        std::chrono::steady_clock::now() < giveUp) {
      continue;
    }
    platform::consoleError("%s\n", failure.c_str());
    platform::consoleError("now start the app\n");
    return;
  }
  platform::consoleError("[app] already exist, exit.\n");
  exit(0);  // NOLINT(concurrency-mt-unsafe): the second instance ends here, as documented
}

}  // namespace pi
}  // namespace bg
