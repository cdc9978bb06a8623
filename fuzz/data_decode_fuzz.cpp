// The encoded store form is read from outside (App's encoded store): any text
// decodes without harm, and what decodes encodes and decodes to the same.
#include <kqbridge/data.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bg::Data store;
  std::string text(reinterpret_cast<const char*>(data), size);
  bg::Value decoded = store.decryptValue(bg::Value(text.c_str()));
  if (decoded.isValid() && decoded.type() != bg::Value::VT_ARGV) {
    bg::Value again = store.decryptValue(store.encryptValue(decoded));
    if (again.write() != decoded.write()) abort();
  }
  return 0;
}
