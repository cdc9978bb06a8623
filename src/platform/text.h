// Conversions between UTF-8, the platform's wchar_t text and the system
// ("ANSI") code page, with the buffer rules of the Windows conversion calls.
// On POSIX wchar_t holds UTF-32 and the system code page is UTF-8.
#ifndef KQBRIDGE_PLATFORM_TEXT_H_
#define KQBRIDGE_PLATFORM_TEXT_H_

#include <string>

namespace bg {
namespace platform {

// Decodes the NUL-terminated UTF-8 text `s`, terminator included. With
// `outLen` 0 returns the number of wide characters needed; otherwise writes
// whole characters while they fit and returns the count written, or 0 when
// the terminator did not fit. Malformed bytes decode to U+FFFD.
int utf8ToWideChars(const char* s, wchar_t* out, int outLen);

// Encodes `wlen` wide characters (no terminator is added) into the system
// code page. With `outLen` 0 returns the number of bytes needed; otherwise
// writes whole characters while they fit and returns the count written, or 0
// when not all of them fit. Values that are no character encode as U+FFFD.
int wideToAnsiBytes(const wchar_t* w, int wlen, char* out, int outLen);

// The UTF-8 text of a NUL-terminated wide string (empty for null).
std::string wideToUtf8(const wchar_t* w);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_TEXT_H_
