// Children are forks of the test program: they see the test's state as it
// was at the fork, so no directory has to be handed down.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "support/test_support.h"

namespace kqtest {

std::string handedDown() {
  return std::string();
}

void handDown(const std::string& /*dirOrName*/) {}

Child::Child(const std::function<int()>& body) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0) return;
  if (pipe(errPipe) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return;
  }
  fflush(stdout);
  fflush(stderr);
  m_pid = fork();
  if (m_pid == 0) {
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
    int rc = body();
    fflush(stdout);
    fflush(stderr);
    _exit(rc);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  m_fds[0] = outPipe[0];
  m_fds[1] = errPipe[0];
}

Child::~Child() {
  if (m_pid > 0 && m_status == -2) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  for (int fd : m_fds)
    if (fd >= 0) close(fd);
}

bool Child::pump(int timeoutMs) {
  pollfd fds[2];
  int n = 0;
  for (int i = 0; i < 2; ++i) {
    if (m_fds[i] >= 0) fds[n++] = pollfd{m_fds[i], POLLIN, 0};
  }
  if (n == 0) return false;
  if (poll(fds, static_cast<nfds_t>(n), timeoutMs) <= 0) return true;
  for (int i = 0; i < n; ++i) {
    if (fds[i].revents == 0) continue;
    int which = fds[i].fd == m_fds[0] ? 0 : 1;
    char buf[4096];
    ssize_t got = read(fds[i].fd, buf, sizeof(buf));
    if (got > 0) {
      (which == 0 ? out : err).append(buf, static_cast<size_t>(got));
    } else {
      close(m_fds[which]);
      m_fds[which] = -1;
    }
  }
  return true;
}

int Child::finish(int seconds) {
  if (m_pid <= 0) return -1;
  if (m_status != -2) return m_status;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  bool timedOut = false;
  while (pump(100)) {
    if (std::chrono::steady_clock::now() > deadline) {
      timedOut = true;
      kill(m_pid, SIGKILL);
      break;
    }
  }
  waitpid(m_pid, &status, 0);
  m_status = !timedOut && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return m_status;
}

}  // namespace kqtest
