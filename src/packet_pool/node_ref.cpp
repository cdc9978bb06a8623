#include "packet_pool/node_ref.h"

#include <cstdio>
#include <cstdlib>
#include <typeinfo>

#include "platform/console.h"

namespace pp {

namespace {

// No pool means no lock to take: the caller is the node's only user.
int releaseOrphan(FLMemNode* node) {
  int32_t ref = loadRef(node);
  if (ref > 1) {
    storeRef(node, ref - 1);
    return ref - 1;
  }
  if (ref == 1) {
    bg::platform::consoleError("[ERROR] *** FLMemNode's pool is NULL, exit\n");
    free(node->data);
    node->data = nullptr;
  }
  storeRef(node, 0);
  return 0;
}

// Our own pool counts references with single atomic steps on each node
// instead of under its reference lock. The lock made every change of a
// count indivisible and let exactly one thread see the count reach 0 and
// hand the node to put(); a compare-and-swap gives both, per node, without
// making every release in the pool wait for every other. lock() and
// unlock() still take the mutex for callers outside. A pool of another
// class (a caller's own, or one derived from ours) keeps its lock around
// every change.
bool countsAtomically(PoolInterface* pool) {
  return typeid(*pool) == typeid(FLMemPool);
}

int dropOne(FLMemNode* node, PoolInterface* pool) {
  int32_t ref = loadRef(node);
  for (;;) {
    if (ref > 1) {
      if (swapRef(node, &ref, ref - 1)) return ref - 1;
    } else if (ref == 1) {
      // put() leaves `ref` 0 itself: once the node is in the free list another
      // thread may take it out again, so we must not write to it afterwards.
      pool->put(node);
      return 0;
    } else if (ref == 0 || swapRef(node, &ref, 0)) {
      return 0;
    }
  }
}

int addOne(FLMemNode* node) {
  int32_t ref = loadRef(node);
  while (ref > 0) {
    if (swapRef(node, &ref, ref + 1)) return ref + 1;
  }
  bg::platform::consoleError("[ERROR] *** FLMemNode invalid ref\n");
  // A count of 0 is left alone: the node may be in a free list, where get()
  // owns the field.
  while (ref < 0 && !swapRef(node, &ref, 0)) {
  }
  return ref < 0 ? 0 : ref;
}

}  // namespace

int releaseRef(FLMemNode* node) {
  PoolInterface* pool = node->pool;
  if (pool == nullptr) return releaseOrphan(node);
  if (countsAtomically(pool)) return dropOne(node, pool);
  // Under the pool's own lock the documented order holds: put(), then the
  // count goes to 0 (a caller's pool need not clear it in put()).
  pool->lock();
  int ref;
  if (loadRef(node) == 1) {
    pool->put(node);
    storeRef(node, 0);
    ref = 0;
  } else {
    ref = dropOne(node, pool);
  }
  pool->unlock();
  return ref;
}

int addRef(FLMemNode* node) {
  PoolInterface* pool = node->pool;
  if (pool == nullptr || countsAtomically(pool)) return addOne(node);
  pool->lock();
  int ref = addOne(node);
  pool->unlock();
  return ref;
}

void release_pnode(FLMemNode** pp) {
  if (pp == nullptr || *pp == nullptr) return;
  releaseRef(*pp);
  *pp = nullptr;
}

}  // namespace pp
