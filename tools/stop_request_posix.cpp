#include <pthread.h>
#include <signal.h>

#include <cstring>

#include "stop_request.h"

namespace {

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

// A shell starts background jobs with SIGINT ignored, which would make an
// interrupt vanish instead of reaching sigwait: the default action comes
// back first. Blocked before any thread exists, the signals wait for sigwait
// on this thread.
void holdStopRequests() {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  sigset_t set = stopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

std::string waitForStopRequest() {
  sigset_t set = stopSignals();
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
  return strsignal(sig);
}

void releaseStopRequests() {
  sigset_t set = stopSignals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}
