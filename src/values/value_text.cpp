// The text form of a Value: "[tag]payload", "<variant>message" or "<null>".
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "kqbridge/value.h"

namespace bg {

namespace {

constexpr size_t kNumberBuf = 128;
constexpr size_t kMaxTag = 15;

std::string formatNumber(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string formatNumber(const char* fmt, ...) {
  char buf[kNumberBuf];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof(buf), fmt, ap);
  va_end(ap);
  return std::string(buf);
}

// The integer conversions of scanf ("%d", "%u", "%lld") are defined as the
// strto* subject sequence in base 10, stored into the narrower type; these
// give the same results without scanf's format interpretation.
bool scanInteger(const char* text, int* out) {
  char* end;
  long v = strtol(text, &end, 10);
  if (end == text) return false;
  *out = static_cast<int>(v);
  return true;
}

bool scanInteger(const char* text, unsigned int* out) {
  char* end;
  unsigned long v = strtoul(text, &end, 10);
  if (end == text) return false;
  *out = static_cast<unsigned int>(v);
  return true;
}

bool scanInteger(const char* text, long long* out) {
  char* end;
  long long v = strtoll(text, &end, 10);
  if (end == text) return false;
  *out = v;
  return true;
}

}  // namespace

// A string value without text (a failed allocation) is written as "[str]";
// a null entry of an argument vector as an empty line.
std::string Value::write() const {
  switch (m_type) {
    case VT_INT:
      return formatNumber("[i]%d", toInt());
    case VT_UINT:
      return formatNumber("[u]%d", toInt());
    case VT_FLOAT:
      return formatNumber("[f]%f", static_cast<double>(toFloat()));
    case VT_DOUBLE:
      return formatNumber("[d]%lf", toDouble());
    case VT_VOID:
      return formatNumber("[v]%p", toVoid());
    case VT_INT64:
      return formatNumber("[lld]%lld", toInt64());
    case VT_BOOL:
      return formatNumber("[b]%s", toBool() ? "true" : "false");
    case VT_STR:
      return "[str]" + toStdString();
    case VT_ARGV: {
      std::string out = "[argv]";
      for (int i = 0; i < m_argc; ++i) {
        if (i > 0) out += '\n';
        if (m_argv[i] != nullptr) out += m_argv[i];
      }
      return out;
    }
    default:
      return m_bytes != nullptr ? "<variant>" + toStdString() : std::string("<null>");
  }
}

// A tag longer than 15 characters, or an empty one ("[]..."), names no kind:
// the value stays invalid and the result is false.
bool Value::read(const char* text) {
  release();
  if (text == nullptr || strnlen(text, 4) < 4) return false;
  if (strncmp(text, "<variant>", 9) == 0) {
    const char* msg = text + 9;
    set(static_cast<int>(strlen(msg)) + 1, "%s", msg);
    return true;
  }
  const char* close = strchr(text, ']');
  if (close == nullptr || strncmp(text, "<null>", 6) == 0) return false;
  size_t tagLen = static_cast<size_t>(close - (text + 1));
  if (tagLen == 0 || tagLen > kMaxTag) return false;
  std::string_view tag(text + 1, tagLen);
  const char* payload = close + 1;

  if (tag == "i") {
    int v;
    if (scanInteger(payload, &v)) {
      m_type = VT_INT;
      seti(v);
    }
  } else if (tag == "u") {
    unsigned int v;
    if (scanInteger(payload, &v)) {
      m_type = VT_UINT;
      setu(v);
    }
  } else if (tag == "f") {
    float v;
    if (sscanf(payload, "%f", &v) == 1) {
      m_type = VT_FLOAT;
      setf(v);
    }
  } else if (tag == "d") {
    double v;
    if (sscanf(payload, "%lf", &v) == 1) {
      m_type = VT_DOUBLE;
      setd(v);
    }
  } else if (tag == "v") {
    void* v;
    if (sscanf(payload, "%p", &v) == 1) {
      m_type = VT_VOID;
      setv(v);
    }
  } else if (tag == "lld") {
    long long v;
    if (scanInteger(payload, &v)) {
      m_type = VT_INT64;
      seti64(v);
    }
  } else if (tag == "str") {
    m_type = VT_STR;
    setstr(payload);
  } else if (tag == "b") {
    m_type = VT_BOOL;
    setb(strcmp(payload, "true") == 0);
  } else if (tag == "argv") {
    m_type = VT_ARGV;
    return set_argv_line(payload);
  }
  return m_type != VT_INVALID;
}

}  // namespace bg
