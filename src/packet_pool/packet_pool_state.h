// What an FLPacketPool holds, shared by the files that implement it.
#ifndef KQBRIDGE_PACKET_POOL_PACKET_POOL_STATE_H_
#define KQBRIDGE_PACKET_POOL_PACKET_POOL_STATE_H_

#include <atomic>
#include <map>
#include <string>
#include <utility>

#include "kqbridge/packet_pool.h"
#include "packet_pool/fl_queue.h"
#include "platform/mutex.h"

namespace pp {

// Members are destroyed in reverse order: the queue hands its nodes back to
// the memory pool before the memory pool goes.
struct FLPacketPool::State {
  FLMemPool memory;
  FLQueue queue;
  // Held around each pop and look, so one reader at a time waits in the queue.
  bg::platform::Mutex readerLock;
  // The packet read() has taken but not yet copied out completely.
  FLMemNode* readNode = nullptr;
  int readRemaining = 0;
  int readOffset = 0;
  std::map<std::string, std::pair<int, int>> values;
  // Threads inside an operation that may wait (see WaitingInside).
  std::atomic<int> inside{0};
};

// Counts the calling thread as inside a pool operation that may wait, for
// its whole length, so that destruction can wake it and wait until it has
// left. Leaving touches nothing but the count: once it drops, the pool may
// be freed.
class WaitingInside {
 public:
  explicit WaitingInside(std::atomic<int>* count) : m_count(count) { m_count->fetch_add(1); }
  ~WaitingInside() { m_count->fetch_sub(1); }
  WaitingInside(const WaitingInside&) = delete;
  WaitingInside& operator=(const WaitingInside&) = delete;

 private:
  std::atomic<int>* m_count;
};

}  // namespace pp

#endif  // KQBRIDGE_PACKET_POOL_PACKET_POOL_STATE_H_
