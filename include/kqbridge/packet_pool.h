/// \file
/// pp: reference-counted packet buffers and the queues that carry them.
#ifndef KQBRIDGE_PACKET_POOL_H_
#define KQBRIDGE_PACKET_POOL_H_

#include <cstdint>
#include <utility>

#include "kqbridge/export.h"

namespace pp {

class PoolInterface;

/// One recycled buffer. `total` is a multiple of 512; `ref` is 1 when handed
/// out and 0 while the node waits in its pool's free list.
struct FLMemNode {
  uint8_t* data;        ///< the buffer, `total` bytes
  int32_t used;         ///< the bytes of `data` that count, 0..total
  int32_t reserved[3];  ///< the user's own words; the pool leaves them alone
  int32_t id;           ///< the node's number in its pool
  int32_t total;        ///< the buffer's capacity
  int32_t ref;          ///< the references held; changed only through the pool's calls
  PoolInterface* pool;  ///< where the last reference gives the node back
};

static_assert(sizeof(void*) != 4 || sizeof(FLMemNode) == 36, "i386 layout of FLMemNode");
static_assert(sizeof(void*) != 8 || sizeof(FLMemNode) == 48, "64-bit layout of FLMemNode");

/// What a node's references go back to. For a pool of a class of its own,
/// release_pnode() calls lock(), then put() when it drops the last reference,
/// then unlock(); put() takes the node over and leaves its `ref` 0, and the
/// caller must not touch the node after it.
class KQ_EXPORT PoolInterface {
 public:
  virtual ~PoolInterface();
  /// Takes back a node whose last reference was dropped.
  virtual void put(FLMemNode* node) = 0;
  ///@{
  /// The lock release_pnode() holds around its change of a node's `ref`.
  virtual void lock() = 0;
  virtual void unlock() = 0;
  ///@}
};

/// Makes nodes and takes released nodes back into a free list kept in
/// ascending order of capacity, so buffers are reused instead of freed. Any
/// thread may get and release nodes; every node it handed out must be released
/// before the pool is destroyed.
class KQ_EXPORT FLMemPool : public PoolInterface {
 public:
  /// An empty free list.
  FLMemPool();
  FLMemPool(const FLMemPool&) = delete;
  FLMemPool& operator=(const FLMemPool&) = delete;
  /// Frees the free list (clear()).
  ~FLMemPool() override;

  /// Takes a node back when `ref` is at least 1 and the node was made by this
  /// pool; anything else is ignored. A node already in the list is reported on
  /// stderr ("same node, can't double free"), stays there once, and its `ref`
  /// goes to 0 as after any hand-over.
  void put(FLMemNode* node) override;
  ///@{
  /// A mutex for callers that serialise their own work on the pool. The
  /// pool's own counting changes `ref` by atomic steps and does not take it.
  void lock() override;
  void unlock() override;
  ///@}

  /// A node whose buffer holds at least `size` bytes (capacity in steps of
  /// 512), with `used` = `size` and `ref` = 1: the smallest free node when
  /// `size` is below the average free capacity, else the largest, grown when
  /// too small. Null when `size` is below 1 or memory runs out. The node
  /// belongs to the caller until release_pnode() gives it back.
  FLMemNode* get(int size);
  /// Prints the free list to stderr under `title`.
  void show(const char* title);
  /// Frees every node in the free list with its buffer; nodes that are out
  /// are not affected.
  void clear();

 private:
  struct State;
  State* m_state;
};

/// What a queue operation answers; pcQueErr() gives its text.
enum FLQueueStatus : int32_t {
  FLQ_DEFAULT = -1,       ///< no status yet
  FLQ_OK = 0,             ///< done
  FLQ_EXIT = 1,           ///< the pool is in the exit state
  FLQ_NO_DATA = 2,        ///< nothing queued (or, without waiting, the queue busy)
  FLQ_FULL = 3,           ///< `maxCount` packets are queued
  FLQ_MALLOC_FAILED = 4,  ///< out of memory
  FLQ_PARAM_ERROR = 5,    ///< a null node or pointer, or a bad size
};

/// A producer pushes filled nodes, a consumer pops them (or reads them as one
/// byte stream) and releases them. The exit state releases every waiter.
class KQ_EXPORT Abstract_PacketPool {
 public:
  virtual ~Abstract_PacketPool();
  /// A node of at least `size` bytes, the caller's until it is pushed or released.
  virtual FLMemNode* getNode(int size) = 0;
  /// Drops the caller's reference to *pp and nulls it (release_pnode()).
  virtual void releaseNode(FLMemNode** pp) = 0;
  /// Prints the free list of the pool's memory to stderr under `title`.
  virtual void show(const char* title) = 0;
  /// Queues `node` while fewer than `maxCount` packets are; FLQ_OK hands it over.
  virtual FLQueueStatus pushWait(FLMemNode* node, int maxCount, bool block) = 0;
  /// Queues `node` without a bound; FLQ_OK hands it over.
  virtual FLQueueStatus push(FLMemNode* node) = 0;
  /// pushWait() that makes room by dropping the oldest packets.
  virtual FLQueueStatus pushForce(FLMemNode* node, int maxCount) = 0;
  /// Takes the oldest packet, waiting for one when `block`.
  virtual FLQueueStatus pop(FLMemNode** out, bool block) = 0;
  /// pop() waiting at most `timeoutMs`.
  virtual FLQueueStatus popTimeout(FLMemNode** out, int timeoutMs) = 0;
  /// The next `len` bytes of the queued packets read as one stream.
  virtual FLQueueStatus read(void* buf, int len) = 0;
  /// The oldest packet without taking it.
  virtual FLQueueStatus front(FLMemNode** out, bool block) = 0;
  /// Enters the exit state: waiters return FLQ_EXIT, new calls are refused.
  virtual void exit() = 0;
  /// Whether the pool is in the exit state.
  virtual bool isExit() = 0;
  /// exit() for true.
  virtual void setExit(bool on) = 0;
  /// Releases every queued packet.
  virtual void clear() = 0;
  /// Frees the free list of the pool's memory; nodes that are out are not affected.
  virtual void clearMem() = 0;
  /// The packets queued.
  virtual int count() = 0;
  /// The bytes the queued packets hold, 16 more per packet for its record.
  virtual int bytes() = 0;
  /// The queued node at `index` from the oldest.
  virtual FLMemNode* at(int index) = 0;
  /// Stores a pair of numbers under `name`, for the pool's users.
  virtual void setValue(const char* name, int a, int b) = 0;
  /// The pair stored under `name`, else (defA, defB).
  virtual std::pair<int, int> getValue(const char* name, int defA, int defB) = 0;
};

/// The packet pool behind create_pktpool(). Producers on any threads; one
/// consumer at a time pops, looks or reads (pop, popTimeout and front
/// serialise on a reader lock, and read() keeps its partly read packet in the
/// pool, so only one thread may use read()). A refused push (any status but 0)
/// leaves the node with the caller. count(), bytes(), setValue() and
/// getValue() take no lock: call the last two from one thread at a time.
class KQ_EXPORT FLPacketPool : public Abstract_PacketPool {
 public:
  /// An empty queue over a memory pool of its own.
  FLPacketPool();
  FLPacketPool(const FLPacketPool&) = delete;
  FLPacketPool& operator=(const FLPacketPool&) = delete;
  /// Wakes every waiter as exit() does and waits until the threads waiting in
  /// pop(), popTimeout(), front(), read() or pushWait() have returned (with
  /// 1), then releases queued nodes and the partly read one and frees the
  /// memory pool. No other call may overlap it, nor come after it, and every
  /// node of this pool must be back: one a woken pusher still holds cannot be
  /// released afterwards.
  ~FLPacketPool() override;

  /// Null in the exit state or for a size below 1.
  FLMemNode* getNode(int size) override;
  void releaseNode(FLMemNode** pp) override;
  void show(const char* title) override;
  /// 5 for a null node or a `used` outside 0..total, 1 in the exit state, 3
  /// when `maxCount` (below 1 included) packets are queued and `block` is
  /// false; with `block` waits for room until a pop or exit.
  FLQueueStatus pushWait(FLMemNode* node, int maxCount, bool block) override;
  FLQueueStatus push(FLMemNode* node) override;
  /// Drops (releases) the oldest packets until `node` fits under `maxCount`.
  FLQueueStatus pushForce(FLMemNode* node, int maxCount) override;
  /// 0 with the oldest node in *out (now the caller's); 2 (none) or 1 (exit)
  /// with *out null; 5 for a null `out`. Without `block`, 2 also when another
  /// reader keeps the queue to itself for more than a moment.
  FLQueueStatus pop(FLMemNode** out, bool block) override;
  /// As pop(), waiting about `timeoutMs` for a packet.
  FLQueueStatus popTimeout(FLMemNode** out, int timeoutMs) override;
  /// Exactly `len` bytes of the packets as one stream; 1 when the pool exits
  /// first (the bytes copied so far stay in `buf`), 5 for bad arguments.
  FLQueueStatus read(void* buf, int len) override;
  /// As pop() without taking the packet: *out gets one more reference, which
  /// the caller releases.
  FLQueueStatus front(FLMemNode** out, bool block) override;
  void exit() override;
  bool isExit() override;
  /// exit() for true; false makes the pool work again.
  void setExit(bool on) override;
  /// Releases the partly read packet and every queued one.
  void clear() override;
  void clearMem() override;
  int count() override;
  int bytes() override;
  /// The queued node at `index` from the oldest, without a reference; null
  /// when there is none.
  FLMemNode* at(int index) override;
  /// Keeps the first pair stored under `name`.
  void setValue(const char* name, int a, int b) override;
  std::pair<int, int> getValue(const char* name, int defA, int defB) override;

 private:
  struct State;
  State* m_state;
};

/// A new pool, owned by the caller until it gives it to destroy_pktpool.
KQ_EXPORT Abstract_PacketPool* create_pktpool();
/// Deletes *pp and nulls it.
KQ_EXPORT void destroy_pktpool(Abstract_PacketPool** pp);
/// The text of a status; "unknow queue statu" for values outside the enumeration.
KQ_EXPORT const char* pcQueErr(FLQueueStatus s);
/// Drops one reference of *pp and nulls it; the last reference gives the node
/// back to its pool. Does nothing when `pp` or *pp is null.
KQ_EXPORT void release_pnode(FLMemNode** pp);

}  // namespace pp

#endif  // KQBRIDGE_PACKET_POOL_H_
