// The encoded store form of a Value: its text form, scrambled with a fixed
// seed byte, then Base64-coded into a VT_STR value.
#include <cstring>
#include <memory>

#include "kqbridge/crypt.h"
#include "kqbridge/data.h"

namespace bg {

namespace {

// The one seed byte both directions use; changing it makes every stored
// encoded value unreadable.
const uint8_t kDataSeed = 0x6B;

}  // namespace

Value Data::encryptValue(const Value& v) {
  if (!v.isValid()) return v;
  const std::string text = v.write();
  const int n = static_cast<int>(text.size());
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[n + 1]);
  memcpy(bytes.get(), text.data(), text.size());
  Crypt crypt;
  crypt.scramble(bytes.get(), n, kDataSeed);
  const int codedSize = crypt.base64EncodedSize(n);
  std::unique_ptr<char[]> coded(new char[codedSize]);
  if (crypt.base64Encode(coded.get(), codedSize, bytes.get(), n) == nullptr) return Value();
  return Value(static_cast<const char*>(coded.get()));
}

// Text that is not Base64 decodes to an invalid value, as text that is not a
// text form does.
Value Data::decryptValue(const Value& v) {
  if (v.type() != Value::VT_STR) return v;
  const char* text = v.toString() != nullptr ? v.toString() : "";
  Crypt crypt;
  const int size = crypt.base64DecodedSize(static_cast<int>(strlen(text))) + 1;
  // One byte beyond the decoder's limit keeps room for the terminator.
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[size + 1]());
  const int m = crypt.base64Decode(bytes.get(), text, size);
  if (m < 0) return Value();
  bytes[m] = '\0';
  crypt.unscramble(bytes.get(), m, kDataSeed);
  Value decoded;
  decoded.read(reinterpret_cast<const char*>(bytes.get()));
  return decoded;
}

}  // namespace bg
