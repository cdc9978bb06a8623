/// \file
/// bg::Mem_Pool: an arena of equal blocks with big allocations and cleanups.
#ifndef KQBRIDGE_MEM_POOL_H_
#define KQBRIDGE_MEM_POOL_H_

#include "kqbridge/interface.h"

namespace bg {

/// Small requests are cut 16-byte aligned from blocks and never freed alone;
/// big ones come from the heap and may be freed early. reset() and destruction
/// release everything at once; destruction first runs the cleanups, newest
/// first. One thread at a time.
class KQ_EXPORT Abstract_MemPool : public Abstract_Base {
 public:
  /// Null on failure, and for a negative size.
  virtual void* alloc(int size) = 0;
  /// 1 when `p` was a big allocation of this pool (now freed), else 0.
  virtual int dealloc(void* p) = 0;
  /// Frees the big allocations and rewinds to the first block, so the blocks
  /// already made serve the next requests again.
  virtual void reset() = 0;
  /// The descriptor trace lines are written to; -1 (no trace) until set.
  virtual void setLog(int fd) = 0;
  /// Has `handler(data)` run when the pool is destroyed: 1, or -1 when out of memory.
  virtual int addCleanup(void (*handler)(void*), void* data) = 0;
  /// Drops the newest cleanup of `handler`: 1, or 0 when there is none.
  virtual int removeCleanup(void (*handler)(void*)) = 0;
  /// A new arena, owned by the caller until it gives it to destroyPool, which
  /// frees it with everything allocated from it and nulls *pp.
  virtual Abstract_MemPool* createPool(unsigned size) = 0;
  /// Deletes *pp (one createPool made) and nulls it.
  virtual void destroyPool(Abstract_MemPool** pp) = 0;
};

struct MemArena;

/// The arena behind each component's own m_memPool.
class KQ_EXPORT Mem_Pool : public Abstract_MemPool {
 public:
  /// Blocks of `blockSize` bytes (a small minimum applies); the first is made
  /// at once. When it cannot be, every operation answers as for an empty pool.
  explicit Mem_Pool(unsigned blockSize);
  /// Runs the cleanups, newest first, and frees every block and big allocation.
  ~Mem_Pool() override;
  void* alloc(int size) override;
  int dealloc(void* p) override;
  void reset() override;
  void setLog(int fd) override;
  int addCleanup(void (*handler)(void*), void* data) override;
  int removeCleanup(void (*handler)(void*)) override;
  Abstract_MemPool* createPool(unsigned size) override;
  void destroyPool(Abstract_MemPool** pp) override;

 protected:
  MemArena* m_arena;  ///< the blocks and big allocations (defined in src/), null when none could be made
};

}  // namespace bg

#endif  // KQBRIDGE_MEM_POOL_H_
