// What the packet producers and the consumer agree on. A packet travels as
// one pipe message: its 32-bit sequence number in the machine's byte order,
// then its payload, whose length and bytes follow from the number, so the
// consumer can check every byte. The message "end" closes the stream.
#ifndef KQBRIDGE_EXAMPLES_PACKETS_PACKET_FORMAT_H_
#define KQBRIDGE_EXAMPLES_PACKETS_PACKET_FORMAT_H_

#include <cstdint>
#include <cstring>

namespace packets {

constexpr int kHeaderBytes = 4;
constexpr char kEnd[] = "end";
// Packets waiting in a pool at most: a producer that runs ahead waits.
constexpr int kMaxQueued = 64;

inline int payloadSize(uint32_t seq) {
  return 16 + static_cast<int>(seq * 37 % 4000);
}

inline uint8_t payloadByte(uint32_t seq, int i) {
  return static_cast<uint8_t>(seq * 7 + static_cast<uint32_t>(i));
}

inline bool isEnd(const uint8_t* data, int len) {
  return len == static_cast<int>(sizeof(kEnd)) - 1 && memcmp(data, kEnd, sizeof(kEnd) - 1) == 0;
}

}  // namespace packets

#endif  // KQBRIDGE_EXAMPLES_PACKETS_PACKET_FORMAT_H_
