// What the running process can tell about itself: its id, and the memory
// and threads it uses. Safe to call from any thread.
#ifndef KQBRIDGE_PLATFORM_PROCESS_H_
#define KQBRIDGE_PLATFORM_PROCESS_H_

namespace bg {
namespace platform {

long processId();

// -1 where the system cannot tell.
struct ProcessUsage {
  long long residentBytes = -1;
  int threads = -1;
};
ProcessUsage processUsage();

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_PROCESS_H_
