// The encoded store form of a Value: its text form, scrambled with a fixed
// seed byte, then Base64-coded into a VT_STR value.
#include <cstring>
#include <memory>

extern "C" {
#include <libavutil/base64.h>
}

#include "kqbridge/data.h"

namespace bg {

namespace {

// The one seed byte both directions use; changing it makes every stored
// encoded value unreadable.
const uint8_t kDataSeed = 0x6B;

// The byte scrambling and Base64 sizes of bg::Crypt, which also codes with
// libavutil: the encoded form is the same whichever of the two produced it.
uint8_t keyByte(uint8_t seed) {
  return static_cast<uint8_t>(seed % 250 + 2);
}

void scramble(uint8_t* buf, int len, uint8_t seed) {
  const uint8_t k = keyByte(seed);
  for (int i = 0; i < len; ++i) buf[i] = static_cast<uint8_t>((buf[i] ^ k) + k);
}

void unscramble(uint8_t* buf, int len, uint8_t seed) {
  const uint8_t k = keyByte(seed);
  for (int i = 0; i < len; ++i) buf[i] = static_cast<uint8_t>(static_cast<uint8_t>(buf[i] - k) ^ k);
}

int base64EncodedSize(int n) {
  return (n + 2) / 3 * 4 + 1;
}

int base64DecodedSize(int n) {
  return static_cast<int>(static_cast<int64_t>(n) * 3 / 4);
}

}  // namespace

Value Data::encryptValue(const Value& v) {
  if (!v.isValid()) return v;
  const std::string text = v.write();
  const int n = static_cast<int>(text.size());
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[n + 1]);
  memcpy(bytes.get(), text.data(), text.size());
  scramble(bytes.get(), n, kDataSeed);
  const int codedSize = base64EncodedSize(n);
  std::unique_ptr<char[]> coded(new char[codedSize]);
  if (av_base64_encode(coded.get(), codedSize, bytes.get(), n) == nullptr) return Value();
  return Value(static_cast<const char*>(coded.get()));
}

// Text that is not Base64 decodes to an invalid value, as text that is not a
// text form does.
Value Data::decryptValue(const Value& v) {
  if (v.type() != Value::VT_STR) return v;
  const char* text = v.toString() != nullptr ? v.toString() : "";
  const int size = base64DecodedSize(static_cast<int>(strlen(text))) + 1;
  // One byte beyond the decoder's limit keeps room for the terminator.
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[size + 1]());
  const int m = av_base64_decode(bytes.get(), text, size);
  if (m < 0) return Value();
  bytes[m] = '\0';
  unscramble(bytes.get(), m, kDataSeed);
  Value decoded;
  decoded.read(reinterpret_cast<const char*>(bytes.get()));
  return decoded;
}

}  // namespace bg
