// Trimming, affix tests and case mapping on C strings, in place.
#include <cctype>
#include <cstring>

#include "kqbridge/utils.h"

namespace bg {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool inSet(char c, const char* set) {
  return c != '\0' && strchr(set, c) != nullptr;
}

char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Affixes compare without regard to ASCII case, whatever the locale.
bool sameIgnoringCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

bool sameAffix(const char* a, const char* b, size_t n, bool caseSensitive) {
  return caseSensitive ? strncmp(a, b, n) == 0 : sameIgnoringCase(a, b, n);
}

}  // namespace

char* ltrim(char* s) {
  if (s == nullptr) return nullptr;
  while (isBlank(*s)) ++s;
  return s;
}

// The first character is never examined: a string of blanks keeps one.
char* rtrim(char* s) {
  if (s == nullptr) return nullptr;
  size_t n = strlen(s);
  if (n < 2) return s;
  char* p = s + n - 1;
  while (p > s && isBlank(*p)) --p;
  p[1] = '\0';
  return s;
}

char* trim(char* s) {
  return ltrim(rtrim(s));
}

char* ltrimChars(char* s, const char* set) {
  if (s == nullptr || set == nullptr) return s;
  while (inSet(*s, set)) ++s;
  return s;
}

char* rtrimChars(char* s, const char* set) {
  if (s == nullptr || set == nullptr) return s;
  size_t n = strlen(s);
  if (n < 2) return s;
  for (char* p = s + n - 1; p > s && inSet(*p, set); --p) *p = '\0';
  return s;
}

char* trimChars(char* s, const char* set) {
  return ltrimChars(rtrimChars(s, set), set);
}

bool startsWith(const char* s, const char* prefix, bool caseSensitive) {
  if (s == nullptr || prefix == nullptr) return false;
  size_t n = strlen(prefix);
  if (strlen(s) < n) return false;
  return sameAffix(s, prefix, n, caseSensitive);
}

bool endsWith(const char* s, const char* suffix, bool caseSensitive) {
  if (s == nullptr || suffix == nullptr) return false;
  size_t n = strlen(suffix);
  size_t len = strlen(s);
  if (len < n) return false;
  const char* tail = s + len - n;
  return sameAffix(tail, suffix, n, caseSensitive);
}

char* toLower(char* s) {
  if (s == nullptr) return nullptr;
  for (char* p = s; *p != '\0'; ++p) *p = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
  return s;
}

char* toUpper(char* s) {
  if (s == nullptr) return nullptr;
  for (char* p = s; *p != '\0'; ++p) *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
  return s;
}

}  // namespace bg
