#include "diagnostics/memory_tally.h"

namespace bg {

// Never destroyed: pools may go after static destructors have run.
MemoryTally& arenaTally() {
  static MemoryTally* tally = new MemoryTally();
  return *tally;
}

MemoryTally& packetTally() {
  static MemoryTally* tally = new MemoryTally();
  return *tally;
}

}  // namespace bg
