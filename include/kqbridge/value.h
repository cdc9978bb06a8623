/// \file
/// bg::Value: the tagged variant that crosses every interface of the library.
#ifndef KQBRIDGE_VALUE_H_
#define KQBRIDGE_VALUE_H_

#include <cstdint>
#include <string>

#include "kqbridge/export.h"

namespace bg {

/// One scalar, a string, raw bytes or an argument vector; an invalid value may
/// carry an error message. Accessors read the stored bits without looking at
/// the kind; all owned memory comes from malloc and goes back with free. A
/// plain value type: distinct Values may be used on distinct threads, one
/// Value by one thread at a time (or under the caller's lock).
class KQ_EXPORT Value {
 public:
  /// The kind of a value, stored in 16 bits.
  enum VT : int16_t {
    VT_INVALID = 0,  ///< no value; may carry an error message
    VT_MAP = 1,      ///< a bg::ValueMap
    VT_INT = 2,      ///< int
    VT_UINT = 3,     ///< unsigned int
    VT_FLOAT = 4,    ///< float
    VT_DOUBLE = 5,   ///< double
    VT_VOID = 6,     ///< a pointer, not owned
    VT_INT64 = 7,    ///< long long
    VT_STR = 8,      ///< text owned by the value
    VT_BOOL = 9,     ///< bool
    VT_ARGV = 10,    ///< an argument vector owned by the value
  };

  /// An invalid value without a message.
  Value();
  ///@{
  /// A value of the matching kind: VT_BOOL, VT_INT, VT_UINT, VT_FLOAT,
  /// VT_DOUBLE, VT_VOID (the pointer is not owned) or VT_INT64.
  Value(bool v);
  Value(int v);
  Value(unsigned int v);
  Value(float v);
  Value(double v);
  Value(void* v);
  Value(long long v);
  ///@}
  /// A 64-bit `long` (int64_t on LP64 systems) would otherwise be ambiguous
  /// between the scalar constructors; it is stored as VT_INT64 (VT_INT where
  /// long has 32 bits).
  Value(long v);
  /// VT_STR holding a copy of `s`, which must not be null.
  Value(const char* s);
  /// VT_STR holding the characters of `s` up to its first NUL.
  Value(const std::string& s);
  /// VT_ARGV when argc >= 1 (entries trimmed, null entries kept), else invalid.
  Value(int argc, const char** argv);
  /// A deep copy: text, bytes and argument vector are duplicated.
  Value(const Value& o);
  /// Frees what the value owns.
  virtual ~Value();

  /// Text form: "[i]42", "[str]text", "<variant>message", "<null>", ...
  virtual std::string write() const;
  /// Replaces the whole content with what `text` says; see the text form.
  virtual bool read(const char* text);

  /// Releases the content, then deep-copies `o`.
  Value& operator=(const Value& o);

  /// An invalid value whose errorMsg() is `msg`.
  static Value ErrorValue(const char* msg);

  /// "<no err>" for a valid value; the message of an error value; "<invalid>".
  const char* errorMsg() const;
  /// Releases the content and makes the value invalid, carrying `msg` if given.
  void setErrorMsg(const char* msg);
  /// Whether the kind is not VT_INVALID.
  bool isValid() const;
  /// The kind.
  VT type() const;

  /// printf-style text into a fresh m_bytes of `size` rounded up to 32; the
  /// kind is not changed. False when the allocation failed.
  bool set(int size, const char* fmt, ...) KQ_PRINTF_FORMAT(3, 4);
  /// sscanf of m_bytes into the given pointers; returns m_bytes (null if none).
  char* get(const char* fmt, ...) const KQ_SCANF_FORMAT(2, 3);
  /// Exactly `n` bytes copied into m_bytes, no terminator added; kind unchanged.
  bool set_bytes(const char* data, int n);
  ///@{
  /// The owned text or bytes, m_bytes (null when none); they belong to the
  /// value and last until its next change.
  char* get_bytes() const;
  char* toString();
  const char* toString() const;
  ///@}
  /// The size of m_bytes: the capacity set() allocated, or the count set_bytes() stored.
  int get_nbytes() const;
  /// The NUL-terminated text at m_bytes, or "" (not a rendering of a number).
  std::string toStdString() const;

  ///@{
  /// The stored bits read as the type asked for, whatever the kind.
  bool toBool() const;
  int toInt() const;
  unsigned int toUInt() const;
  void* toVoid() const;
  float toFloat() const;
  double toDouble() const;
  long long toInt64() const;
  ///@}

  /// Argument vector: entries are trimmed of blanks, tabs, CRs and LFs.
  int set_argv(int argc, const char** argv);
  /// Stores the owned array through `out` (not a copy) and returns its count.
  int get_argv(char*** out) const;
  /// Frees the argument vector; a value that held one becomes invalid.
  void clear_argv();
  /// One argument per non-empty line; false when `line` is null or shorter
  /// than 2 characters, or no line holds anything.
  bool set_argv_line(const char* line);

 protected:
  /// Deep copy from `o` into fields that hold nothing yet.
  void copyValue(const Value* o);
  /// Clears every field without releasing anything.
  void zero();

  ///@{
  /// Writes the payload's bits for one type; the kind and m_bytes are left as they are.
  void setb(bool v);
  void seti(int v);
  void setu(unsigned int v);
  void setv(void* v);
  void setf(float v);
  void setd(double v);
  void seti64(long long v);
  ///@}
  /// A copy of `s` (not null) into m_bytes; the kind is left as it is.
  void setstr(const char* s);

  /// The scalar payload: every kind reads its own member of the same bytes.
  union Payload {
    bool b;                 ///< VT_BOOL
    int i;                  ///< VT_INT
    unsigned int u;         ///< VT_UINT
    float f;                ///< VT_FLOAT
    double d;               ///< VT_DOUBLE
    void* v;                ///< VT_VOID
    long long ll;           ///< VT_INT64
    unsigned char raw[32];  ///< the whole payload
  };

  static_assert(sizeof(Payload) == 32, "the payload is 32 bytes wide");

  Payload m_val;  ///< the scalar
  VT m_type;      ///< the kind
  char* m_bytes;  ///< owned text, bytes or error message (malloc), or null
  int m_nbytes;   ///< size of m_bytes
  char** m_argv;  ///< owned argument vector, or null
  int m_argc;     ///< entries in m_argv

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
