// packet_consumer PIPE: serves PIPE and checks the packets a producer sends:
// every sequence number in order from 0, every payload byte as made. The
// pipe's worker reads each message straight into a buffer of a packet pool
// and queues it; the main thread takes the packets from the pool, checks
// them and gives the buffers back. It ends after the message "end".
#include <kqbridge/kqbridge.h>

#include <cstdio>
#include <exception>

#include "packet_format.h"

namespace {

// Without a packet for this long the producer is taken to be gone.
const int kIdleMs = 30000;
// A longer message is no packet of ours: the connection is dropped rather
// than a buffer of any size a peer announces allocated.
const uint32_t kMaxMessageBytes = 1 << 20;

// Runs on the pipe server's worker for each producer that connects, until
// it disconnects or sends "end". The end travels as a packet with no bytes.
void receive(bg::pi::INamedPipe* pipe, void* user) {
  pp::Abstract_PacketPool* pool = static_cast<pp::Abstract_PacketPool*>(user);
  try {
    for (bool end = false; !end;) {
      uint32_t length = 0;
      pipe->Read(&length, sizeof(length));
      if (length > kMaxMessageBytes) break;
      pp::FLMemNode* node = pool->getNode(static_cast<int>(length));
      if (node == nullptr) break;  // the pool is exiting
      pipe->Read(node->data, static_cast<int>(length));
      end = packets::isEnd(node->data, node->used);
      if (end) node->used = 0;
      if (pool->pushWait(node, packets::kMaxQueued, true) != pp::FLQ_OK) {
        pool->releaseNode(&node);
        break;
      }
    }
  } catch (const std::exception&) {
    // The producer went away (or sent a length of 0): wait for the next one.
  }
  bg::pi::destroy_pipe_client(&pipe);
}

// Whether `node` is packet `seq` as the producer made it.
bool isPacket(const pp::FLMemNode* node, uint32_t seq) {
  const int size = packets::payloadSize(seq);
  uint32_t got = 0;
  if (node->used != packets::kHeaderBytes + size) return false;
  memcpy(&got, node->data, packets::kHeaderBytes);
  if (got != seq) return false;
  for (int i = 0; i < size; ++i) {
    if (node->data[packets::kHeaderBytes + i] != packets::payloadByte(seq, i)) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: packet_consumer PIPE\n");
    return 2;
  }
  const char* name = argv[1];
  pp::Abstract_PacketPool* pool = pp::create_pktpool();
  bg::pi::INamedPipeServer* server = bg::pi::listen_pipe(name, 1, receive, pool);
  if (server == nullptr) {
    fprintf(stderr, "consumer: cannot serve the pipe '%s'\n", name);
    pp::destroy_pktpool(&pool);
    return 1;
  }
  printf("consumer: serving %s\n", name);
  fflush(stdout);

  uint32_t received = 0;
  long long bytes = 0;
  bool ok = true;
  for (;;) {
    pp::FLMemNode* node = nullptr;
    pp::FLQueueStatus status = pool->popTimeout(&node, kIdleMs);
    if (status != pp::FLQ_OK) {
      fprintf(stderr, "consumer: no packet within %d ms (%s)\n", kIdleMs, pp::pcQueErr(status));
      ok = false;
      break;
    }
    const bool end = node->used == 0;
    if (!end && !isPacket(node, received)) {
      fprintf(stderr, "consumer: packet %u is not what was sent\n", received);
      ok = false;
    }
    if (!end) bytes += node->used;
    pool->releaseNode(&node);
    if (end || !ok) break;
    ++received;
  }

  pool->exit();  // a worker waiting for room returns
  bg::pi::destroy_pipe_server(&server);
  pp::destroy_pktpool(&pool);
  printf("consumer: received %u packets (%lld bytes)%s\n", received, bytes, ok ? ", all in order" : "");
  return ok ? 0 : 1;
}
