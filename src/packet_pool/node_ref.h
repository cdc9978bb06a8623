// Reference counting of packet nodes, under the reference lock of each
// node's pool.
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

}  // namespace pp

#endif  // KQBRIDGE_PACKET_POOL_NODE_REF_H_
