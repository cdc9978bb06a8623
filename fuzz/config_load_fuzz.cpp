// A configuration file of any bytes loads; every entry it yields is one a
// saved file could hold: a non-empty key without ':' or line end and without
// trailing blanks, and a value without line end.
#include <kqbridge/config.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void checkEntry(const char* key, const char* value, void*) {
  size_t n = strlen(key);
  if (n == 0 || strpbrk(key, ":\n") != nullptr || strchr(" \t\r", key[n - 1]) != nullptr) abort();
  if (strchr(value, '\n') != nullptr) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/kq-config-fuzz-" + std::to_string(getpid()) + ".conf";
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  {
    bg::Config config(path.c_str());
    config.travell(checkEntry, nullptr);
  }
  unlink(path.c_str());
  return 0;
}
