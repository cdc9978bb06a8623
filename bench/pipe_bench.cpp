// Named pipes against a raw Unix-domain socket with the same framing (a
// 32-bit native-order length, then the bytes) and no library code: 64-byte
// round trips and 4 KiB one-way messages on one connection, and one-message
// connections (connect, send, close) as pipe_send_msg makes them.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "kqbridge/named_pipe.h"

namespace {

using bg::pi::INamedPipe;
using bg::pi::INamedPipeServer;

std::string benchName(const char* what) {
  return std::string("bench-") + what + "-" + std::to_string(getpid());
}

bool readAll(int fd, void* buf, size_t n) {
  char* p = static_cast<char*>(buf);
  while (n > 0) {
    ssize_t got = recv(fd, p, n, 0);
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool writeAll(int fd, const void* buf, size_t n) {
  const char* p = static_cast<const char*>(buf);
  while (n > 0) {
    ssize_t put = send(fd, p, n, MSG_NOSIGNAL);
    if (put <= 0) return false;
    p += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

bool rawRead(int fd, std::string* msg) {
  uint32_t n;
  if (!readAll(fd, &n, sizeof(n))) return false;
  msg->resize(n);
  return readAll(fd, &(*msg)[0], n);
}

bool rawWrite(int fd, const std::string& msg) {
  uint32_t n = static_cast<uint32_t>(msg.size());
  return writeAll(fd, &n, sizeof(n)) && writeAll(fd, msg.data(), n);
}

void pipeEcho(INamedPipe* pipe, void*) {
  try {
    for (;;) pipe->WriteString(pipe->ReadString());
  } catch (const std::exception&) {
  }
  bg::pi::destroy_pipe_client(&pipe);
}

void pipeSink(INamedPipe* pipe, void*) {
  try {
    for (;;) benchmark::DoNotOptimize(pipe->ReadString());
  } catch (const std::exception&) {
  }
  bg::pi::destroy_pipe_client(&pipe);
}

// How a server takes a one-message connection: read it, release the pipe.
void pipeTakeOne(INamedPipe* pipe, void*) {
  try {
    benchmark::DoNotOptimize(pipe->ReadString());
  } catch (const std::exception&) {
  }
  bg::pi::destroy_pipe_client(&pipe);
}

// One connection to a pipe server running `serve`, written to by `body`.
template <typename Body>
void onPipe(benchmark::State& state, void (*serve)(INamedPipe*, void*), Body body) {
  std::string name = benchName("conn");
  INamedPipeServer* server = bg::pi::listen_pipe(name.c_str(), 1, serve, nullptr);
  INamedPipe* client = bg::pi::create_pipe_client(name.c_str());
  if (server == nullptr || client == nullptr || client->Open() == 0) {
    state.SkipWithError("no pipe server");
  } else {
    body(client);
  }
  bg::pi::destroy_pipe_client(&client);
  bg::pi::destroy_pipe_server(&server);
}

// The same over a socket pair, the far end served by a thread running `serve`.
template <typename Serve, typename Body>
void onSocketPair(Serve serve, Body body) {
  int sv[2];
  socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv);
  std::thread far([&] {
    std::string msg;
    while (rawRead(sv[1], &msg) && serve(sv[1], msg)) {
    }
  });
  body(sv[0]);
  shutdown(sv[0], SHUT_RDWR);
  far.join();
  close(sv[0]);
  close(sv[1]);
}

void BM_PipeRoundTrip64(benchmark::State& state) {
  std::string msg(64, 'x');
  onPipe(state, pipeEcho, [&](INamedPipe* c) {
    for (auto _ : state) {
      c->WriteString(msg);
      benchmark::DoNotOptimize(c->ReadString());
    }
  });
  state.SetItemsProcessed(state.iterations());
}

void BM_RawRoundTrip64(benchmark::State& state) {
  std::string msg(64, 'x'), reply;
  onSocketPair([](int fd, const std::string& m) { return rawWrite(fd, m); },
               [&](int fd) {
                 for (auto _ : state) {
                   rawWrite(fd, msg);
                   rawRead(fd, &reply);
                 }
               });
  state.SetItemsProcessed(state.iterations());
}

void BM_PipeOneWay4K(benchmark::State& state) {
  std::string msg(4096, 'x');
  onPipe(state, pipeSink, [&](INamedPipe* c) {
    for (auto _ : state) c->WriteString(msg);
  });
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * 4096);
}

void BM_RawOneWay4K(benchmark::State& state) {
  std::string msg(4096, 'x');
  onSocketPair([](int, const std::string&) { return true; },
               [&](int fd) {
                 for (auto _ : state) rawWrite(fd, msg);
               });
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * 4096);
}

void BM_PipeSendMsg(benchmark::State& state) {
  std::string name = benchName("send");
  std::string msg(16, 'x');
  INamedPipeServer* server = bg::pi::listen_pipe(name.c_str(), 1, pipeTakeOne, nullptr);
  for (auto _ : state) {
    if (!bg::pi::pipe_send_msg(name.c_str(), msg)) state.SkipWithError("send failed");
  }
  bg::pi::destroy_pipe_server(&server);
  state.SetItemsProcessed(state.iterations());
}

// A listening socket served by one thread that reads one message from each
// connection and closes it; the client connects, sends one framed message
// and closes.
void BM_RawConnectSend(benchmark::State& state) {
  struct sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof(addr.sun_path), "/tmp/%s", benchName("raw").c_str());
  unlink(addr.sun_path);
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  bind(listener, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr));
  listen(listener, SOMAXCONN);
  std::thread server([listener] {
    int fd;
    std::string msg;
    while ((fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0) {
      rawRead(fd, &msg);
      close(fd);
    }
  });
  std::string msg(16, 'x');
  for (auto _ : state) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) != 0 || !rawWrite(fd, msg)) {
      state.SkipWithError("send failed");
    }
    close(fd);
  }
  shutdown(listener, SHUT_RDWR);
  server.join();
  close(listener);
  unlink(addr.sun_path);
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_PipeRoundTrip64)->UseRealTime();
BENCHMARK(BM_RawRoundTrip64)->UseRealTime();
BENCHMARK(BM_PipeOneWay4K)->UseRealTime();
BENCHMARK(BM_RawOneWay4K)->UseRealTime();
BENCHMARK(BM_PipeSendMsg)->UseRealTime();
BENCHMARK(BM_RawConnectSend)->UseRealTime();

BENCHMARK_MAIN();
