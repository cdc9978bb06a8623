#include "process_sample.h"

#include <dirent.h>
#include <malloc.h>

#include <fstream>
#include <string>

namespace soak {

namespace {

// Descriptors open for a connection in flight, and threads a moment old
// (a reader the load generator starts), are noise, not growth.
const int kDescriptorNoise = 4;
const int kThreadNoise = 2;
// Allocators keep some of what they are given back: an eighth more, or
// 4 MiB, whichever is more.
long memoryNoiseKb(long firstKb) {
  return firstKb / 8 > 4096 ? firstKb / 8 : 4096;
}

int countDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int n = 0;
  while (struct dirent* e = readdir(dir)) n += e->d_name[0] != '.';
  closedir(dir);
  return n - 1;  // the directory's own descriptor
}

}  // namespace

Sample sampleThisProcess() {
  Sample s;
  std::ifstream status("/proc/self/status");
  std::string field;
  while (status >> field) {
    if (field == "VmRSS:") status >> s.rssKb;
    if (field == "Threads:") status >> s.threads;
  }
  struct mallinfo2 heap = mallinfo2();
  s.heapKb = static_cast<long>((heap.uordblks + heap.hblkhd) / 1024);
  s.descriptors = countDescriptors();
  return s;
}

std::string growthAfterWarmUp(const std::vector<Sample>& samples) {
  if (samples.size() < 2) return "";
  const Sample& first = samples.front();
  const Sample& last = samples.back();
  std::string grew;
  auto add = [&grew](const std::string& what) { grew += (grew.empty() ? "" : ", ") + what; };
  if (last.descriptors > first.descriptors + kDescriptorNoise) {
    add("descriptors " + std::to_string(first.descriptors) + " -> " + std::to_string(last.descriptors));
  }
  if (last.threads > first.threads + kThreadNoise) {
    add("threads " + std::to_string(first.threads) + " -> " + std::to_string(last.threads));
  }
  if (last.rssKb > first.rssKb + memoryNoiseKb(first.rssKb)) {
    add("resident memory " + std::to_string(first.rssKb) + " kB -> " + std::to_string(last.rssKb) + " kB");
  }
  bool everyStep = samples.size() >= 5;
  for (size_t i = 1; i < samples.size(); ++i)
    everyStep = everyStep && samples[i].heapKb > samples[i - 1].heapKb;
  if (last.heapKb > first.heapKb + memoryNoiseKb(first.heapKb) || everyStep) {
    add("heap in use " + std::to_string(first.heapKb) + " kB -> " + std::to_string(last.heapKb) + " kB");
  }
  return grew;
}

}  // namespace soak
