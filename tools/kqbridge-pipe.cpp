// kqbridge-pipe: prints the messages sent to a pipe name, or sends one.
//
//   kqbridge-pipe listen NAME
//   kqbridge-pipe send NAME TEXT...

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "kqbridge/named_pipe.h"
#include "stop_request.h"

namespace {

const char kUsage[] =
    "usage: kqbridge-pipe listen NAME\n"
    "       kqbridge-pipe send NAME TEXT...\n"
    "listen  serves the pipe NAME and prints each message it receives on its own\n"
    "        line until interrupted (Ctrl-C or SIGTERM). Up to 64 clients are\n"
    "        served at once; when interrupted it prints every message already\n"
    "        received, then exits.\n"
    "send    sends the TEXT words, joined by single spaces, as one message to the\n"
    "        program serving NAME; exits 0 when it was delivered, else prints the\n"
    "        error and exits 1.\n"
    "A message is a 32-bit native-order length followed by that many bytes.\n";

// Every client gets a reader thread of its own, so one that connects and
// stays silent (a terminal session, a script that never closes) holds up
// nobody else. At most kMaxReaders read at once; further clients wait for
// one of them to end. A client may send any number of messages.
//
// On a stop request no client is accepted any more, the ones already
// waiting to be accepted are taken, and the readers get the time to print
// what has arrived: until none has been busy for kQuietMs (kDrainMs at
// most). Readers still blocked on silent clients end with the process.
class Listener {
 public:
  static constexpr int kMaxReaders = 64;
  static constexpr int kQuietMs = 200;
  static constexpr int kDrainMs = 5000;

  explicit Listener(const char* name) : m_server(name, true) {}

  // Serves the name; false (with the error printed) when it cannot.
  bool start() {
    try {
      m_server.Open();
    } catch (const std::exception& e) {
      fprintf(stderr, "[pipe] err: %s\n", e.what());
      return false;
    }
    m_acceptor = std::thread([this] { acceptLoop(); });
    return true;
  }

  void stop() {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      m_stopping = true;
    }
    m_changed.notify_all();
    m_server.CancelWait();
    m_acceptor.join();
    m_server.Close();
    std::unique_lock<std::mutex> hold(m_lock);
    auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDrainMs);
    auto quiet = std::chrono::milliseconds(kQuietMs);
    while (m_live > 0 && std::chrono::steady_clock::now() < limit) {
      if (m_busy == 0 && std::chrono::steady_clock::now() - m_lastBusy >= quiet) break;
      m_changed.wait_for(hold, quiet);
    }
  }

 private:
  void acceptLoop() {
    for (;;) {
      {
        std::unique_lock<std::mutex> hold(m_lock);
        m_changed.wait(hold, [this] { return m_live < kMaxReaders || m_stopping; });
      }
      bool stopping = isStopping();
      bg::pi::AbstractNamedPipe* client = nullptr;
      try {
        // Once stopping, only the clients already waiting are taken.
        client = m_server.AsyncWaitForConnection(stopping ? 0 : 1000);
      } catch (const std::exception& e) {
        fprintf(stderr, "pipeSrv, exception=%s\n", e.what());
        if (stopping) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        continue;
      }
      if (client == nullptr) {
        if (stopping) return;
        continue;
      }
      {
        std::lock_guard<std::mutex> hold(m_lock);
        ++m_live;
        ++m_busy;
      }
      try {
        std::thread([this, client] { serve(client); }).detach();
      } catch (const std::system_error&) {
        serve(client);  // no thread to be had: this client holds up the next
      }
    }
  }

  bool isStopping() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_stopping;
  }

  // Busy from its start until it waits for the next message, and from
  // each message until it is printed.
  void setBusy(bool busy) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_busy += busy ? 1 : -1;
    m_lastBusy = std::chrono::steady_clock::now();
    m_changed.notify_all();
  }

  void serve(bg::pi::INamedPipe* client) {
    for (;;) {
      setBusy(false);
      std::string msg;
      try {
        msg = client->ReadString();
      } catch (const std::exception&) {
        break;
      }
      setBusy(true);
      std::lock_guard<std::mutex> hold(m_printLock);
      fwrite(msg.data(), 1, msg.size(), stdout);
      fputc('\n', stdout);
      fflush(stdout);
    }
    bg::pi::destroy_pipe_client(&client);
    std::lock_guard<std::mutex> hold(m_lock);
    --m_live;
    m_changed.notify_all();
  }

  bg::pi::WinNamedPipe m_server;
  std::thread m_acceptor;
  std::mutex m_printLock;
  std::mutex m_lock;
  std::condition_variable m_changed;
  bool m_stopping = false;
  int m_live = 0;
  int m_busy = 0;
  std::chrono::steady_clock::time_point m_lastBusy = std::chrono::steady_clock::now();
};

int listen(const char* name) {
  // Held before any thread starts, so every thread inherits the setting.
  holdStopRequests();
  // Never deleted: readers blocked on silent clients still use it while the
  // process ends.
  static Listener* listener = new Listener(name);
  if (!listener->start()) return 1;
  // A second Ctrl-C ends the program even while the readers drain.
  waitForStopRequest("kqbridge-pipe");
  listener->stop();
  return 0;
}

int send(const char* name, int count, char** words) {
  std::string msg;
  for (int i = 0; i < count; ++i) {
    if (i > 0) msg += ' ';
    msg += words[i];
  }
  return bg::pi::pipe_send_msg(name, msg) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 3 && strcmp(argv[1], "listen") == 0) return listen(argv[2]);
  if (argc >= 4 && strcmp(argv[1], "send") == 0) return send(argv[2], argc - 3, argv + 3);
  fputs(kUsage, stderr);
  return 2;
}
