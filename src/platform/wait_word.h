// Sleeping on a 32-bit word until another thread changes it: the cheapest
// way the system offers for one thread to park and another to wake it.
#ifndef KQBRIDGE_PLATFORM_WAIT_WORD_H_
#define KQBRIDGE_PLATFORM_WAIT_WORD_H_

#include <atomic>
#include <cstdint>
#include <ctime>

namespace bg {
namespace platform {

// Sleeps while `*word` holds `expected`, until wakeWord() is called on it or
// the absolute wall-clock `deadline` passes (null: no deadline). Returns false
// only when the deadline passed. It may also return early for no reason:
// callers check their condition again.
bool waitWord(std::atomic<uint32_t>* word, uint32_t expected, const timespec* deadline);

// Wakes up to `count` threads sleeping on `word`; change the word first.
void wakeWord(std::atomic<uint32_t>* word, int count);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_WAIT_WORD_H_
