// Value::read must take any text; what it accepts must write and read back
// to the same kind.
#include <kqbridge/value.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  bg::Value v;
  if (v.read(text.c_str()) && v.isValid()) {
    bg::Value again;
    again.read(v.write().c_str());
    if (again.type() != v.type()) abort();
  }
  bg::Value copy(v);
  copy.write();
  return 0;
}
