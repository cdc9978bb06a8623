// Process-wide counts of what the arenas and the packet pools hold from the
// heap, kept where memory is taken and given back so that the admin
// endpoint can show them without touching a pool its owner is using. Only
// allocations that reach the heap move the counts, never a request served
// from memory a pool holds already; an arena's big allocations, which are
// the caller's own heap memory, are not counted. Safe from any thread.
#ifndef KQBRIDGE_DIAGNOSTICS_MEMORY_TALLY_H_
#define KQBRIDGE_DIAGNOSTICS_MEMORY_TALLY_H_

#include <atomic>

namespace bg {

struct MemoryTally {
  std::atomic<long long> owners{0};  // arenas, or packet pools, alive
  std::atomic<long long> pieces{0};  // arena blocks, or packet nodes
  std::atomic<long long> bytes{0};   // what those pieces hold

  void add(long long ownerCount, long long pieceCount, long long byteCount) {
    owners.fetch_add(ownerCount, std::memory_order_relaxed);
    pieces.fetch_add(pieceCount, std::memory_order_relaxed);
    bytes.fetch_add(byteCount, std::memory_order_relaxed);
  }
};

MemoryTally& arenaTally();
MemoryTally& packetTally();

}  // namespace bg

#endif  // KQBRIDGE_DIAGNOSTICS_MEMORY_TALLY_H_
