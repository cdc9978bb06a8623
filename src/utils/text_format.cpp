// Formatting, splitting and random text.
#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kqbridge/utils.h"

namespace bg {

namespace {

// Makes two randomString calls within one microsecond seed differently.
std::atomic<uint32_t> g_randomCalls{0};

const char kRandomAlphabet[] = "1234567890abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

}  // namespace

std::string vformat(const char* fmt, va_list ap) {
  if (fmt == nullptr) return std::string();
  va_list measure;
  va_copy(measure, ap);
  int len = vsnprintf(nullptr, 0, fmt, measure);
  va_end(measure);
  if (len < 0) return std::string();
  char* buf = static_cast<char*>(malloc(static_cast<size_t>(len) + 1));
  if (buf == nullptr) return std::string();
  vsnprintf(buf, static_cast<size_t>(len) + 1, fmt, ap);
  std::string out(buf, static_cast<size_t>(len));
  free(buf);
  return out;
}

std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string out = vformat(fmt, ap);
  va_end(ap);
  return out;
}

// Tokens are the runs between delimiters, up to the first NUL of `s`.
// With keepEmpty, each delimiter beyond the first between two tokens stands
// for one empty token; delimiters before the first token or after the last
// stand for nothing.
std::vector<std::string> split(const std::string& s, const char* delims, bool keepEmpty) {
  std::vector<std::string> out;
  if (delims == nullptr || *delims == '\0') {
    out.push_back(s);
    return out;
  }
  bool isDelim[256] = {};
  for (const unsigned char* d = reinterpret_cast<const unsigned char*>(delims); *d != '\0'; ++d)
    isDelim[*d] = true;
  const char* p = s.c_str();
  const char* end = p + strlen(p);
  bool first = true;
  while (p < end) {
    const char* gap = p;
    while (p < end && isDelim[static_cast<unsigned char>(*p)]) ++p;
    if (p == end) break;
    if (keepEmpty && !first) {
      for (std::ptrdiff_t i = 1; i < p - gap; ++i) out.emplace_back();
    }
    const char* token = p;
    while (p < end && !isDelim[static_cast<unsigned char>(*p)]) ++p;
    out.emplace_back(token, static_cast<size_t>(p - token));
    first = false;
  }
  return out;
}

std::string randomString(int len) {
  if (len <= 0) return std::string();
  char* buf = static_cast<char*>(malloc(static_cast<size_t>(len) + 1));
  if (buf == nullptr) return std::string();
  srand(static_cast<unsigned>(getTimeUs() + g_randomCalls.fetch_add(1)));
  for (int i = 0; i < len; ++i) buf[i] = kRandomAlphabet[rand() % 62];
  buf[len] = '\0';
  std::string out(buf, static_cast<size_t>(len));
  free(buf);
  return out;
}

}  // namespace bg
