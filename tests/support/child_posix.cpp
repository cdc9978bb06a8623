// Children are forks of the test program: they see the test's state as it
// was at the call, so the parent's temporary directories need no handing down.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/test_support.h"

namespace kqtest {

namespace {

std::string drain(int fd) {
  std::string s;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof(buf))) > 0) s.append(buf, static_cast<size_t>(n));
  return s;
}

}  // namespace

int runInChild(const std::function<int()>& body, std::string* out, std::string* err) {
  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  if (out != nullptr && pipe(outPipe) != 0) return -1;
  if (err != nullptr && pipe(errPipe) != 0) return -1;
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (out != nullptr) {
      dup2(outPipe[1], STDOUT_FILENO);
      close(outPipe[0]);
      close(outPipe[1]);
    }
    if (err != nullptr) {
      dup2(errPipe[1], STDERR_FILENO);
      close(errPipe[0]);
      close(errPipe[1]);
    }
    int rc = body();
    fflush(stdout);
    fflush(stderr);
    _exit(rc);
  }
  // Both pipes are drained before waiting; a child filling one while we block
  // on the other would hang, so stderr is read on a second pass only after
  // stdout closed. Tests keep their output small.
  if (out != nullptr) {
    close(outPipe[1]);
    *out = drain(outPipe[0]);
    close(outPipe[0]);
  }
  if (err != nullptr) {
    close(errPipe[1]);
    *err = drain(errPipe[0]);
    close(errPipe[0]);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string adoptParentDir() {
  return std::string();
}

void noteTempDir(const std::string& /*path*/) {}

}  // namespace kqtest
