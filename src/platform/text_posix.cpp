#include <cstdint>

#include "platform/text.h"

namespace bg {
namespace platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// Decodes one character at `s` (not at its terminator) and advances `s`.
// A malformed sequence yields U+FFFD and skips only its first byte, so the
// next character still decodes.
char32_t decodeOne(const unsigned char*& s) {
  unsigned char c = *s;
  if (c < 0x80) {
    ++s;
    return c;
  }
  int extra;
  char32_t cp;
  char32_t min;
  if ((c & 0xE0) == 0xC0) {
    extra = 1, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3, cp = c & 0x07, min = 0x10000;
  } else {
    ++s;
    return kReplacement;
  }
  for (int i = 1; i <= extra; ++i) {
    if (!isContinuation(s[i])) {
      ++s;
      return kReplacement;
    }
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++s;
    return kReplacement;
  }
  s += extra + 1;
  return cp;
}

// UTF-8 bytes of one wide character into `buf` (4 bytes); returns the count.
int encodeOne(wchar_t w, char* buf) {
  // A negative wchar_t is no character: it wraps above 0x10FFFF and is replaced.
  uint32_t cp = static_cast<uint32_t>(w);  // NOLINT(bugprone-signed-char-misuse)
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    buf[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    buf[0] = static_cast<char>(0xC0 | (cp >> 6));
    buf[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    buf[0] = static_cast<char>(0xE0 | (cp >> 12));
    buf[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    buf[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  buf[0] = static_cast<char>(0xF0 | (cp >> 18));
  buf[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  buf[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  buf[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

}  // namespace

int utf8ToWideChars(const char* s, wchar_t* out, int outLen) {
  if (s == nullptr || outLen < 0 || (outLen > 0 && out == nullptr)) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
  int n = 0;
  while (*p != '\0') {
    char32_t cp = decodeOne(p);
    if (outLen > 0) {
      if (n == outLen) return 0;
      out[n] = static_cast<wchar_t>(cp);
    }
    ++n;
  }
  if (outLen > 0) {
    if (n == outLen) return 0;
    out[n] = L'\0';
  }
  return n + 1;
}

int wideToAnsiBytes(const wchar_t* w, int wlen, char* out, int outLen) {
  if (w == nullptr || wlen < 1 || outLen < 0 || (outLen > 0 && out == nullptr)) return 0;
  int n = 0;
  char buf[4];
  for (int i = 0; i < wlen; ++i) {
    int len = encodeOne(w[i], buf);
    if (outLen > 0) {
      if (len > outLen - n) return 0;
      for (int j = 0; j < len; ++j) out[n + j] = buf[j];
    }
    n += len;
  }
  return n;
}

std::string wideToUtf8(const wchar_t* w) {
  std::string out;
  if (w == nullptr) return out;
  char buf[4];
  for (; *w != L'\0'; ++w) out.append(buf, static_cast<size_t>(encodeOne(*w, buf)));
  return out;
}

}  // namespace platform
}  // namespace bg
