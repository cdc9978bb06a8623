// The admin endpoint's request decoder takes whatever a client sends: it
// decodes, or refuses with one line saying why, never throws, and what it
// accepts holds every field within its bounds.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "admin/admin_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  bg::AdminRequest request;
  std::string error;
  bool decoded = bg::decodeAdminRequest(bytes, &request, &error);
  if (decoded != error.empty() || error.find('\n') != std::string::npos) abort();
  if (decoded && (request.from < 0 || request.max < 1 || request.max > bg::kMaxLogChunk)) abort();
  return 0;
}
