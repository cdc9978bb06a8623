#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "stop_request.h"

namespace {

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

int nextSignal() {
  sigset_t set = stopSignals();
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
  return sig;
}

}  // namespace

// A shell starts background jobs with SIGINT ignored, which would make an
// interrupt vanish instead of reaching sigwait: the default action comes
// back first. Blocked before any thread exists, the signals wait for sigwait.
void holdStopRequests() {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  sigset_t set = stopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// The watcher lives until the process ends.
std::string waitForStopRequest(const char* program) {
  int first = nextSignal();
  std::thread([program] {
    int sig = nextSignal();
    fprintf(stderr, "%s: %s while stopping, exiting at once\n", program, strsignal(sig));
    fflush(stderr);
    _exit(128 + sig);
  }).detach();
  return strsignal(first);
}
