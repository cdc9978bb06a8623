#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "kqbridge/named_pipe.h"

namespace bg {
namespace pi {

namespace {

const char kPipePrefix[] = "\\\\.\\pipe\\";
// A message is read in pieces that grow with what has arrived, so a peer
// that announces gigabytes and sends nothing costs us one piece, not the
// announced length.
const size_t kFirstPiece = 64 * 1024;

void checkClientCall(bool isServer, int size) {
  if (isServer) throw std::runtime_error("This operation is not supported on server pipe");
  if (size < 1) throw std::out_of_range("Size is 0 or less");
}

}  // namespace

INamedPipe::~INamedPipe() = default;

AbstractNamedPipe::AbstractNamedPipe(const std::string& name, bool isServer)
    : name(kPipePrefix + name), isServer(isServer) {}

AbstractNamedPipe::~AbstractNamedPipe() = default;

int AbstractNamedPipe::Open() {
  return isServer ? CreateServer() : OpenClient();
}

int AbstractNamedPipe::Read(void* buf, int size) {
  checkClientCall(isServer, size);
  return ReadRaw(buf, size);
}

int AbstractNamedPipe::Write(const void* buf, int size) {
  checkClientCall(isServer, size);
  return WriteRaw(buf, size);
}

std::string AbstractNamedPipe::ReadString() {
  uint32_t length = 0;
  Read(&length, sizeof(length));
  // A length beyond the int range turns negative, as the second read's size
  // would, and fails the same way as a length of 0.
  int size = static_cast<int>(length);
  if (size < 1) checkClientCall(false, size);
  std::string msg;
  while (msg.size() < length) {
    size_t at = msg.size();
    size_t piece = std::min<size_t>(length - at, std::max(at, kFirstPiece));
    msg.resize(at + piece);
    Read(&msg[at], static_cast<int>(piece));
  }
  return msg;
}

int AbstractNamedPipe::WriteString(const std::string& msg) {
  if (msg.empty()) return 0;
  int size = static_cast<int>(msg.size());
  // Checked before the length goes out, so a refused message leaves no
  // half-written frame behind.
  checkClientCall(isServer, msg.size() > INT32_MAX ? 0 : size);
  uint32_t length = static_cast<uint32_t>(msg.size());
  Write(&length, sizeof(length));
  return Write(msg.data(), size);
}

int AbstractNamedPipe::Flush() {
  return FlushRaw();
}

}  // namespace pi
}  // namespace bg
