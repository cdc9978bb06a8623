#include <windows.h>

#include <climits>

#include "platform/text.h"

namespace bg {
namespace platform {

// The system's own conversions: malformed UTF-8 becomes U+FFFD, and the
// system code page is whatever the user's locale chose.
int utf8ToWideChars(const char* s, wchar_t* out, int outLen) {
  if (s == nullptr) return 0;
  return MultiByteToWideChar(CP_UTF8, 0, s, -1, out, outLen);
}

int wideToAnsiBytes(const wchar_t* w, int wlen, char* out, int outLen) {
  if (w == nullptr || wlen <= 0) return 0;
  return WideCharToMultiByte(CP_ACP, 0, w, wlen, out, outLen, nullptr, nullptr);
}

std::string wideToUtf8(const wchar_t* w) {
  if (w == nullptr || *w == L'\0') return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, -1, &out[0], n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

}  // namespace platform
}  // namespace bg
