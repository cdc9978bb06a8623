// pp: reference-counted packet buffers and the queues that carry them.
#ifndef KQBRIDGE_PACKET_POOL_H_
#define KQBRIDGE_PACKET_POOL_H_

#include <cstdint>
#include <utility>

#include "kqbridge/export.h"

namespace pp {

class PoolInterface;

// One recycled buffer. `total` is a multiple of 512; `ref` is 1 when handed
// out and 0 while the node waits in its pool's free list.
struct FLMemNode {
  uint8_t* data;
  int32_t used;
  int32_t reserved[3];
  int32_t id;
  int32_t total;
  int32_t ref;
  PoolInterface* pool;
};

static_assert(sizeof(void*) != 4 || sizeof(FLMemNode) == 36, "i386 layout of FLMemNode");

// What a node's references go back to.
class KQ_EXPORT PoolInterface {
 public:
  virtual ~PoolInterface();
  virtual void put(FLMemNode* node) = 0;
  virtual void lock() = 0;
  virtual void unlock() = 0;
};

enum FLQueueStatus : int32_t {
  FLQ_DEFAULT = -1,
  FLQ_OK = 0,
  FLQ_EXIT = 1,
  FLQ_NO_DATA = 2,
  FLQ_FULL = 3,
  FLQ_MALLOC_FAILED = 4,
  FLQ_PARAM_ERROR = 5,
};

// A producer pushes filled nodes, a consumer pops them (or reads them as one
// byte stream) and releases them. The exit state releases every waiter.
class KQ_EXPORT Abstract_PacketPool {
 public:
  virtual ~Abstract_PacketPool();
  virtual FLMemNode* getNode(int size) = 0;
  virtual void releaseNode(FLMemNode** pp) = 0;
  virtual void show(const char* title) = 0;
  virtual FLQueueStatus pushWait(FLMemNode* node, int maxCount, bool block) = 0;
  virtual FLQueueStatus push(FLMemNode* node) = 0;
  virtual FLQueueStatus pushForce(FLMemNode* node, int maxCount) = 0;
  virtual FLQueueStatus pop(FLMemNode** out, bool block) = 0;
  virtual FLQueueStatus popTimeout(FLMemNode** out, int timeoutMs) = 0;
  virtual FLQueueStatus read(void* buf, int len) = 0;
  virtual FLQueueStatus front(FLMemNode** out, bool block) = 0;
  virtual void exit() = 0;
  virtual bool isExit() = 0;
  virtual void setExit(bool on) = 0;
  virtual void clear() = 0;
  virtual void clearMem() = 0;
  virtual int count() = 0;
  virtual int bytes() = 0;
  virtual FLMemNode* at(int index) = 0;
  virtual void setValue(const char* name, int a, int b) = 0;
  virtual std::pair<int, int> getValue(const char* name, int defA, int defB) = 0;
};

KQ_EXPORT Abstract_PacketPool* create_pktpool();
KQ_EXPORT void destroy_pktpool(Abstract_PacketPool** pp);
KQ_EXPORT const char* pcQueErr(FLQueueStatus s);
// Drops one reference of *pp and nulls it.
KQ_EXPORT void release_pnode(FLMemNode** pp);

}  // namespace pp

#endif  // KQBRIDGE_PACKET_POOL_H_
