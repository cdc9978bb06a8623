// kqbridge-ctl's parts: finding the hosts of this user, asking one of them,
// and showing what it answered.
#ifndef KQBRIDGE_TOOLS_CTL_CTL_H_
#define KQBRIDGE_TOOLS_CTL_CTL_H_

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace ctl {

using nlohmann::json;

// Ends the command: `status` 1 when a host is gone or refuses, 2 on a
// usage error; what() is the one line that says why.
class Failure : public std::runtime_error {
 public:
  Failure(int status, const std::string& line) : std::runtime_error(line), m_status(status) {}
  int status() const { return m_status; }

 private:
  int m_status;
};

// A host as its pipe's name tells it: "kqbridge.<name>" with a name that
// ends in ".<pid>".
struct Host {
  std::string pipe;
  std::string name;
  long pid;
};

// The hosts whose process runs, in name order; the pipes of processes that
// have died are removed on the way.
std::vector<Host> runningHosts();
// A host by its name, a unique prefix of it, or its pid.
Host findHost(const std::string& given);

// Sends `request` and gives back the host's answer; a host that is gone,
// does not answer or refuses ends the command (status 1).
json ask(const Host& host, const json& request);
// The same, as the text the host sent (checked, not built): what --json
// prints.
std::string askText(const Host& host, const json& request);

// The text kqbridge-ctl shows for a status answer; `top` sorts the channels
// by queue depth and shows at most `rows` of them (all when 0).
std::string describeStatus(json status, bool top, int rows);
std::string describeHosts(std::vector<json> hellos);

// The pipe directory's side: names, processes, stale pipes.
std::vector<std::string> pipeNames();
bool processRuns(long pid);
void removeDeadPipe(const std::string& name);

// `top`'s terminal: the frame redrawn in place, and keys without Enter.
class Screen {
 public:
  Screen();
  ~Screen();
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;
  // Rows available for a frame (0 when not a terminal).
  int rows() const;
  void show(const std::string& frame);
  // Waits up to `ms`; true when the user asked to quit ('q', Ctrl-C).
  bool quitWithin(int ms);

 private:
  struct State;
  State* m_state;
};

}  // namespace ctl

#endif  // KQBRIDGE_TOOLS_CTL_CTL_H_
