#include "packet_pool/node_ref.h"

#include <cstdio>
#include <cstdlib>

namespace pp {

namespace {

// No pool means no lock to take: the caller is the node's only user.
int releaseOrphan(FLMemNode* node) {
  if (node->ref > 1) return --node->ref;
  if (node->ref == 1) {
    fprintf(stderr, "[ERROR] *** FLMemNode's pool is NULL, exit\n");
    fflush(stderr);
    free(node->data);
    node->data = nullptr;
  }
  node->ref = 0;
  return 0;
}

}  // namespace

int releaseRef(FLMemNode* node) {
  PoolInterface* pool = node->pool;
  if (pool == nullptr) return releaseOrphan(node);
  pool->lock();
  int ref = node->ref;
  if (ref > 1) {
    node->ref = --ref;
  } else if (ref == 1) {
    // put() leaves `ref` 0 itself: once the node is in the free list another
    // thread may take it out again, so we must not write to it afterwards.
    pool->put(node);
    ref = 0;
  } else if (ref < 0) {
    node->ref = ref = 0;
  }
  pool->unlock();
  return ref;
}

int addRef(FLMemNode* node) {
  PoolInterface* pool = node->pool;
  if (pool) pool->lock();
  int ref = node->ref;
  if (ref > 0) {
    node->ref = ++ref;
  } else {
    fprintf(stderr, "[ERROR] *** FLMemNode invalid ref\n");
    fflush(stderr);
    // A count of 0 is left alone: the node may be in a free list, where
    // get() owns the field.
    if (ref < 0) node->ref = ref = 0;
  }
  if (pool) pool->unlock();
  return ref;
}

void release_pnode(FLMemNode** pp) {
  if (pp == nullptr || *pp == nullptr) return;
  releaseRef(*pp);
  *pp = nullptr;
}

}  // namespace pp
