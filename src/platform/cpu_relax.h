// A hint to the processor that the calling thread is busy-waiting.
#ifndef KQBRIDGE_PLATFORM_CPU_RELAX_H_
#define KQBRIDGE_PLATFORM_CPU_RELAX_H_

namespace bg {
namespace platform {

// Lets a sibling hardware thread run and saves power inside a polling loop;
// a no-op where the processor has no such hint.
inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  __asm__ __volatile__("yield");
#endif
}

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_CPU_RELAX_H_
