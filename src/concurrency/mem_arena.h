// The arena under bg::Mem_Pool: equal blocks cut by pointer bumps, big
// allocations on the side, cleanups run at destruction.
#ifndef KQBRIDGE_CONCURRENCY_MEM_ARENA_H_
#define KQBRIDGE_CONCURRENCY_MEM_ARENA_H_

#include <cstddef>
#include <cstdint>

namespace bg {

struct MemBlock {
  uint8_t* last;
  uint8_t* end;
  MemBlock* next;
  uint32_t failed;
};

struct LargeRecord {
  void* alloc;
  LargeRecord* next;
};

struct CleanupRecord {
  void (*handler)(void*);
  void* data;
  CleanupRecord* next;
};

// Lives at the start of the first block; further blocks carry only a MemBlock.
struct MemArena {
  MemBlock first;
  uint32_t max;
  MemBlock* current;
  LargeRecord* large;
  CleanupRecord* cleanup;
  int log;
};

// An arena of blocks of `blockSize` bytes tracing to `fd`; null (after the
// failure line on `fd`) when the first block cannot be had.
MemArena* createArena(unsigned blockSize, int fd);
// 16-byte aligned memory from a block, or a big allocation; null on failure.
void* arenaAlloc(MemArena* arena, unsigned size);
// 1 when `p` was a big allocation still held (now freed), else 0.
int arenaFreeLarge(MemArena* arena, void* p);
void resetArena(MemArena* arena);
// Runs the cleanups newest first, then frees everything.
void destroyArena(MemArena* arena);
int arenaAddCleanup(MemArena* arena, void (*handler)(void*), void* data);
int arenaRemoveCleanup(MemArena* arena, void (*handler)(void*));

}  // namespace bg

#endif  // KQBRIDGE_CONCURRENCY_MEM_ARENA_H_
