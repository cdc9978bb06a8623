#include <windows.h>
// After windows.h, which they need.
#include <psapi.h>
#include <tlhelp32.h>

#include "platform/process.h"

namespace bg {
namespace platform {

long processId() {
  return static_cast<long>(GetCurrentProcessId());
}

// The system lists the threads of every process at once; we count ours.
ProcessUsage processUsage() {
  ProcessUsage usage;
  PROCESS_MEMORY_COUNTERS counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)))
    usage.residentBytes = static_cast<long long>(counters.WorkingSetSize);
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return usage;
  THREADENTRY32 entry;
  entry.dwSize = sizeof(entry);
  DWORD self = GetCurrentProcessId();
  int threads = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == self) ++threads;
  }
  CloseHandle(snapshot);
  usage.threads = threads;
  return usage;
}

}  // namespace platform
}  // namespace bg
