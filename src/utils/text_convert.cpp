// UTF-8 to wide text, and wide text to the system code page.
#include <cstdlib>
#include <cwchar>

#include "kqbridge/utils.h"
#include "platform/text.h"

namespace bg {

std::wstring utf8ToWString(const char* s) {
  int n = platform::utf8ToWideChars(s, nullptr, 0);
  if (n <= 1) return std::wstring();
  wchar_t* buf = static_cast<wchar_t*>(malloc(sizeof(wchar_t) * static_cast<size_t>(n)));
  if (buf == nullptr) return std::wstring();
  platform::utf8ToWideChars(s, buf, n);
  std::wstring out(buf);
  free(buf);
  return out;
}

wchar_t* utf8ToWide(const char* s, wchar_t* out, int outLen) {
  if (out != nullptr && outLen > 0) platform::utf8ToWideChars(s, out, outLen);
  return out;
}

std::string wideToAnsiString(const wchar_t* w) {
  if (w == nullptr) return std::string();
  int wlen = static_cast<int>(wcslen(w));
  int n = platform::wideToAnsiBytes(w, wlen, nullptr, 0);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  n = platform::wideToAnsiBytes(w, wlen, &out[0], n);
  out.resize(static_cast<size_t>(n));
  return out;
}

// Writes no terminator: callers hand in a zero-filled buffer.
char* wideToAnsi(const wchar_t* w, char* out, int outLen) {
  if (w != nullptr && out != nullptr && outLen > 0) {
    platform::wideToAnsiBytes(w, static_cast<int>(wcslen(w)), out, outLen);
  }
  return out;
}

}  // namespace bg
