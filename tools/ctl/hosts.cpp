#include <kqbridge/named_pipe.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <memory>

#include "ctl.h"

namespace ctl {

namespace {

const char kPrefix[] = "kqbridge.";

bool allDigits(const std::string& text) {
  return !text.empty() && text.size() <= 9 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "kqbridge.<exe>.<pid>", or false for any other pipe.
bool readPipeName(const std::string& pipe, Host* host) {
  if (pipe.compare(0, sizeof(kPrefix) - 1, kPrefix) != 0) return false;
  size_t dot = pipe.rfind('.');
  if (dot < sizeof(kPrefix) || !allDigits(pipe.substr(dot + 1))) return false;
  *host = Host{pipe, pipe.substr(sizeof(kPrefix) - 1), atol(pipe.c_str() + dot + 1)};
  return true;
}

std::string gone(const Host& host) {
  return "host '" + host.name + "' is gone";
}

}  // namespace

std::vector<Host> runningHosts() {
  std::vector<Host> hosts;
  for (const std::string& pipe : pipeNames()) {
    Host host;
    if (!readPipeName(pipe, &host)) continue;
    if (processRuns(host.pid)) {
      hosts.push_back(host);
    } else {
      removeDeadPipe(pipe);
    }
  }
  std::sort(hosts.begin(), hosts.end(), [](const Host& a, const Host& b) { return a.name < b.name; });
  return hosts;
}

Host findHost(const std::string& spec) {
  std::string wanted =
      spec.compare(0, sizeof(kPrefix) - 1, kPrefix) == 0 ? spec.substr(sizeof(kPrefix) - 1) : spec;
  std::vector<Host> matches;
  for (const Host& host : runningHosts()) {
    if (allDigits(spec) ? host.pid == atol(spec.c_str()) : host.name.compare(0, wanted.size(), wanted) == 0) {
      if (host.name == wanted) return host;
      matches.push_back(host);
    }
  }
  if (matches.size() == 1) return matches[0];
  if (matches.empty())
    throw Failure(1, "no running host matches '" + spec + "' (kqbridge-ctl list shows them)");
  std::string names;
  for (const Host& host : matches) names += (names.empty() ? "" : ", ") + host.name;
  throw Failure(2, "'" + spec + "' matches several hosts: " + names);
}

json askRaw(const Host& host, const json& request) {
  std::unique_ptr<bg::pi::INamedPipe> pipe(bg::pi::create_pipe_client(host.pipe.c_str()));
  std::string answer;
  try {
    pipe->Open();
  } catch (const std::exception&) {
    throw Failure(1, gone(host));
  }
  try {
    pipe->WriteString(request.dump());
    answer = pipe->ReadString();
  } catch (const std::exception&) {
    throw Failure(1, processRuns(host.pid)
                         ? "host '" + host.name + "' closed the connection without answering"
                         : gone(host));
  }
  json parsed = json::parse(answer, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object() || !parsed.value("ok", json()).is_boolean())
    throw Failure(1, "host '" + host.name + "' answered something that is not an answer");
  return parsed;
}

json ask(const Host& host, const json& request) {
  json answer = askRaw(host, request);
  if (!answer["ok"].get<bool>())
    throw Failure(1, "host '" + host.name + "' refuses: " + answer.value("error", ""));
  return answer;
}

}  // namespace ctl
