#include "kqbridge/mem_pool.h"

#include "concurrency/mem_arena.h"

namespace bg {

// A pool whose first block could not be allocated has no arena: every
// operation then answers as for an empty pool (null, 0, -1) without touching
// memory, and setLog has nowhere to keep the descriptor.
// The trace stays off (-1) until setLog: descriptor 0 would put a line on
// the user's terminal for every request, and a system call with it.
Mem_Pool::Mem_Pool(unsigned blockSize) : m_arena(createArena(blockSize, -1)) {}

Mem_Pool::~Mem_Pool() {
  if (m_arena != nullptr) destroyArena(m_arena);
}

// A negative size is a caller's arithmetic gone wrong, not a wish for
// gigabytes: it is refused rather than handed to malloc as a huge unsigned.
void* Mem_Pool::alloc(int size) {
  if (m_arena == nullptr || size < 0) return nullptr;
  return arenaAlloc(m_arena, static_cast<unsigned>(size));
}

int Mem_Pool::dealloc(void* p) {
  return m_arena == nullptr ? 0 : arenaFreeLarge(m_arena, p);
}

void Mem_Pool::reset() {
  if (m_arena != nullptr) resetArena(m_arena);
}

void Mem_Pool::setLog(int fd) {
  if (m_arena != nullptr) m_arena->log = fd;
}

int Mem_Pool::addCleanup(void (*handler)(void*), void* data) {
  return m_arena == nullptr ? -1 : arenaAddCleanup(m_arena, handler, data);
}

int Mem_Pool::removeCleanup(void (*handler)(void*)) {
  return m_arena == nullptr ? 0 : arenaRemoveCleanup(m_arena, handler);
}

Abstract_MemPool* Mem_Pool::createPool(unsigned size) {
  return new Mem_Pool(size);
}

void Mem_Pool::destroyPool(Abstract_MemPool** pp) {
  if (pp == nullptr || *pp == nullptr) return;
  delete *pp;
  *pp = nullptr;
}

}  // namespace bg
