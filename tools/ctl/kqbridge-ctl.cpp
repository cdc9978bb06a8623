// kqbridge-ctl: looks inside the running hosts of this user through their
// admin endpoints.
//
//   kqbridge-ctl [--json] list | status HOST | top HOST [-n COUNT] | get HOST KEY
//                | set HOST KEY VALUE | call HOST COMPONENT CMD [TEXT] | log HOST [-f] | stop HOST
//
// Exit status 0 on success, 1 (with one line) when the host is gone or
// refuses, 2 on a usage error, which names the argument at fault.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ctl.h"

namespace {

using ctl::Failure;
using ctl::json;

const char kUsage[] =
    "usage: kqbridge-ctl [--json] COMMAND [ARGUMENTS]\n"
    "  list                            the running hosts of this user\n"
    "  status HOST                     components, data bus, channels, thread pool, memory\n"
    "  top HOST [-n COUNT]             the status, refreshed every second ('q' quits)\n"
    "  get HOST KEY                    a value of the shared data bus, in its text form\n"
    "  set HOST KEY VALUE              stores VALUE ([i]42, [str]text, ...) and notifies its listeners\n"
    "  call HOST COMPONENT CMD [TEXT]  sends a message and prints the answer\n"
    "  log HOST [-f]                   the central log; with -f, followed until the host stops\n"
    "  stop HOST                       the central object's stop message: every component stops\n"
    "HOST is a name from list, a unique prefix of one, or a pid. --json prints what the host\n"
    "answered as JSON. Exit status: 0, 1 when the host is gone or refuses, 2 on a usage error.\n";

struct Command {
  std::string name;
  std::vector<std::string> args;
  bool json = false;
  bool follow = false;
  int count = 0;  // top's refreshes; 0 until quit
};

Failure usage(const std::string& line) {
  return Failure(2, line + " (kqbridge-ctl --help)");
}

long long number(const std::string& what, const std::string& text, long long low, long long high) {
  char* end = nullptr;
  long long n = strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n < low || n > high)
    throw usage(what + " must be a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                ", not '" + text + "'");
  return n;
}

// Options go anywhere before "--"; words after it are taken as they are.
Command parse(int argc, char** argv) {
  Command c;
  bool options = true;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && arg == "--json") {
      c.json = true;
    } else if (options && arg == "-f") {
      c.follow = true;
    } else if (options && arg == "-n") {
      if (i + 1 >= argc) throw usage("-n needs a count");
      c.count = static_cast<int>(number("the count of -n", argv[++i], 1, 1000000));
    } else if (options && (arg == "--help" || arg == "-h")) {
      c.name = "help";
      return c;
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      throw usage("unknown option '" + arg + "'");
    } else {
      words.push_back(arg);
    }
  }
  if (words.empty()) throw usage("no command given");
  c.name = words[0];
  c.args.assign(words.begin() + 1, words.end());
  struct Shape {
    const char* name;
    size_t least;
    size_t most;
    const char* wants;
  };
  const Shape shapes[] = {
      {"list", 0, 0, ""},        {"status", 1, 1, "HOST"},        {"top", 1, 1, "HOST"},
      {"get", 2, 2, "HOST KEY"}, {"set", 3, 3, "HOST KEY VALUE"}, {"call", 3, 4, "HOST COMPONENT CMD [TEXT]"},
      {"log", 1, 1, "HOST"},     {"stop", 1, 1, "HOST"}};
  for (const Shape& shape : shapes) {
    if (c.name != shape.name) continue;
    if (c.args.size() < shape.least) throw usage(c.name + " needs " + shape.wants);
    if (c.args.size() > shape.most)
      throw usage("too many arguments for " + c.name + ": '" + c.args[shape.most] + "'");
    if ((c.follow && c.name != "log") || (c.count != 0 && c.name != "top"))
      throw usage(std::string(c.follow ? "-f" : "-n") + " does not go with " + c.name);
    return c;
  }
  throw usage("unknown command '" + c.name + "'");
}

void print(const json& answer) {
  printf("%s\n", answer.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
  fflush(stdout);
}

// Hosts that end between the listing and the question are left out.
int list(const Command& c) {
  std::vector<json> hellos;
  for (const ctl::Host& host : ctl::runningHosts()) {
    try {
      json hello = ctl::ask(host, {{"op", "hello"}});
      hello.erase("ok");
      hellos.push_back(std::move(hello));
    } catch (const Failure&) {
    }
  }
  if (c.json) {
    print(json(hellos));
  } else {
    fputs(ctl::describeHosts(hellos).c_str(), stdout);
  }
  return 0;
}

int top(const Command& c, const ctl::Host& host) {
  ctl::Screen screen;
  for (int shown = 0; c.count == 0 || shown < c.count; ++shown) {
    if (shown > 0 && screen.quitWithin(1000)) break;
    json status = ctl::ask(host, {{"op", "status"}});
    if (c.json) {
      print(status);
    } else {
      screen.show(ctl::describeStatus(status, true, screen.rows()));
    }
  }
  return 0;
}

// Follows by asking again for what came after, every half second once
// there is nothing new; the host stopping ends the following normally.
int log(const Command& c, const ctl::Host& host) {
  long long from = 0;
  bool answered = false;
  for (;;) {
    json chunk;
    try {
      chunk = ctl::ask(host, {{"op", "log"}, {"from", from}});
    } catch (const Failure& f) {
      if (!c.follow || !answered) throw;
      fprintf(stderr, "kqbridge-ctl: %s; no more to follow\n", f.what());
      return 0;
    }
    answered = true;
    if (c.json) {
      print(chunk);
    } else {
      fputs(chunk.value("text", "").c_str(), stdout);
      fflush(stdout);
    }
    long long next = chunk.value("next", from);
    bool nothingNew = next == chunk.value("from", from);
    from = next;
    if (nothingNew && !c.follow) return 0;
    if (nothingNew) std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
}

int run(const Command& c) {
  if (c.name == "help") {
    fputs(kUsage, stdout);
    return 0;
  }
  if (c.name == "list") return list(c);
  ctl::Host host = ctl::findHost(c.args[0]);
  if (c.name == "top") return top(c, host);
  if (c.name == "log") return log(c, host);
  json request;
  if (c.name == "status") request = {{"op", "status"}};
  if (c.name == "get") request = {{"op", "get"}, {"key", c.args[1]}};
  if (c.name == "set") request = {{"op", "set"}, {"key", c.args[1]}, {"value", c.args[2]}};
  if (c.name == "call") {
    request = {{"op", "call"}, {"to", c.args[1]}, {"cmd", number("CMD", c.args[2], INT32_MIN, INT32_MAX)}};
    if (c.args.size() > 3) request["text"] = c.args[3];
  }
  if (c.name == "stop") request = {{"op", "stop"}};
  if (c.json && c.name != "get") {
    printf("%s\n", ctl::askText(host, request).c_str());
    return 0;
  }
  json answer = ctl::ask(host, request);
  if (c.json) {
    print(answer);
  } else if (c.name == "status") {
    fputs(ctl::describeStatus(answer, false, 0).c_str(), stdout);
  } else if (c.name == "get" || c.name == "call") {
    if (answer.value("found", true)) printf("%s\n", answer.value("value", "").c_str());
  } else if (c.name == "stop") {
    printf("host '%s' is stopping\n", host.name.c_str());
  }
  if (c.name == "get" && !answer.value("found", true))
    throw Failure(1, "host '" + host.name + "' has no value under '" + c.args[1] + "'");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(parse(argc, argv));
  } catch (const Failure& f) {
    fprintf(stderr, "kqbridge-ctl: %s\n", f.what());
    return f.status();
  } catch (const std::exception& e) {
    fprintf(stderr, "kqbridge-ctl: the host's answer was not understood (%s)\n", e.what());
    return 1;
  }
}
