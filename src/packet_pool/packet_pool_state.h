// What an FLPacketPool holds, shared by the files that implement it.
#ifndef KQBRIDGE_PACKET_POOL_PACKET_POOL_STATE_H_
#define KQBRIDGE_PACKET_POOL_PACKET_POOL_STATE_H_

#include <pthread.h>

#include <map>
#include <string>
#include <utility>

#include "kqbridge/packet_pool.h"
#include "packet_pool/fl_queue.h"

namespace pp {

// Members are destroyed in reverse order: the queue hands its nodes back to
// the memory pool before the memory pool goes.
struct FLPacketPool::State {
  FLMemPool memory;
  FLQueue queue;
  // Held around each pop and look, so one reader at a time waits in the queue.
  pthread_mutex_t readerLock;
  // The packet read() has taken but not yet copied out completely.
  FLMemNode* readNode = nullptr;
  int readRemaining = 0;
  int readOffset = 0;
  std::map<std::string, std::pair<int, int>> values;
};

}  // namespace pp

#endif  // KQBRIDGE_PACKET_POOL_PACKET_POOL_STATE_H_
