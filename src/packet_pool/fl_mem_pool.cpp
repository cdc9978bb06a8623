#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "kqbridge/packet_pool.h"
#include "packet_pool/brief_lock.h"

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

}  // namespace

PoolInterface::~PoolInterface() = default;

// The producer gets nodes and the consumer releases them: the list lock and
// the list itself share cache lines that move between them, while the
// reference lock, taken by the releasing side alone, has a line of its own.
struct alignas(64) FLMemPool::State {
  pthread_mutex_t listLock;
  Slot* first = nullptr;
  Slot* last = nullptr;
  uint32_t freeCount = 0;
  int32_t nextId = 0;
  // 64-bit so that many large free buffers cannot overflow the sum.
  int64_t freeBytes = 0;
  int64_t average = 0;
  alignas(64) pthread_mutex_t refLock;

  void unlink(Slot* s) {
    (s->prev ? s->prev->next : first) = s->next;
    (s->next ? s->next->prev : last) = s->prev;
    s->prev = s->next = nullptr;
    s->listed = false;
    --freeCount;
    if (freeCount > 0) {
      freeBytes -= s->node.total;
      average = freeBytes / freeCount;
    } else {
      freeBytes = 0;
      average = 0;
    }
  }

  // Links `s` before `at` (at the end when `at` is null).
  void link(Slot* s, Slot* at) {
    s->next = at;
    s->prev = at ? at->prev : last;
    (s->prev ? s->prev->next : first) = s;
    (at ? at->prev : last) = s;
    s->listed = true;
    ++freeCount;
    freeBytes += s->node.total;
    average = freeBytes / freeCount;
  }

  // The node goes before the first node of a larger capacity, so the list
  // stays ascending and equal capacities keep their return order.
  void insertSorted(Slot* s) {
    Slot* at = first;
    while (at && at->node.total <= s->node.total) at = at->next;
    link(s, at);
  }
};

FLMemPool::FLMemPool() : m_state(new State) {
  pthread_mutex_init(&m_state->listLock, nullptr);
  pthread_mutex_init(&m_state->refLock, nullptr);
}

FLMemPool::~FLMemPool() {
  clear();
  pthread_mutex_destroy(&m_state->listLock);
  pthread_mutex_destroy(&m_state->refLock);
  delete m_state;
}

void FLMemPool::lock() {
  pthread_mutex_lock(&m_state->refLock);
}

void FLMemPool::unlock() {
  pthread_mutex_unlock(&m_state->refLock);
}

FLMemNode* FLMemPool::get(int size) {
  if (size < 1) return nullptr;
  int64_t capacity = (static_cast<int64_t>(size) + kStep - 1) / kStep * kStep;
  if (capacity > INT32_MAX) return nullptr;
  State* st = m_state;
  lockBriefly(&st->listLock);
  Slot* s;
  if (st->first == nullptr) {
    s = new (std::nothrow) Slot();
    uint8_t* data = static_cast<uint8_t*>(malloc(static_cast<size_t>(capacity)));
    if (s == nullptr || data == nullptr) {
      pthread_mutex_unlock(&st->listLock);
      delete s;
      free(data);
      return nullptr;
    }
    s->node.data = data;
    s->node.id = st->nextId++;
    s->node.total = static_cast<int32_t>(capacity);
    s->node.pool = this;
  } else {
    s = size < st->average ? st->first : st->last;
    st->unlink(s);
    if (s->node.total < size) {
      void* grown = realloc(s->node.data, static_cast<size_t>(capacity));
      if (grown == nullptr) {
        // The old buffer is intact: the node waits in the list for a
        // request it can serve.
        st->insertSorted(s);
        pthread_mutex_unlock(&st->listLock);
        return nullptr;
      }
      s->node.data = static_cast<uint8_t*>(grown);
      s->node.total = static_cast<int32_t>(capacity);
    }
  }
  s->node.used = size;
  // Set under the list lock: the thread that released the node last wrote
  // `ref` under it too (in put()), so the two writes are ordered.
  s->node.ref = 1;
  pthread_mutex_unlock(&st->listLock);
  return &s->node;
}

void FLMemPool::put(FLMemNode* node) {
  // A node claiming another pool (or none) is not ours to link.
  if (node == nullptr || node->ref < 1 || node->pool != this) return;
  State* st = m_state;
  Slot* s = slotOf(node);
  lockBriefly(&st->listLock);
  node->used = 0;
  if (s->listed) {
    // Which end the node would have gone to tells the caller where the
    // double release was seen.
    int where = node->total >= st->last->node.total ? 1 : node->total <= st->first->node.total ? 2 : 3;
    fprintf(stderr, "%d.same node, can't double free, id=%d, ref=%d\n", where, node->id, node->ref);
    fflush(stderr);
  } else {
    node->ref = 0;
    if (st->last == nullptr || node->total >= st->last->node.total) {
      st->link(s, nullptr);
    } else if (node->total <= st->first->node.total) {
      st->link(s, st->first);
    } else {
      st->insertSorted(s);
    }
  }
  pthread_mutex_unlock(&st->listLock);
}

void FLMemPool::show(const char* title) {
  fprintf(stderr, "-------------- FLMemory show : %s ----------\n", title ? title : "");
  pthread_mutex_lock(&m_state->listLock);
  int i = 0;
  for (Slot* s = m_state->first; s; s = s->next, ++i) {
    fprintf(stderr, "node[%d] (id=%d) --> ref=%d, used=%d, total=%d\n", i, s->node.id, s->node.ref, s->node.used,
            s->node.total);
  }
  pthread_mutex_unlock(&m_state->listLock);
  fprintf(stderr, "[end]\n\n");
}

void FLMemPool::clear() {
  State* st = m_state;
  lockBriefly(&st->listLock);
  Slot* s = st->first;
  while (s) {
    Slot* next = s->next;
    free(s->node.data);
    delete s;
    s = next;
  }
  st->first = st->last = nullptr;
  st->freeCount = 0;
  st->freeBytes = 0;
  st->average = 0;
  pthread_mutex_unlock(&st->listLock);
}

}  // namespace pp
