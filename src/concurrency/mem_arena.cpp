#include "concurrency/mem_arena.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diagnostics/memory_tally.h"
#include "platform/aligned_memory.h"
#include "platform/descriptor_write.h"

namespace bg {

namespace {

const size_t kAlignment = 16;
const uint32_t kMaxSmallRequest = 2048;

uint8_t* alignUp(uint8_t* p) {
  uintptr_t v = reinterpret_cast<uintptr_t>(p);
  return reinterpret_cast<uint8_t*>((v + kAlignment - 1) & ~static_cast<uintptr_t>(kAlignment - 1));
}

size_t alignUp(size_t n) {
  return (n + kAlignment - 1) & ~(kAlignment - 1);
}

// A further block's data area starts at the first boundary after its fields.
const size_t kBlockDataOffset = alignUp(sizeof(MemBlock));
// The first block has to hold the arena header and at least one aligned unit;
// smaller block sizes are raised to this.
const size_t kMinBlockSize = alignUp(sizeof(MemArena)) + kAlignment;

// The terminating zero byte goes out with the line, as readers of the trace
// expect it.
// A negative descriptor turns the trace off without a call per request.
void trace(int fd, const char* line) {
  if (fd >= 0) platform::writeDescriptor(fd, line, strlen(line) + 1);
}

void traceFailure(int fd, const char* operation, const char* failure) {
  char line[128];
  snprintf(line, sizeof(line), "%s %s\n", operation, failure);
  trace(fd, line);
}

void* allocateBlock(size_t size, int fd) {
  void* p = platform::allocateAligned(kAlignment, size);
  if (p == nullptr) {
    traceFailure(fd, "zrc_memalign", "memalign failed");
    return nullptr;
  }
  return p;
}

size_t blockSizeOf(const MemArena* arena) {
  return static_cast<size_t>(arena->first.end - reinterpret_cast<const uint8_t*>(arena));
}

uint8_t* firstDataStart(MemArena* arena) {
  return reinterpret_cast<uint8_t*>(arena) + sizeof(MemArena);
}

uint8_t* appendBlock(MemArena* arena, size_t size) {
  trace(arena->log, "call zrc_mem_block\n");
  size_t blockSize = blockSizeOf(arena);
  MemBlock* block = static_cast<MemBlock*>(allocateBlock(blockSize, arena->log));
  if (block == nullptr) return nullptr;
  arenaTally().add(0, 1, static_cast<long long>(blockSize));

  MemBlock* p = arena->current;
  for (; p->next != nullptr; p = p->next) {
    if (p->failed++ > 5) arena->current = p->next;
  }
  p->next = block;

  uint8_t* start = reinterpret_cast<uint8_t*>(block) + kBlockDataOffset;
  block->end = reinterpret_cast<uint8_t*>(block) + blockSize;
  block->next = nullptr;
  block->failed = 0;
  block->last = start + size;
  return start;
}

// A block passed over here counts as failed too: after a reset every block is
// searched from the first one again, and without this the blocks filled
// since would be walked by every request.
void* allocateSmall(MemArena* arena, size_t size) {
  for (MemBlock* p = arena->current; p != nullptr; p = p->next) {
    uint8_t* m = alignUp(p->last);
    if (m <= p->end && static_cast<size_t>(p->end - m) >= size) {
      p->last = m + size;
      trace(arena->log, "alloc from current block\n");
      return m;
    }
    if (p == arena->current && p->next != nullptr && p->failed++ > 5) arena->current = p->next;
  }
  return appendBlock(arena, size);
}

void* allocateLarge(MemArena* arena, size_t size) {
  trace(arena->log, "alloc from large\n");
  void* p = malloc(size);
  if (p == nullptr) {
    traceFailure(arena->log, "zrc_alloc", "malloc failed");
    return nullptr;
  }
  int searched = 0;
  for (LargeRecord* l = arena->large; l != nullptr && searched < 5; l = l->next, ++searched) {
    if (l->alloc == nullptr) {
      l->alloc = p;
      return p;
    }
  }
  LargeRecord* record = static_cast<LargeRecord*>(allocateSmall(arena, sizeof(LargeRecord)));
  if (record == nullptr) {
    free(p);
    return nullptr;
  }
  record->alloc = p;
  record->next = arena->large;
  arena->large = record;
  return p;
}

void freeLarges(MemArena* arena) {
  for (LargeRecord* l = arena->large; l != nullptr; l = l->next) {
    free(l->alloc);
    l->alloc = nullptr;
  }
}

}  // namespace

MemArena* createArena(unsigned blockSize, int fd) {
  size_t size = blockSize < kMinBlockSize ? kMinBlockSize : blockSize;
  MemArena* arena = static_cast<MemArena*>(allocateBlock(size, fd));
  if (arena == nullptr) return nullptr;
  arenaTally().add(1, 1, static_cast<long long>(size));
  arena->first.last = firstDataStart(arena);
  arena->first.end = reinterpret_cast<uint8_t*>(arena) + size;
  arena->first.next = nullptr;
  arena->first.failed = 0;
  arena->max = size < kMaxSmallRequest ? static_cast<uint32_t>(size) : kMaxSmallRequest;
  arena->current = &arena->first;
  arena->large = nullptr;
  arena->cleanup = nullptr;
  arena->log = fd;
  return arena;
}

void* arenaAlloc(MemArena* arena, unsigned size) {
  // `max` lets requests reach the whole block size, but a fresh block has
  // less room than that (its fields and the alignment come first); such a
  // request is served as a big allocation rather than overrunning a block.
  if (size > arena->max || size > blockSizeOf(arena) - kBlockDataOffset) return allocateLarge(arena, size);
  return allocateSmall(arena, size);
}

int arenaFreeLarge(MemArena* arena, void* p) {
  for (LargeRecord* l = arena->large; l != nullptr; l = l->next) {
    if (p != nullptr && l->alloc == p) {
      free(l->alloc);
      l->alloc = nullptr;
      return 1;
    }
  }
  return 0;
}

// Reset rewinds `current` to the first block and forgets the failures:
// leaving them would make the next round start behind the blocks that had
// filled, add new blocks at the end and never use the early ones again, so a
// pool reset in a loop would grow without bound.
void resetArena(MemArena* arena) {
  freeLarges(arena);
  arena->large = nullptr;
  arena->current = &arena->first;
  arena->first.last = firstDataStart(arena);
  arena->first.failed = 0;
  for (MemBlock* p = arena->first.next; p != nullptr; p = p->next) {
    p->last = reinterpret_cast<uint8_t*>(p) + sizeof(MemBlock);
    p->failed = 0;
  }
}

void destroyArena(MemArena* arena) {
  for (CleanupRecord* c = arena->cleanup; c != nullptr;) {
    CleanupRecord* next = c->next;
    if (c->handler != nullptr) c->handler(c->data);
    free(c);
    c = next;
  }
  freeLarges(arena);
  long long blockSize = static_cast<long long>(blockSizeOf(arena));
  long long blocks = 1;
  MemBlock* p = arena->first.next;
  platform::freeAligned(arena);
  for (; p != nullptr; ++blocks) {
    MemBlock* next = p->next;
    platform::freeAligned(p);
    p = next;
  }
  arenaTally().add(-1, -blocks, -blocks * blockSize);
}

// Cleanup records live on the C heap rather than in the blocks: reset hands
// block memory out again while the cleanup list stays, and destruction must
// never call through a record that was overwritten in between.
int arenaAddCleanup(MemArena* arena, void (*handler)(void*), void* data) {
  CleanupRecord* c = static_cast<CleanupRecord*>(malloc(sizeof(CleanupRecord)));
  if (c == nullptr) return -1;
  c->handler = handler;
  c->data = data;
  c->next = arena->cleanup;
  arena->cleanup = c;
  return 1;
}

int arenaRemoveCleanup(MemArena* arena, void (*handler)(void*)) {
  for (CleanupRecord** link = &arena->cleanup; *link != nullptr; link = &(*link)->next) {
    if ((*link)->handler == handler) {
      CleanupRecord* c = *link;
      *link = c->next;
      free(c);
      return 1;
    }
  }
  return 0;
}

}  // namespace bg
