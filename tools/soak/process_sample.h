// What the soak run watches of its own process, and when it calls a
// watched quantity a leak.
#ifndef KQBRIDGE_TOOLS_SOAK_PROCESS_SAMPLE_H_
#define KQBRIDGE_TOOLS_SOAK_PROCESS_SAMPLE_H_

#include <string>
#include <vector>

namespace soak {

struct Sample {
  long rssKb = 0;
  long heapKb = 0;  // what the allocator has handed out and not had back
  int descriptors = 0;
  int threads = 0;
};

// The calling process's resident memory, heap in use, open descriptors and
// threads.
Sample sampleThisProcess();

// Empty when nothing grew; else one phrase per quantity that keeps growing
// after the first sample (the first minute is the warm-up): one that ends
// above the first sample by more than its noise allows, or heap in use that
// rose from every sample to the next over five or more of them. Resident
// memory alone may creep up for a while without a leak: threads started
// afresh on each restart are spread over more of the allocator's arenas,
// each of which keeps the pages it touched.
std::string growthAfterWarmUp(const std::vector<Sample>& samples);

}  // namespace soak

#endif  // KQBRIDGE_TOOLS_SOAK_PROCESS_SAMPLE_H_
