// The path the file routines retry with when the narrow call failed.
#ifndef KQBRIDGE_UTILS_WIDE_PATH_H_
#define KQBRIDGE_UTILS_WIDE_PATH_H_

#include "platform/text.h"

namespace bg {

// `path` decoded from UTF-8 into 512 wide characters, terminator included.
// A path that does not fit gives no wide path at all (ok() false) rather
// than a cut one that could name another file.
class WidePath {
 public:
  explicit WidePath(const char* path) : m_ok(platform::utf8ToWideChars(path, m_text, kLength) > 0) {}
  bool ok() const { return m_ok; }
  const wchar_t* c_str() const { return m_text; }

 private:
  static constexpr int kLength = 512;
  wchar_t m_text[kLength];
  bool m_ok;
};

}  // namespace bg

#endif  // KQBRIDGE_UTILS_WIDE_PATH_H_
