// The exported functions that make, destroy and explain packet pools.
#include "kqbridge/packet_pool.h"

namespace pp {

Abstract_PacketPool* create_pktpool() {
  return new FLPacketPool;
}

void destroy_pktpool(Abstract_PacketPool** pp) {
  if (pp == nullptr || *pp == nullptr) return;
  delete *pp;
  *pp = nullptr;
}

const char* pcQueErr(FLQueueStatus s) {
  switch (static_cast<int>(s)) {
    case FLQ_DEFAULT:
      return "default -1";
    case FLQ_OK:
      return "no error (OK)";
    case FLQ_EXIT:
      return "force exit";
    case FLQ_NO_DATA:
      return "no data";
    case FLQ_FULL:
      return "queue full";
    case FLQ_MALLOC_FAILED:
      return "malloc failed";
    case FLQ_PARAM_ERROR:
      return "param error";
    default:
      return "unknow queue statu";
  }
}

}  // namespace pp
