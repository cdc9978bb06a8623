#include <windows.h>

#include <climits>

#include "platform/wait_word.h"

namespace bg {
namespace platform {

namespace {

// Milliseconds from now until the wall-clock `deadline`, rounded up so that
// a wait never ends before it; 0 once it has passed.
DWORD millisecondsUntil(const timespec& deadline) {
  // File time counts 100 ns steps from 1601; the epoch is 11644473600 s later.
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  long long now100ns =
      ((static_cast<long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) - 116444736000000000LL;
  long long deadline100ns = static_cast<long long>(deadline.tv_sec) * 10000000 + deadline.tv_nsec / 100;
  long long ms = (deadline100ns - now100ns + 9999) / 10000;
  if (ms <= 0) return 0;
  return ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
}

}  // namespace

bool waitWord(std::atomic<uint32_t>* word, uint32_t expected, const timespec* deadline) {
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "atomic word must be 32 bits");
  DWORD limit = deadline == nullptr ? INFINITE : millisecondsUntil(*deadline);
  if (limit == 0) return false;
  if (WaitOnAddress(word, &expected, sizeof(expected), limit)) return true;
  return GetLastError() != ERROR_TIMEOUT;
}

void wakeWord(std::atomic<uint32_t>* word, int count) {
  if (count == INT_MAX) {
    WakeByAddressAll(word);
    return;
  }
  for (int i = 0; i < count; ++i) WakeByAddressSingle(word);
}

}  // namespace platform
}  // namespace bg
