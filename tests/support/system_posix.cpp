// What the tests measure of the system, and raw pipe peers, over POSIX calls.
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>

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

int runProgram(const std::string& path, std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  execv(path.c_str(), argv.data());
  return 122;
}

}  // namespace kqtest
