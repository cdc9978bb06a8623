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

// Blocked on the main thread before any thread exists, so every worker
// inherits the mask and the signals wait for sigwait.
void holdStopRequests() {
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
