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

// The top level of an answer, read without building the rest (a status of
// a big host is large): whether it is an object, its "ok" and its "error".
class AnswerHead : public json::json_sax_t {
 public:
  bool isObject = false;
  int ok = -1;  // -1 while no boolean "ok" has been seen
  std::string error;

  bool null() override { return true; }
  bool boolean(bool value) override {
    if (atTop("ok")) ok = value ? 1 : 0;
    return true;
  }
  bool number_integer(json::number_integer_t) override { return true; }
  bool number_unsigned(json::number_unsigned_t) override { return true; }
  bool number_float(json::number_float_t, const json::string_t&) override { return true; }
  bool string(json::string_t& value) override {
    if (atTop("error")) error = value;
    return true;
  }
  bool binary(json::binary_t&) override { return true; }
  bool start_object(std::size_t) override {
    if (m_depth++ == 0) isObject = true;
    return true;
  }
  bool key(json::string_t& key) override {
    if (m_depth == 1) m_key = key;
    return true;
  }
  bool end_object() override { return --m_depth, true; }
  bool start_array(std::size_t) override { return ++m_depth, true; }
  bool end_array() override { return --m_depth, true; }
  bool parse_error(std::size_t, const std::string&, const json::exception&) override { return false; }

 private:
  bool atTop(const char* key) const { return m_depth == 1 && m_key == key; }
  int m_depth = 0;
  std::string m_key;
};

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

Host findHost(const std::string& given) {
  std::string wanted =
      given.compare(0, sizeof(kPrefix) - 1, kPrefix) == 0 ? given.substr(sizeof(kPrefix) - 1) : given;
  std::vector<Host> matches;
  for (const Host& host : runningHosts()) {
    if (allDigits(given) ? host.pid == atol(given.c_str())
                         : host.name.compare(0, wanted.size(), wanted) == 0) {
      if (host.name == wanted) return host;
      matches.push_back(host);
    }
  }
  if (matches.size() == 1) return matches[0];
  if (matches.empty())
    throw Failure(1, "no running host matches '" + given + "' (kqbridge-ctl list shows them)");
  std::string names;
  for (const Host& host : matches) names += (names.empty() ? "" : ", ") + host.name;
  throw Failure(2, "'" + given + "' matches several hosts: " + names);
}

json ask(const Host& host, const json& request) {
  return json::parse(askText(host, request));
}

std::string askText(const Host& host, const json& request) {
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
  AnswerHead head;
  if (!json::sax_parse(answer, &head) || !head.isObject || head.ok < 0)
    throw Failure(1, "host '" + host.name + "' answered something that is not an answer");
  if (head.ok == 0) throw Failure(1, "host '" + host.name + "' refuses: " + head.error);
  return answer;
}

}  // namespace ctl
