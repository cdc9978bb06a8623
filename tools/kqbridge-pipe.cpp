// kqbridge-pipe: prints the messages sent to a pipe name, or sends one.
//
//   kqbridge-pipe listen NAME
//   kqbridge-pipe send NAME TEXT...

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "kqbridge/named_pipe.h"
#include "stop_request.h"

namespace {

const char kUsage[] =
    "usage: kqbridge-pipe listen NAME\n"
    "       kqbridge-pipe send NAME TEXT...\n"
    "listen  serves the pipe NAME and prints each message it receives on its own\n"
    "        line until interrupted (Ctrl-C or SIGTERM).\n"
    "send    sends the TEXT words, joined by single spaces, as one message to the\n"
    "        program serving NAME; exits 0 when it was delivered, else prints the\n"
    "        error and exits 1.\n"
    "A message is a 32-bit native-order length followed by that many bytes.\n";

// A client may send any number of messages on one connection.
void printMessages(bg::pi::INamedPipe* pipe, void*) {
  try {
    for (;;) {
      std::string msg = pipe->ReadString();
      fwrite(msg.data(), 1, msg.size(), stdout);
      fputc('\n', stdout);
      fflush(stdout);
    }
  } catch (const std::exception&) {
  }
  bg::pi::destroy_pipe_client(&pipe);
}

int listen(const char* name) {
  // Held before the server starts, so its threads inherit the setting.
  holdStopRequests();
  bg::pi::INamedPipeServer* server = bg::pi::listen_pipe(name, 1, printMessages, nullptr);
  if (server == nullptr) return 1;
  // A second Ctrl-C ends the program even while a client holds the worker.
  waitForStopRequest("kqbridge-pipe");
  bg::pi::destroy_pipe_server(&server);
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
