// The consumer's byte-stream view of the packets: read() joins them.
#include <cstring>

#include "kqbridge/packet_pool.h"
#include "packet_pool/packet_pool_state.h"

namespace pp {

FLQueueStatus FLPacketPool::read(void* buf, int len) {
  if (buf == nullptr || len < 1) return FLQ_PARAM_ERROR;
  State* st = m_state;
  WaitingInside inside(&st->inside);
  uint8_t* dst = static_cast<uint8_t*>(buf);
  if (st->readNode && st->readRemaining >= len) {
    memcpy(dst, st->readNode->data + st->readOffset, static_cast<size_t>(len));
    st->readRemaining -= len;
    st->readOffset += len;
    if (st->readRemaining == 0) {
      releaseNode(&st->readNode);
      st->readOffset = 0;
    }
    return FLQ_OK;
  }
  int copied = 0;
  if (st->readNode) {
    memcpy(dst, st->readNode->data + st->readOffset, static_cast<size_t>(st->readRemaining));
    copied = st->readRemaining;
    releaseNode(&st->readNode);
    st->readRemaining = 0;
    st->readOffset = 0;
  }
  for (;;) {
    FLMemNode* node = nullptr;
    if (pop(&node, true) != FLQ_OK) return FLQ_EXIT;
    int need = len - copied;
    if (need < node->used) {
      memcpy(dst + copied, node->data, static_cast<size_t>(need));
      st->readNode = node;
      st->readOffset = need;
      st->readRemaining = node->used - need;
      return FLQ_OK;
    }
    // Packets of no bytes fall through here and are skipped.
    memcpy(dst + copied, node->data, static_cast<size_t>(node->used));
    copied += node->used;
    releaseNode(&node);
    if (copied == len) return FLQ_OK;
  }
}

}  // namespace pp
