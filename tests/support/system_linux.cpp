// What the tests measure of the system, and raw pipe peers, over POSIX calls.
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "support/test_support.h"

namespace kqtest {

int rawPipeConnect(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_un addr = {AF_UNIX, {}};
  snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", path.c_str());
  if (fd >= 0 && connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

bool rawSend(int fd, const std::string& bytes) {
  return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

bool peerHangsUp(int fd, int ms) {
  pollfd p = {fd, POLLIN, 0};
  char c;
  return poll(&p, 1, ms) == 1 && recv(fd, &c, 1, MSG_DONTWAIT) <= 0;
}

bool withoutRoomForThreads(const std::function<void()>& body) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  (void)body;
  return false;
#else
  // A process limit would do, but root is exempt from it.
  long pages = 0;
  FILE* f = fopen("/proc/self/statm", "r");
  bool read = f != nullptr && fscanf(f, "%ld", &pages) == 1;
  if (f != nullptr) fclose(f);
  rlimit before;
  if (!read || getrlimit(RLIMIT_AS, &before) != 0) return false;
  rlimit cap = before;
  cap.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (1u << 20);
  if (setrlimit(RLIMIT_AS, &cap) != 0) return false;
  body();
  setrlimit(RLIMIT_AS, &before);
  return true;
#endif
}

size_t openHandles() {
  return countEntries("/proc/self/fd");
}

long peakMemoryKb() {
  rusage u;
  return getrusage(RUSAGE_SELF, &u) == 0 ? u.ru_maxrss : -1L;
}

double threadCpuMs() {
  rusage u;
  getrusage(RUSAGE_THREAD, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

int threadId() {
  return static_cast<int>(syscall(SYS_gettid));
}

// The state is the first field after the command, which ends with ')'.
bool isAsleep(int tid) {
  std::string stat = readFile("/proc/self/task/" + std::to_string(tid) + "/stat");
  size_t end = stat.rfind(')');
  return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] == 'S';
}

namespace {

// Where execvp would find `name`.
std::string inPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* dirs = getenv("PATH");
  std::stringstream in(dirs != nullptr ? dirs : "");
  for (std::string dir; std::getline(in, dir, ':');) {
    if (access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
  }
  return name;
}

}  // namespace

// Where the test programs run through an emulator (KQ_TEST_EMULATOR: the
// i386 build on a kernel that cannot run i386 programs), the programs they
// start run through it as well, under the name they were given.
int runProgram(const std::string& path, std::vector<std::string> args) {
  const std::string emulator = KQ_TEST_EMULATOR;
  std::string program = path;
  if (!emulator.empty()) {
    std::string name = args.empty() ? path : args[0];
    if (!args.empty()) args.erase(args.begin());
    args.insert(args.begin(), {emulator, "-0", name, inPath(path)});
    program = emulator;
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  execvp(program.c_str(), argv.data());
  return 122;
}

}  // namespace kqtest
