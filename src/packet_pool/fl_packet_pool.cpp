#include <chrono>
#include <map>
#include <string>
#include <thread>

#include "diagnostics/memory_tally.h"
#include "kqbridge/packet_pool.h"
#include "packet_pool/fl_queue.h"
#include "packet_pool/node_ref.h"
#include "packet_pool/packet_pool_state.h"
#include "platform/brief_lock.h"
#include "platform/clock.h"
#include "platform/mutex.h"

namespace pp {

namespace {

// Each queued element carries a node and the reference its pusher gave up.
void disposeNode(FLQueueElement* e) {
  if (e->data) releaseRef(static_cast<FLMemNode*>(e->data));
  *e = FLQueueElement{};
}

void addRefToElement(const FLQueueElement& e) {
  addRef(static_cast<FLMemNode*>(e.data));
}

FLQueueElement elementOf(FLMemNode* node) {
  return FLQueueElement{node, 4, 0};
}

bool acceptable(const FLMemNode* node) {
  return node != nullptr && node->used >= 0 && node->used <= node->total;
}

// Only a blocking pop or look waits for the reader lock as long as it takes.
// A reader holding it may sleep in the queue until a packet comes: a polling
// pop, like the one in pushForce(), would then wait for the producer that is
// itself waiting for it. So a poll gives up with 2 when the lock stays taken
// for a moment, and a timed pop waits for it until its deadline only.
bool enterReader(bg::platform::Mutex* lock, bool block, const timespec* deadline) TRY_ACQUIRE(true, lock) {
  if (block) {
    lock->lock();
    return true;
  }
  if (bg::platform::tryLockBriefly(lock)) return true;
  return deadline != nullptr && lock->lockUntil(*deadline);
}

FLQueueStatus takeNode(bg::platform::Mutex* readerLock, FLQueue* queue, FLMemNode** out, bool block,
                       const timespec* deadline) {
  FLQueueElement e{};
  FLQueueStatus status = FLQ_NO_DATA;
  if (enterReader(readerLock, block, deadline)) {
    status = queue->take(&e, block, deadline);
    readerLock->unlock();
  }
  *out = status == FLQ_OK ? static_cast<FLMemNode*>(e.data) : nullptr;
  return status;
}

}  // namespace

Abstract_PacketPool::~Abstract_PacketPool() = default;

FLPacketPool::FLPacketPool() {
  FLQueue::setDisposer(disposeNode);
  m_state = new State;
  bg::packetTally().add(1, 0, 0);
}

// Shutdown code often destroys a pool while its consumer still waits in
// pop() or read(), or a producer in a bounded pushWait(), although the
// contract asks for exit() and a join first. Freeing under them would be a
// use after free, so destruction first does what exit() does, then waits
// until every waiting thread has left with 1, and only then frees.
FLPacketPool::~FLPacketPool() {
  m_state->queue.exit();
  while (m_state->inside.load() != 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
  // The partly read packet goes back too: after the memory pool is gone
  // nobody could release it.
  release_pnode(&m_state->readNode);
  // The queue goes before the memory pool, handing its nodes back to it.
  delete m_state;
  bg::packetTally().add(-1, 0, 0);
}

FLMemNode* FLPacketPool::getNode(int size) {
  if (m_state->queue.isExit()) return nullptr;
  return m_state->memory.get(size);
}

void FLPacketPool::releaseNode(FLMemNode** pp) {
  release_pnode(pp);
}

void FLPacketPool::show(const char* title) {
  m_state->memory.show(title);
}

FLQueueStatus FLPacketPool::pushWait(FLMemNode* node, int maxCount, bool block) {
  WaitingInside inside(&m_state->inside);
  if (!acceptable(node)) return FLQ_PARAM_ERROR;
  if (m_state->queue.isExit()) return FLQ_EXIT;
  // Room for fewer than one packet never comes: refuse rather than wait forever.
  if (maxCount < 1) return FLQ_FULL;
  return m_state->queue.pushBounded(elementOf(node), maxCount, block);
}

FLQueueStatus FLPacketPool::push(FLMemNode* node) {
  if (!acceptable(node)) return FLQ_PARAM_ERROR;
  if (m_state->queue.isExit()) return FLQ_EXIT;
  return m_state->queue.push(elementOf(node));
}

FLQueueStatus FLPacketPool::pushForce(FLMemNode* node, int maxCount) {
  FLQueueStatus status = pushWait(node, maxCount, false);
  // Below one packet no drop makes room; we answer at once instead of spinning.
  if (maxCount < 1) return status;
  while (status == FLQ_FULL) {
    FLMemNode* old = nullptr;
    if (pop(&old, false) == FLQ_OK) releaseNode(&old);
    status = pushWait(node, maxCount, false);
  }
  return status;
}

FLQueueStatus FLPacketPool::popTimeout(FLMemNode** out, int timeoutMs) {
  WaitingInside inside(&m_state->inside);
  if (out == nullptr) return FLQ_PARAM_ERROR;
  if (m_state->queue.isExit()) return FLQ_EXIT;
  if (timeoutMs < 1) return takeNode(&m_state->readerLock, &m_state->queue, out, false, nullptr);
  timespec deadline = bg::platform::deadlineAfterMs(static_cast<unsigned>(timeoutMs));
  return takeNode(&m_state->readerLock, &m_state->queue, out, false, &deadline);
}

FLQueueStatus FLPacketPool::pop(FLMemNode** out, bool block) {
  WaitingInside inside(&m_state->inside);
  if (out == nullptr) return FLQ_PARAM_ERROR;
  if (m_state->queue.isExit()) return FLQ_EXIT;
  return takeNode(&m_state->readerLock, &m_state->queue, out, block, nullptr);
}

FLQueueStatus FLPacketPool::front(FLMemNode** out, bool block) {
  WaitingInside inside(&m_state->inside);
  if (out == nullptr) return FLQ_PARAM_ERROR;
  if (m_state->queue.isExit()) return FLQ_EXIT;
  FLQueueElement e{};
  FLQueueStatus status = FLQ_NO_DATA;
  if (enterReader(&m_state->readerLock, block, nullptr)) {
    // The reference is added under the queue's lock: clear() could otherwise
    // release the packet between the look and the reference.
    status = m_state->queue.look(&e, block, addRefToElement);
    m_state->readerLock.unlock();
  }
  *out = status == FLQ_OK ? static_cast<FLMemNode*>(e.data) : nullptr;
  return status;
}

void FLPacketPool::exit() {
  m_state->queue.exit();
}

bool FLPacketPool::isExit() {
  return m_state->queue.isExit();
}

void FLPacketPool::setExit(bool on) {
  if (on) {
    m_state->queue.exit();
  } else {
    m_state->queue.resume();
  }
}

void FLPacketPool::clear() {
  release_pnode(&m_state->readNode);
  m_state->readRemaining = 0;
  m_state->readOffset = 0;
  m_state->queue.clear();
}

void FLPacketPool::clearMem() {
  m_state->memory.clear();
}

int FLPacketPool::count() {
  return m_state->queue.count();
}

int FLPacketPool::bytes() {
  return m_state->queue.bytes();
}

FLMemNode* FLPacketPool::at(int index) {
  // Unlike count(), this takes the queue's lock: the ring may be reallocated
  // by a concurrent push.
  FLQueueElement e{};
  return m_state->queue.at(index, &e) ? static_cast<FLMemNode*>(e.data) : nullptr;
}

void FLPacketPool::setValue(const char* name, int a, int b) {
  if (name == nullptr) return;
  m_state->values.emplace(name, std::make_pair(a, b));
}

std::pair<int, int> FLPacketPool::getValue(const char* name, int defA, int defB) {
  if (name != nullptr) {
    auto it = m_state->values.find(name);
    if (it != m_state->values.end()) return it->second;
  }
  return std::make_pair(defA, defB);
}

}  // namespace pp
