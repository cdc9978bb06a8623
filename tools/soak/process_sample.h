// What the soak run watches of its own process, and when it calls a
// watched quantity a leak.
#ifndef KQBRIDGE_TOOLS_SOAK_PROCESS_SAMPLE_H_
#define KQBRIDGE_TOOLS_SOAK_PROCESS_SAMPLE_H_

#include <string>
#include <vector>

namespace soak {

struct Sample {
  long rssKb = 0;
  int descriptors = 0;
  int threads = 0;
};

// The calling process's resident memory, open descriptors and threads.
Sample sampleThisProcess();

// Empty when nothing grew; else one phrase per quantity that keeps growing
// after the first sample (the first minute is the warm-up): one that ends
// above the first sample by more than its noise allows, or resident memory
// that rose from every sample to the next over five or more of them.
std::string growthAfterWarmUp(const std::vector<Sample>& samples);

}  // namespace soak

#endif  // KQBRIDGE_TOOLS_SOAK_PROCESS_SAMPLE_H_
