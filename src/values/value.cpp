#include "kqbridge/value.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace bg {

namespace {

bool isArgBlank(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// Trailing blanks are cut (never the first character), then leading ones skipped.
char* dupTrimmed(const char* s) {
  size_t end = strlen(s);
  while (end > 1 && isArgBlank(s[end - 1])) --end;
  size_t start = 0;
  while (start < end && isArgBlank(s[start])) ++start;
  char* copy = static_cast<char*>(malloc(end - start + 1));
  if (copy == nullptr) return nullptr;
  memcpy(copy, s + start, end - start);
  copy[end - start] = '\0';
  return copy;
}

// Text at `bytes` up to its NUL, never past `n` bytes (raw bytes may hold no NUL).
size_t boundedLen(const char* bytes, int n) {
  return n > 0 ? strnlen(bytes, static_cast<size_t>(n)) : strlen(bytes);
}

}  // namespace

Value::Value() {
  memset(m_val.raw, 0, sizeof(m_val.raw));
  zero();
}

Value::Value(bool v) : Value() {
  m_type = VT_BOOL;
  setb(v);
}

Value::Value(int v) : Value() {
  m_type = VT_INT;
  seti(v);
}

Value::Value(unsigned int v) : Value() {
  m_type = VT_UINT;
  setu(v);
}

Value::Value(float v) : Value() {
  m_type = VT_FLOAT;
  setf(v);
}

Value::Value(double v) : Value() {
  m_type = VT_DOUBLE;
  setd(v);
}

Value::Value(void* v) : Value() {
  m_type = VT_VOID;
  setv(v);
}

Value::Value(long long v) : Value() {
  m_type = VT_INT64;
  seti64(v);
}

Value::Value(long v) : Value() {
  if (sizeof(long) == sizeof(long long)) {
    m_type = VT_INT64;
    seti64(v);
  } else {
    m_type = VT_INT;
    seti(static_cast<int>(v));
  }
}

// A null text is taken as a failed copy: a string value without text.
Value::Value(const char* s) : Value() {
  m_type = VT_STR;
  if (s != nullptr) setstr(s);
}

Value::Value(const std::string& s) : Value(s.c_str()) {}

Value::Value(int argc, const char** argv) : Value() {
  set_argv(argc, argv);
}

Value::Value(const Value& o) {
  zero();
  copyValue(&o);
}

Value::~Value() {
  release();
}

Value& Value::operator=(const Value& o) {
  if (&o == this) return *this;
  release();
  copyValue(&o);
  return *this;
}

Value Value::ErrorValue(const char* msg) {
  Value v;
  v.setErrorMsg(msg);
  return v;
}

void Value::release() {
  free(m_bytes);
  m_bytes = nullptr;
  m_nbytes = 0;
  clear_argv();
  memset(m_val.raw, 0, sizeof(m_val.raw));
  m_type = VT_INVALID;
}

void Value::copyValue(const Value* o) {
  if (o == this) return;
  zero();
  memcpy(m_val.raw, o->m_val.raw, sizeof(m_val.raw));
  m_type = o->m_type;
  if (o->m_bytes != nullptr && o->m_nbytes > 0) {
    m_bytes = static_cast<char*>(malloc(static_cast<size_t>(o->m_nbytes)));
    if (m_bytes == nullptr) {
      m_type = VT_INVALID;
    } else {
      memcpy(m_bytes, o->m_bytes, static_cast<size_t>(o->m_nbytes));
      m_nbytes = o->m_nbytes;
    }
  }
  if (o->m_argv != nullptr && o->m_argc > 0) set_argv(o->m_argc, const_cast<const char**>(o->m_argv));
}

void Value::zero() {
  m_bytes = nullptr;
  m_nbytes = 0;
  memset(m_val.raw, 0, 8);
  m_type = VT_INVALID;
  m_argc = 0;
  m_argv = nullptr;
}

const char* Value::errorMsg() const {
  if (m_type != VT_INVALID) return "<no err>";
  return m_bytes != nullptr ? m_bytes : "<invalid>";
}

void Value::setErrorMsg(const char* msg) {
  // The message may live in this value's own text.
  std::string copy = msg != nullptr ? std::string(msg) : std::string();
  release();
  if (msg != nullptr) set(static_cast<int>(copy.size()) + 1, "%s", copy.c_str());
}

bool Value::isValid() const {
  return m_type != VT_INVALID;
}

Value::VT Value::type() const {
  return m_type;
}

// A size below 1 would leave no room for the terminator; such a call gets the
// smallest capacity, 32, like a size of 1. The new buffer is formatted before
// the old one is released, so arguments may point into the old text.
bool Value::set(int size, const char* fmt, ...) {
  int capacity = ((size + 31) / 32) * 32;
  if (capacity < 32) capacity = 32;
  char* buf = static_cast<char*>(malloc(static_cast<size_t>(capacity)));
  if (buf == nullptr) {
    free(m_bytes);
    m_bytes = nullptr;
    return false;
  }
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, static_cast<size_t>(capacity), fmt, ap);
  va_end(ap);
  free(m_bytes);
  m_bytes = buf;
  m_nbytes = capacity;
  return true;
}

char* Value::get(const char* fmt, ...) const {
  if (m_bytes == nullptr) return nullptr;
  if (fmt == nullptr) return m_bytes;
  // Bytes stored by set_bytes need not hold a terminator.
  std::string text(m_bytes, boundedLen(m_bytes, m_nbytes));
  va_list ap;
  va_start(ap, fmt);
  vsscanf(text.c_str(), fmt, ap);
  va_end(ap);
  return m_bytes;
}

// A negative count is refused like a null pointer: nothing changes.
bool Value::set_bytes(const char* data, int n) {
  if (data == nullptr || n < 0) return false;
  free(m_bytes);
  m_bytes = static_cast<char*>(malloc(n > 0 ? static_cast<size_t>(n) : 1));
  if (m_bytes == nullptr) return false;
  memcpy(m_bytes, data, static_cast<size_t>(n));
  m_nbytes = n;
  return true;
}

char* Value::get_bytes() const {
  return m_bytes;
}

char* Value::toString() {
  return m_bytes;
}

const char* Value::toString() const {
  return m_bytes;
}

int Value::get_nbytes() const {
  return m_nbytes;
}

std::string Value::toStdString() const {
  if (m_bytes == nullptr) return std::string();
  return std::string(m_bytes, boundedLen(m_bytes, m_nbytes));
}

bool Value::toBool() const {
  return m_val.raw[0] != 0;
}

int Value::toInt() const {
  int v;
  memcpy(&v, m_val.raw, sizeof(v));
  return v;
}

unsigned int Value::toUInt() const {
  unsigned int v;
  memcpy(&v, m_val.raw, sizeof(v));
  return v;
}

void* Value::toVoid() const {
  void* v;
  memcpy(&v, m_val.raw, sizeof(v));
  return v;
}

float Value::toFloat() const {
  float v;
  memcpy(&v, m_val.raw, sizeof(v));
  return v;
}

double Value::toDouble() const {
  double v;
  memcpy(&v, m_val.raw, sizeof(v));
  return v;
}

long long Value::toInt64() const {
  long long v;
  memcpy(&v, m_val.raw, sizeof(v));
  return v;
}

void Value::setb(bool v) {
  m_val.raw[0] = v ? 1 : 0;
}
void Value::seti(int v) {
  memcpy(m_val.raw, &v, sizeof(v));
}
void Value::setu(unsigned int v) {
  memcpy(m_val.raw, &v, sizeof(v));
}
void Value::setv(void* v) {
  memcpy(m_val.raw, &v, sizeof(v));
}
void Value::setf(float v) {
  memcpy(m_val.raw, &v, sizeof(v));
}
void Value::setd(double v) {
  memcpy(m_val.raw, &v, sizeof(v));
}
void Value::seti64(long long v) {
  memcpy(m_val.raw, &v, sizeof(v));
}

void Value::setstr(const char* s) {
  set(static_cast<int>(strlen(s)) + 1, "%s", s);
}

// A failed allocation of the array leaves no vector (count 0) but the result
// is still argc. The new entries are made before the old vector is released,
// so `argv` may be this value's own array.
int Value::set_argv(int argc, const char** argv) {
  char** fresh = nullptr;
  if (argc >= 1) {
    fresh = static_cast<char**>(calloc(static_cast<size_t>(argc), sizeof(char*)));
    for (int i = 0; fresh != nullptr && argv != nullptr && i < argc; ++i) {
      if (argv[i] != nullptr) fresh[i] = dupTrimmed(argv[i]);
    }
  }
  clear_argv();
  if (argc < 1) return 0;
  m_type = VT_ARGV;
  if (fresh != nullptr) {
    m_argv = fresh;
    m_argc = argc;
  }
  return argc;
}

int Value::get_argv(char*** out) const {
  if (out != nullptr) *out = m_argv;
  return m_argc;
}

void Value::clear_argv() {
  if (m_argv == nullptr) {
    m_argc = 0;
    return;
  }
  for (int i = 0; i < m_argc; ++i) free(m_argv[i]);
  free(m_argv);
  m_argv = nullptr;
  m_argc = 0;
  m_type = VT_INVALID;
}

bool Value::set_argv_line(const char* line) {
  if (line == nullptr || strnlen(line, 2) < 2) return false;
  clear_argv();
  int maxPieces = 1;
  for (const char* p = line; *p != '\0'; ++p) {
    if (*p == '\n') ++maxPieces;
  }
  char* copy = strdup(line);
  const char** pieces = static_cast<const char**>(calloc(static_cast<size_t>(maxPieces), sizeof(char*)));
  int count = 0;
  if (copy != nullptr && pieces != nullptr) {
    char* save = nullptr;
    for (char* tok = strtok_r(copy, "\n", &save); tok != nullptr && count < maxPieces;
         tok = strtok_r(nullptr, "\n", &save)) {
      pieces[count++] = tok;
    }
    set_argv(count, pieces);
  }
  free(pieces);
  free(copy);
  return count > 0;
}

}  // namespace bg
