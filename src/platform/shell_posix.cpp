#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/path.h"
#include "platform/shell.h"

namespace bg {
namespace platform {

namespace {

// The opener's full path from PATH, resolved before forking so that the
// child only has to call async-signal-safe functions.
std::string findOpener() {
  const char* path = getenv("PATH");
  if (path == nullptr) return std::string();
  std::string dirs(path);
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/xdg-open";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::string();
}

}  // namespace

void openFolder(const char* folder) {
  if (folder == nullptr) return;
  std::string opener = findOpener();
  if (opener.empty()) return;
  std::string target = nativePath(folder);
  char* const argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(target.c_str()), nullptr};

  // Two forks: the intermediate child exits at once and is reaped here, and
  // the opener, orphaned, is adopted and reaped by init. Nothing waits on the
  // opener, and its output goes nowhere.
  pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    if (fork() == 0) {
      setsid();
      int null = open("/dev/null", O_RDWR);
      if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
      }
      execv(opener.c_str(), argv);
      _exit(127);
    }
    _exit(0);
  }
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace platform
}  // namespace bg
