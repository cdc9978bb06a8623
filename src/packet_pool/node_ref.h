// Reference counting of packet nodes.
#ifndef KQBRIDGE_PACKET_POOL_NODE_REF_H_
#define KQBRIDGE_PACKET_POOL_NODE_REF_H_

#include "kqbridge/packet_pool.h"

namespace pp {

// Drops one reference; the last one gives the node to its pool (or frees its
// buffer when it has none). Returns the new count; a count of 0 or below
// stays 0.
int releaseRef(FLMemNode* node);
// One more holder of a node that has at least one; a node without any is
// reported on stderr and left at 0. Returns the new count.
int addRef(FLMemNode* node);

// `ref` is a plain field of a public record, but threads change it without
// a common lock: every access of ours is atomic.
inline int32_t loadRef(const FLMemNode* node) {
  return __atomic_load_n(&node->ref, __ATOMIC_ACQUIRE);
}

inline void storeRef(FLMemNode* node, int32_t ref) {
  __atomic_store_n(&node->ref, ref, __ATOMIC_RELEASE);
}

// Replaces *expected by `ref` when the count still is *expected; otherwise
// false with the current count in *expected.
inline bool swapRef(FLMemNode* node, int32_t* expected, int32_t ref) {
  return __atomic_compare_exchange_n(&node->ref, expected, ref, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
}

}  // namespace pp

#endif  // KQBRIDGE_PACKET_POOL_NODE_REF_H_
