// ReadString must take any byte stream from a peer: it returns whole
// messages or throws, and holds no more memory than the bytes that arrived
// warrant (run with -malloc_limit_mb to hold it to that).
#include <kqbridge/named_pipe.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

// An endpoint whose peer sent `data` and then closed.
class ReplayPipe : public bg::pi::AbstractNamedPipe {
 public:
  ReplayPipe(const uint8_t* data, size_t size)
      : AbstractNamedPipe("fuzz", false), m_data(data), m_left(size) {}
  void Close() override {}
  int OpenClient() override { return 1; }
  int CreateServer() override { return 1; }
  int ReadRaw(void* buf, int size) override {
    if (static_cast<size_t>(size) > m_left) throw std::runtime_error("pipe disconnected, GLE=109");
    memcpy(buf, m_data, static_cast<size_t>(size));
    m_data += size;
    m_left -= static_cast<size_t>(size);
    return size;
  }
  int WriteRaw(const void*, int size) override { return size; }
  int FlushRaw() override { return 1; }
  AbstractNamedPipe* AsyncWaitForConnection(unsigned) override { return nullptr; }
  AbstractNamedPipe* WaitForConnection() override { return nullptr; }

 private:
  const uint8_t* m_data;
  size_t m_left;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReplayPipe pipe(data, size);
  try {
    for (;;) {
      if (pipe.ReadString().empty()) abort();
    }
  } catch (const std::exception&) {
  }
  return 0;
}
