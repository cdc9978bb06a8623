#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/process.h"

namespace bg {
namespace platform {

long processId() {
  return static_cast<long>(getpid());
}

// The resident pages are the second number of statm; the thread count is a
// line of status.
ProcessUsage processUsage() {
  ProcessUsage usage;
  long long pages = 0;
  if (FILE* f = fopen("/proc/self/statm", "re")) {
    if (fscanf(f, "%*s %lld", &pages) == 1) usage.residentBytes = pages * sysconf(_SC_PAGESIZE);
    fclose(f);
  }
  if (FILE* f = fopen("/proc/self/status", "re")) {
    char line[256];
    while (fgets(line, sizeof(line), f) != nullptr) {
      if (sscanf(line, "Threads: %d", &usage.threads) == 1) break;
    }
    fclose(f);
  }
  return usage;
}

}  // namespace platform
}  // namespace bg
