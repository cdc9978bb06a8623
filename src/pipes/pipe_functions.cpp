#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "kqbridge/named_pipe.h"
#include "pipes/named_pipe_server.h"

namespace bg {
namespace pi {

namespace {

const char* orEmpty(const char* name) {
  return name != nullptr ? name : "";
}

void printPipeError(const char* what) {
  fprintf(stderr, "[pipe] err: %s\n", what);
  fflush(stderr);
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

void setup_single_app(const char* name, const char* msg) {
  INamedPipe* pipe = create_pipe_client(name);
  try {
    if (pipe == nullptr) throw std::bad_alloc();
    pipe->Open();
    if (msg != nullptr && *msg != '\0') pipe->WriteString(msg);
  } catch (const std::exception& e) {
    destroy_pipe_client(&pipe);
    fprintf(stderr, "%s\n", e.what());
    fprintf(stderr, "now start the app\n");
    fflush(stderr);
    return;
  } catch (...) {
    destroy_pipe_client(&pipe);
    fprintf(stderr, "now start the app\n");
    fflush(stderr);
    return;
  }
  destroy_pipe_client(&pipe);
  fprintf(stderr, "[app] already exist, exit.\n");
  fflush(stderr);
  exit(0);
}

}  // namespace pi
}  // namespace bg
