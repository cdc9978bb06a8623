#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "diagnostics/memory_tally.h"
#include "kqbridge/packet_pool.h"
#include "packet_pool/node_ref.h"
#include "platform/brief_lock.h"
#include "platform/console.h"
#include "platform/mutex.h"

namespace pp {

namespace {

const int64_t kStep = 512;

// Every node record is allocated as the head of a slot, so the free list
// links live beside the node and neither get() nor put() allocates once
// buffers are recycled.
struct Slot {
  FLMemNode node;
  Slot* prev;
  Slot* next;
  bool listed;
};

Slot* slotOf(FLMemNode* node) {
  return reinterpret_cast<Slot*>(node);
}

// A new node of `capacity` bytes for `pool`, handed out at once; null when
// memory runs out.
FLMemNode* makeNode(PoolInterface* pool, std::atomic<int32_t>* nextId, int32_t capacity, int size) {
  Slot* s = new (std::nothrow) Slot();
  uint8_t* data = static_cast<uint8_t*>(malloc(static_cast<size_t>(capacity)));
  if (s == nullptr || data == nullptr) {
    delete s;
    free(data);
    return nullptr;
  }
  s->node.data = data;
  s->node.id = nextId->fetch_add(1, std::memory_order_relaxed);
  s->node.total = capacity;
  s->node.pool = pool;
  s->node.used = size;
  storeRef(&s->node, 1);
  bg::packetTally().add(0, 1, capacity);
  return &s->node;
}

}  // namespace

PoolInterface::~PoolInterface() = default;

// The producer gets nodes and the consumer releases them: the list lock and
// the list itself share one cache line that moves between them, while the
// reference lock, which the pool's own counting never takes, has its own.
struct alignas(64) FLMemPool::State {
  bg::platform::BriefLock listLock;
  Slot* first GUARDED_BY(listLock) = nullptr;
  Slot* last GUARDED_BY(listLock) = nullptr;
  uint32_t freeCount GUARDED_BY(listLock) = 0;
  // 64-bit so that many large free buffers cannot overflow the sum. We keep
  // no average: "below the average" is tested by a multiplication, which
  // spares a division on every get and put.
  int64_t freeBytes GUARDED_BY(listLock) = 0;
  // Counted outside the list lock: new nodes are made outside it.
  std::atomic<int32_t> nextId{0};
  alignas(64) bg::platform::Mutex refLock;

  // size < freeBytes / freeCount (integer division), for a non-empty list.
  bool belowAverage(int size) const REQUIRES(listLock) {
    return (static_cast<int64_t>(size) + 1) * freeCount <= freeBytes;
  }

  void unlink(Slot* s) REQUIRES(listLock) {
    (s->prev ? s->prev->next : first) = s->next;
    (s->next ? s->next->prev : last) = s->prev;
    s->prev = s->next = nullptr;
    s->listed = false;
    --freeCount;
    freeBytes = freeCount > 0 ? freeBytes - s->node.total : 0;
  }

  // Links `s` before `at` (at the end when `at` is null).
  void link(Slot* s, Slot* at) REQUIRES(listLock) {
    s->next = at;
    s->prev = at ? at->prev : last;
    (s->prev ? s->prev->next : first) = s;
    (at ? at->prev : last) = s;
    s->listed = true;
    ++freeCount;
    freeBytes += s->node.total;
  }

  // The node goes before the first node of a larger capacity, so the list
  // stays ascending and equal capacities keep their return order.
  void insertSorted(Slot* s) REQUIRES(listLock) {
    Slot* at = first;
    while (at && at->node.total <= s->node.total) at = at->next;
    link(s, at);
  }
};

FLMemPool::FLMemPool() : m_state(new State) {}

FLMemPool::~FLMemPool() {
  clear();
  delete m_state;
}

// The reference lock is taken here and given back in another call, which
// the analysis cannot pair up.
void FLMemPool::lock() NO_THREAD_SAFETY_ANALYSIS {
  m_state->refLock.lock();
}

void FLMemPool::unlock() NO_THREAD_SAFETY_ANALYSIS {
  m_state->refLock.unlock();
}

FLMemNode* FLMemPool::get(int size) {
  if (size < 1) return nullptr;
  int64_t capacity = (static_cast<int64_t>(size) + kStep - 1) / kStep * kStep;
  if (capacity > INT32_MAX) return nullptr;
  State* st = m_state;
  st->listLock.lock();
  if (st->first == nullptr) {
    st->listLock.unlock();
    return makeNode(this, &st->nextId, static_cast<int32_t>(capacity), size);
  }
  Slot* s = st->belowAverage(size) ? st->first : st->last;
  st->unlink(s);
  st->listLock.unlock();
  // The node is ours alone from here: growing it needs no lock.
  if (s->node.total < size) {
    void* grown = realloc(s->node.data, static_cast<size_t>(capacity));
    if (grown == nullptr) {
      // The old buffer is intact: the node waits in the list for a request
      // it can serve.
      st->listLock.lock();
      st->insertSorted(s);
      st->listLock.unlock();
      return nullptr;
    }
    bg::packetTally().add(0, 0, capacity - s->node.total);
    s->node.data = static_cast<uint8_t*>(grown);
    s->node.total = static_cast<int32_t>(capacity);
  }
  s->node.used = size;
  // The thread that released the node last wrote `ref` before it linked the
  // node under the list lock, so this write comes after it.
  storeRef(&s->node, 1);
  return &s->node;
}

void FLMemPool::put(FLMemNode* node) {
  // A node claiming another pool (or none) is not ours to link.
  if (node == nullptr || loadRef(node) < 1 || node->pool != this) return;
  State* st = m_state;
  Slot* s = slotOf(node);
  st->listLock.lock();
  // Two threads releasing the last reference of one node at once (a caller's
  // bug) meet here: the second finds the count 0 and does nothing.
  if (loadRef(node) < 1) {
    st->listLock.unlock();
    return;
  }
  node->used = 0;
  if (s->listed) {
    // Which end the node would have gone to tells the caller where the
    // double release was seen. The count the stale holder raised drops to
    // 0, as after any hand-over, so its next add-reference is refused.
    int where = node->total >= st->last->node.total ? 1 : node->total <= st->first->node.total ? 2 : 3;
    int ref = loadRef(node);
    storeRef(node, 0);
    st->listLock.unlock();
    bg::platform::consoleError("%d.same node, can't double free, id=%d, ref=%d\n", where, node->id, ref);
    return;
  }
  storeRef(node, 0);
  if (st->last == nullptr || node->total >= st->last->node.total) {
    st->link(s, nullptr);
  } else if (node->total <= st->first->node.total) {
    st->link(s, st->first);
  } else {
    st->insertSorted(s);
  }
  st->listLock.unlock();
}

void FLMemPool::show(const char* title) {
  bg::platform::consoleError("-------------- FLMemory show : %s ----------\n", title ? title : "");
  // The lines are made under the list lock and printed after it: a writer
  // blocked on a full stderr must not hold up every get and put.
  std::string lines;
  char line[128];
  m_state->listLock.lock();
  int i = 0;
  for (Slot* s = m_state->first; s; s = s->next, ++i) {
    snprintf(line, sizeof line, "node[%d] (id=%d) --> ref=%d, used=%d, total=%d\n", i, s->node.id,
             loadRef(&s->node), s->node.used, s->node.total);
    lines += line;
  }
  m_state->listLock.unlock();
  bg::platform::consoleError("%s", lines.c_str());
  bg::platform::consoleError("[end]\n\n");
}

void FLMemPool::clear() {
  State* st = m_state;
  st->listLock.lock();
  Slot* s = st->first;
  st->first = st->last = nullptr;
  st->freeCount = 0;
  st->freeBytes = 0;
  st->listLock.unlock();
  // The nodes are unlinked already: nobody waits for the lock while we free.
  while (s) {
    Slot* next = s->next;
    bg::packetTally().add(0, -1, -s->node.total);
    free(s->node.data);
    delete s;
    s = next;
  }
}

}  // namespace pp
