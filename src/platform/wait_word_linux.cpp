#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/wait_word.h"

namespace bg {
namespace platform {

namespace {

// std::atomic<uint32_t> is a plain 32-bit word here, which is what the
// kernel compares and sleeps on.
uint32_t* rawWord(std::atomic<uint32_t>* word) {
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "atomic word must be 32 bits");
  return reinterpret_cast<uint32_t*>(word);
}

}  // namespace

bool waitWord(std::atomic<uint32_t>* word, uint32_t expected, const timespec* deadline) {
  // The bitset form takes an absolute deadline on the wall clock, so a timed
  // wait ends when the clock says so, as with pthread_cond_timedwait.
  long rc = syscall(SYS_futex, rawWord(word), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG | FUTEX_CLOCK_REALTIME,
                    expected, deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
  return rc == 0 || errno != ETIMEDOUT;
}

void wakeWord(std::atomic<uint32_t>* word, int count) {
  syscall(SYS_futex, rawWord(word), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, count, nullptr, nullptr, 0);
}

}  // namespace platform
}  // namespace bg
