#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "ctl.h"

namespace ctl {

namespace {

// Where the library puts the pipes of this user (README, "Messages between
// processes").
std::string pipeDir() {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/kqbridge";
  return "/tmp/kqbridge-" + std::to_string(geteuid());
}

// Only a directory of ours, closed to others, is one we remove files from.
bool dirIsOurs(const std::string& dir) {
  struct stat st;
  return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 077) == 0;
}

}  // namespace

std::vector<std::string> pipeNames() {
  std::vector<std::string> names;
  std::string dir = pipeDir();
  if (!dirIsOurs(dir)) return names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

bool processRuns(long pid) {
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// A server that was killed leaves its socket file behind.
void removeDeadPipe(const std::string& name) {
  std::string dir = pipeDir();
  struct stat st;
  std::string path = dir + "/" + name;
  if (dirIsOurs(dir) && lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(path.c_str());
}

}  // namespace ctl
