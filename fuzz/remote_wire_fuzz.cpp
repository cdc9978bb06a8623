// What another node (or anyone) publishes reaches the remote module's
// decoders unchecked: any bytes decode without harm, and what decodes
// encodes and decodes to the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  remote::Request request;
  if (remote::decodeRequest(input, &request)) {
    BridgeMsg msg = request.message();
    remote::Request again;
    if (!remote::decodeRequest(remote::encodeRequest(request.from.c_str(), msg), &again)) abort();
    BridgeMsg back = again.message();
    if (back.cmd != msg.cmd || back.sub != msg.sub || back.word3 != msg.word3 || back.word4 != msg.word4 ||
        (back.text == nullptr) != (msg.text == nullptr))
      abort();
  }
  // Floating-point numbers (six decimals, at most 127 characters) and
  // argument vectors are the kinds whose text form may not read back.
  bg::Value value;
  bool decoded = remote::decodeValue(input, &value);
  bg::Value::VT kind = value.type();
  if (decoded && kind != bg::Value::VT_FLOAT && kind != bg::Value::VT_DOUBLE && kind != bg::Value::VT_ARGV) {
    bg::Value again;
    if (!remote::decodeValue(remote::encodeValue(value.write()), &again) || again.write() != value.write())
      abort();
  }
  std::string name;
  remote::classify(input, "node", &name);
  return 0;
}
