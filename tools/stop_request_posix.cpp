#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "stop_request.h"

namespace {

// How long a second signal counts as the same request as the first.
constexpr std::chrono::seconds kSameRequest(1);

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
  auto firstAt = std::chrono::steady_clock::now();
  // Named before the watcher starts: from then on only the watcher calls
  // strsignal, so its buffer is never shared.
  std::string firstName = strsignal(first);  // NOLINT(concurrency-mt-unsafe)
  std::thread([program, firstAt] {
    for (;;) {
      int sig = nextSignal();
      if (std::chrono::steady_clock::now() - firstAt >= kSameRequest) {
        fprintf(stderr, "%s: %s again, a second or more after the first, while stopping; exiting at once\n",
                program, strsignal(sig));  // NOLINT(concurrency-mt-unsafe)
        fflush(stderr);
        _exit(128 + sig);
      }
      fprintf(stderr, "%s: %s within a second of the first, taken as the same request\n", program,
              strsignal(sig));  // NOLINT(concurrency-mt-unsafe)
      fflush(stderr);
    }
  }).detach();
  return firstName;
}
