// packet_producer PIPE COUNT: makes COUNT packets on a thread of its own and
// streams them to the consumer serving PIPE. A packet pool sits between the
// two threads: the maker fills recycled buffers and waits when 64 are
// queued, the main thread writes each one to the pipe and gives the buffer
// back, so nothing is allocated once the pool holds a buffer of each size.
#include <kqbridge/kqbridge.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <thread>

#include "packet_format.h"

namespace {

// The consumer may still be starting: a name nobody serves fails at once, so
// we try again for a while.
bg::pi::INamedPipe* connectTo(const char* name) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    bg::pi::INamedPipe* pipe = bg::pi::create_pipe_client(name);
    if (pipe == nullptr) return nullptr;
    try {
      pipe->Open();
      return pipe;
    } catch (const std::exception&) {
      bg::pi::destroy_pipe_client(&pipe);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  fprintf(stderr, "producer: nobody serves the pipe '%s'\n", name);
  return nullptr;
}

void makePackets(pp::Abstract_PacketPool* pool, uint32_t count) {
  for (uint32_t seq = 0; seq < count; ++seq) {
    const int size = packets::payloadSize(seq);
    pp::FLMemNode* node = pool->getNode(packets::kHeaderBytes + size);  // `used` is set to this size
    if (node == nullptr) return;                                        // the pool is exiting
    memcpy(node->data, &seq, packets::kHeaderBytes);
    for (int i = 0; i < size; ++i) node->data[packets::kHeaderBytes + i] = packets::payloadByte(seq, i);
    if (pool->pushWait(node, packets::kMaxQueued, true) != pp::FLQ_OK) {
      pool->releaseNode(&node);  // refused: the node is still ours
      return;
    }
  }
}

// One message: its length, then its bytes, written straight from the
// pooled buffer.
void send(bg::pi::INamedPipe* pipe, const uint8_t* data, int len) {
  uint32_t length = static_cast<uint32_t>(len);
  pipe->Write(&length, sizeof(length));
  pipe->Write(data, len);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || atoi(argv[2]) < 1) {
    fprintf(stderr, "usage: packet_producer PIPE COUNT\n");
    return 2;
  }
  const char* name = argv[1];
  const uint32_t count = static_cast<uint32_t>(atoi(argv[2]));

  pp::Abstract_PacketPool* pool = pp::create_pktpool();
  std::thread maker(makePackets, pool, count);

  bg::pi::INamedPipe* pipe = connectTo(name);
  bool ok = pipe != nullptr;
  uint32_t sent = 0;
  long long bytes = 0;
  try {
    while (ok && sent < count) {
      pp::FLMemNode* node = nullptr;
      ok = pool->pop(&node, true) == pp::FLQ_OK;
      if (!ok) break;
      send(pipe, node->data, node->used);
      bytes += node->used;
      ++sent;
      pool->releaseNode(&node);
    }
    if (ok) send(pipe, reinterpret_cast<const uint8_t*>(packets::kEnd), sizeof(packets::kEnd) - 1);
  } catch (const std::exception& e) {
    fprintf(stderr, "producer: %s\n", e.what());
    ok = false;
  }

  pool->exit();  // a maker still waiting for room returns
  maker.join();
  bg::pi::destroy_pipe_client(&pipe);
  pp::destroy_pktpool(&pool);
  printf("producer: sent %u packets (%lld bytes) to %s\n", sent, bytes, name);
  return ok ? 0 : 1;
}
