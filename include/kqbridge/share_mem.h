/// \file
/// bg::Share_Mem: one named block of memory shared between processes.
#ifndef KQBRIDGE_SHARE_MEM_H_
#define KQBRIDGE_SHARE_MEM_H_

#include "kqbridge/interface.h"

namespace bg {

/// Open-first: an existing block of the name is opened (state 2), otherwise
/// one of `size` bytes is created (state 1); 0 when none is held. One thread
/// at a time per object; what the views of the block hold is the processes'
/// own to synchronise.
class KQ_EXPORT Abstract_ShareMem : public Abstract_Base {
 public:
  /// The new state: 2 opened, 1 created, 0 failed. An object that holds a
  /// block already says so on standard error and keeps it.
  virtual int open(const char* name, unsigned size) = 0;
  /// 1 created, 2 opened, 0 when no block is held.
  virtual int state() = 0;
  /// Non-zero when a held mapping was closed.
  virtual int close() = 0;
  /// A read-write view of the whole block; null when none is held.
  virtual void* map() = 0;
  /// Releases a view map() gave.
  virtual void unmap(void* view) = 0;
  /// A new object holding no block, owned by the caller until it gives it to
  /// destroy(), which closes what it holds and deletes it.
  virtual Abstract_ShareMem* create() = 0;
  /// Closes what `p` (one create made) holds and deletes it.
  virtual void destroy(Abstract_ShareMem* p) = 0;
};

/// The named shared memory behind the shared m_shareMem of every component.
/// A block is gone once the last process holding it closed it.
class KQ_EXPORT Share_Mem : public Abstract_ShareMem {
 public:
  /// Holds no block.
  Share_Mem();
  /// Closes the block it holds.
  ~Share_Mem() override;
  Share_Mem(const Share_Mem&) = delete;
  Share_Mem& operator=(const Share_Mem&) = delete;
  int open(const char* name, unsigned size) override;
  int state() override;
  int close() override;
  void* map() override;
  void unmap(void* view) override;
  Abstract_ShareMem* create() override;
  void destroy(Abstract_ShareMem* p) override;

 private:
  // The mapping held and whether this object created or opened it, defined
  // in src/; null while none is held.
  struct State;
  State* m_state;
};

}  // namespace bg

#endif  // KQBRIDGE_SHARE_MEM_H_
