// bg::Utils: the table modules call; each slot forwards to the library routine.
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "kqbridge/utils.h"

namespace bg {

Abstract_Utils::~Abstract_Utils() = default;

Utils::Utils() = default;
Utils::~Utils() = default;

const char* Utils::getTimeStr(const char* fmt) {
  return bg::getTimeStr(fmt);
}
std::string Utils::formatTime(int64_t t, const char* fmt) {
  return bg::formatTime(t, fmt);
}
int64_t Utils::getTimeUs() {
  return bg::getTimeUs();
}
bool Utils::mkDir(const char* path) {
  return bg::mkDir(path);
}
bool Utils::rmDir(const char* path) {
  return bg::rmDir(path);
}
bool Utils::isDirExist(const char* path) {
  return bg::isDirExist(path);
}
std::string Utils::getTempDir() {
  return bg::getTempDir();
}
char* Utils::ltrim(char* s) {
  return bg::ltrim(s);
}
char* Utils::rtrim(char* s) {
  return bg::rtrim(s);
}

// Trims a copy through this object's own trim, so an override applies here too.
std::string Utils::trimString(const std::string& s) {
  char* copy = strdup(s.c_str());
  if (copy == nullptr) return std::string();
  std::string out(trim(copy));
  free(copy);
  return out;
}

char* Utils::trim(char* s) {
  return bg::trim(s);
}
char* Utils::ltrimChars(char* s, const char* set) {
  return bg::ltrimChars(s, set);
}
char* Utils::rtrimChars(char* s, const char* set) {
  return bg::rtrimChars(s, set);
}

std::string Utils::trimCharsString(const std::string& s, const char* set) {
  char* copy = strdup(s.c_str());
  if (copy == nullptr) return std::string();
  std::string out(trimChars(copy, set));
  free(copy);
  return out;
}

char* Utils::trimChars(char* s, const char* set) {
  return bg::trimChars(s, set);
}
bool Utils::startsWith(const char* s, const char* prefix, bool caseSensitive) {
  return bg::startsWith(s, prefix, caseSensitive);
}
bool Utils::endsWith(const char* s, const char* suffix, bool caseSensitive) {
  return bg::endsWith(s, suffix, caseSensitive);
}

std::string Utils::format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string out = bg::vformat(fmt, ap);
  va_end(ap);
  return out;
}

std::vector<std::string> Utils::split(const std::string& s, const char* delims, bool keepEmpty) {
  return bg::split(s, delims, keepEmpty);
}
char* Utils::toLower(char* s) {
  return bg::toLower(s);
}
char* Utils::toUpper(char* s) {
  return bg::toUpper(s);
}
std::string Utils::randomString(int len) {
  return bg::randomString(len);
}
int Utils::listDir(const char* dir, void (*callback)(void* user, const char* name), void* user, bool print) {
  return bg::listDir(dir, callback, user, print);
}
std::string Utils::normalizePath(const std::string& path) {
  return bg::normalizePath(path);
}
FILE* Utils::openFile(const char* path, const char* mode) {
  return bg::openFile(path, mode);
}
int Utils::removeFile(const char* path) {
  return bg::removeFile(path);
}
int64_t Utils::getFileSize(const char* path) {
  return bg::getFileSize(path);
}
FileStat Utils::getFileStat(const char* path) {
  return bg::getFileStat(path);
}
std::string Utils::getFileName(const char* path) {
  return bg::getFileName(path);
}
std::string Utils::getBaseName(const char* path) {
  return bg::getBaseName(path);
}
std::string Utils::getDirName(const char* path) {
  return bg::getDirName(path);
}
void Utils::showInExplorer(const char* path) {
  bg::showInExplorer(path);
}
bool Utils::isDirWritable(const char* dir, const char* probeName) {
  return bg::isDirWritable(dir, probeName);
}
std::wstring Utils::utf8ToWString(const char* s) {
  return bg::utf8ToWString(s);
}
wchar_t* Utils::utf8ToWide(const char* s, wchar_t* out, int outLen) {
  return bg::utf8ToWide(s, out, outLen);
}
std::string Utils::wideToAnsiString(const wchar_t* w) {
  return bg::wideToAnsiString(w);
}
char* Utils::wideToAnsi(const wchar_t* w, char* out, int outLen) {
  return bg::wideToAnsi(w, out, outLen);
}
int Utils::setEnv(const char* name, const char* value, int overwrite) {
  return bg::setEnv(name, value, overwrite);
}
char* Utils::getEnv(const char* name) {
  return bg::getEnv(name);
}
int Utils::setEnvPtr(const char* name, void* p) {
  return bg::setEnvPtr(name, p);
}
void Utils::getEnvPtr(const char* name, void** out) {
  bg::getEnvPtr(name, out);
}

}  // namespace bg
