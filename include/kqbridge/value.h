// bg::Value: the tagged variant that crosses every interface of the library.
#ifndef KQBRIDGE_VALUE_H_
#define KQBRIDGE_VALUE_H_

#include <cstdint>
#include <string>

#include "kqbridge/export.h"

namespace bg {

// One scalar, a string, raw bytes or an argument vector; an invalid value may
// carry an error message. Accessors read the stored bits without looking at
// the kind; all owned memory comes from malloc and goes back with free. A
// plain value type: distinct Values may be used on distinct threads, one
// Value by one thread at a time (or under the caller's lock).
class KQ_EXPORT Value {
 public:
  enum VT : int16_t {
    VT_INVALID = 0,
    VT_MAP = 1,
    VT_INT = 2,
    VT_UINT = 3,
    VT_FLOAT = 4,
    VT_DOUBLE = 5,
    VT_VOID = 6,
    VT_INT64 = 7,
    VT_STR = 8,
    VT_BOOL = 9,
    VT_ARGV = 10,
  };

  Value();
  Value(bool v);
  Value(int v);
  Value(unsigned int v);
  Value(float v);
  Value(double v);
  Value(void* v);
  Value(long long v);
  // A 64-bit `long` (int64_t on LP64 systems) would otherwise be ambiguous
  // between the scalar constructors; it is stored as VT_INT64 (VT_INT where
  // long has 32 bits).
  Value(long v);
  // VT_STR holding a copy of `s`, which must not be null.
  Value(const char* s);
  // VT_STR holding the characters of `s` up to its first NUL.
  Value(const std::string& s);
  // VT_ARGV when argc >= 1 (entries trimmed, null entries kept), else invalid.
  Value(int argc, const char** argv);
  Value(const Value& o);
  virtual ~Value();

  // Text form: "[i]42", "[str]text", "<variant>message", "<null>", ...
  virtual std::string write() const;
  // Replaces the whole content with what `text` says; see the text form.
  virtual bool read(const char* text);

  Value& operator=(const Value& o);

  // An invalid value whose errorMsg() is `msg`.
  static Value ErrorValue(const char* msg);

  // "<no err>" for a valid value; the message of an error value; "<invalid>".
  const char* errorMsg() const;
  // Releases the content and makes the value invalid, carrying `msg` if given.
  void setErrorMsg(const char* msg);
  bool isValid() const;
  VT type() const;

  // printf-style text into a fresh m_bytes of `size` rounded up to 32; the
  // kind is not changed. False when the allocation failed.
  bool set(int size, const char* fmt, ...) KQ_PRINTF_FORMAT(3, 4);
  // sscanf of m_bytes into the given pointers; returns m_bytes (null if none).
  char* get(const char* fmt, ...) const KQ_SCANF_FORMAT(2, 3);
  // Exactly `n` bytes copied into m_bytes, no terminator added; kind unchanged.
  bool set_bytes(const char* data, int n);
  char* get_bytes() const;
  char* toString();
  const char* toString() const;
  int get_nbytes() const;
  // The NUL-terminated text at m_bytes, or "" (not a rendering of a number).
  std::string toStdString() const;

  bool toBool() const;
  int toInt() const;
  unsigned int toUInt() const;
  void* toVoid() const;
  float toFloat() const;
  double toDouble() const;
  long long toInt64() const;

  // Argument vector: entries are trimmed of blanks, tabs, CRs and LFs.
  int set_argv(int argc, const char** argv);
  // Stores the owned array through `out` (not a copy) and returns its count.
  int get_argv(char*** out) const;
  void clear_argv();
  // One argument per non-empty line; false when `line` is null or shorter
  // than 2 characters, or no line holds anything.
  bool set_argv_line(const char* line);

 protected:
  // Deep copy from `o` into fields that hold nothing yet.
  void copyValue(const Value* o);
  // Clears every field without releasing anything.
  void zero();

  void setb(bool v);
  void seti(int v);
  void setu(unsigned int v);
  void setv(void* v);
  void setf(float v);
  void setd(double v);
  void seti64(long long v);
  void setstr(const char* s);

  union Payload {
    bool b;
    int i;
    unsigned int u;
    float f;
    double d;
    void* v;
    long long ll;
    unsigned char raw[32];
  };

  static_assert(sizeof(Payload) == 32, "the payload is 32 bytes wide");

  Payload m_val;
  VT m_type;
  char* m_bytes;
  int m_nbytes;
  char** m_argv;
  int m_argc;

 private:
  // Releases m_bytes and the argument vector and clears every field.
  void release();
};

static_assert(sizeof(Value::VT) == 2, "the kind is stored in 16 bits");
static_assert(sizeof(void*) != 8 || sizeof(Value) == 80, "64-bit layout of Value");
#if defined(__i386__) && defined(__GNUC__)
// 32-bit Windows aligns the 64-bit payload members to 8 bytes, the i386
// System V convention to 4.
#if defined(_WIN32)
static_assert(sizeof(Value) == 64, "32-bit Windows layout of Value");
#else
static_assert(sizeof(Value) == 56, "i386 layout of Value");
#endif
#endif

}  // namespace bg

#endif  // KQBRIDGE_VALUE_H_
