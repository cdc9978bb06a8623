// bg::Value: payload bits, text storage, ownership and argument vectors.
#include <gtest/gtest.h>
#include <kqbridge/value.h>

#include <cstring>
#include <string>

namespace {

using bg::Value;

// Reaches the protected setters and copyValue as a derived class would.
class ProbeValue : public Value {
 public:
  using Value::copyValue;
  using Value::seti;
  using Value::setstr;
};

std::vector<std::string> argvOf(const Value& v) {
  char** a = nullptr;
  int n = v.get_argv(&a);
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(a[i] == nullptr ? "<nullptr>" : a[i]);
  return out;
}

TEST(Value, ScalarConstructorsSetKindAndClearTheUpperPayload) {
  EXPECT_EQ(Value(true).type(), Value::VT_BOOL);
  EXPECT_EQ(Value(7).type(), Value::VT_INT);
  EXPECT_EQ(Value(7u).type(), Value::VT_UINT);
  EXPECT_EQ(Value(1.5f).type(), Value::VT_FLOAT);
  EXPECT_EQ(Value(2.5).type(), Value::VT_DOUBLE);
  EXPECT_EQ(Value(static_cast<void*>(nullptr)).type(), Value::VT_VOID);
  EXPECT_EQ(Value(5LL).type(), Value::VT_INT64);
  EXPECT_EQ(Value(int64_t{5}).type(), Value::VT_INT64);

  // A 4-byte scalar leaves the rest of the first 8 bytes zero.
  EXPECT_EQ(Value(-1).toInt64(), 4294967295LL);
  EXPECT_EQ(Value(true).toInt64(), 1);
  // Accessors read the bits without converting.
  float f = 1.5f;
  int bits;
  memcpy(&bits, &f, sizeof(bits));
  EXPECT_EQ(Value(1.5f).toInt(), bits);
  EXPECT_EQ(Value(-2).toUInt(), 4294967294u);
  int x = 0;
  EXPECT_EQ(Value(static_cast<void*>(&x)).toVoid(), &x);
  EXPECT_EQ(Value(0x123456789abLL).toInt64(), 0x123456789abLL);
  EXPECT_DOUBLE_EQ(Value(0.25).toDouble(), 0.25);
  EXPECT_TRUE(Value(true).toBool());
  EXPECT_FALSE(Value(false).toBool());
}

TEST(Value, StringsAreStoredWithRoundedCapacity) {
  Value three("abc");
  EXPECT_EQ(three.type(), Value::VT_STR);
  EXPECT_EQ(three.get_nbytes(), 32);
  EXPECT_EQ(three.toStdString(), "abc");
  Value forty(std::string(40, 'x'));
  EXPECT_EQ(forty.get_nbytes(), 64);
  EXPECT_EQ(forty.toStdString(), std::string(40, 'x'));
  // A std::string ends at its first NUL.
  EXPECT_EQ(Value(std::string("ab\0cd", 5)).toStdString(), "ab");
  // Non-string kinds have no text rendering.
  EXPECT_EQ(Value(12).toStdString(), "");
  EXPECT_EQ(Value(12).toString(), nullptr);
}

TEST(Value, SetFormatsIntoRoundedCapacityAndKeepsTheKind) {
  Value v(5);
  EXPECT_TRUE(v.set(4, "%d", 123456));
  EXPECT_EQ(v.get_nbytes(), 32);
  EXPECT_STREQ(v.toString(), "123456");
  EXPECT_EQ(v.type(), Value::VT_INT);
  EXPECT_EQ(v.toInt(), 5);

  std::string fifty(50, 'q');
  EXPECT_TRUE(v.set(1, "%s", fifty.c_str()));
  EXPECT_EQ(v.toStdString(), std::string(31, 'q'));
  EXPECT_TRUE(v.set(33, "x"));
  EXPECT_EQ(v.get_nbytes(), 64);
  // A size below 1 still leaves room for a terminated text.
  EXPECT_TRUE(v.set(0, "%s", "abc"));
  EXPECT_EQ(v.get_nbytes(), 32);
  EXPECT_STREQ(v.toString(), "abc");
  // Formatting from the value's own text is safe.
  EXPECT_TRUE(v.set(64, "%s-%s", v.toString(), v.toString()));
  EXPECT_STREQ(v.toString(), "abc-abc");
}

TEST(Value, GetScansTheStoredText) {
  Value v("12 34");
  int a = 0, b = 0;
  EXPECT_EQ(v.get("%d %d", &a, &b), v.toString());
  EXPECT_EQ(a, 12);
  EXPECT_EQ(b, 34);
  EXPECT_EQ(Value(3).get("%d", &a), nullptr);
  EXPECT_EQ(v.get(nullptr), v.toString());
  // Raw bytes without a terminator are scanned within their size only.
  Value raw;
  raw.set_bytes("77777", 2);
  a = 0;
  raw.get("%d", &a);
  EXPECT_EQ(a, 77);
}

TEST(Value, SetBytesStoresExactlyAndKeepsTheKind) {
  Value v(9);
  const char data[] = {'a', '\0', 'b'};
  EXPECT_TRUE(v.set_bytes(data, 3));
  EXPECT_EQ(v.type(), Value::VT_INT);
  EXPECT_EQ(v.get_nbytes(), 3);
  EXPECT_EQ(memcmp(v.get_bytes(), data, 3), 0);
  EXPECT_EQ(v.toString(), v.get_bytes());
  EXPECT_FALSE(v.set_bytes(nullptr, 3));
  EXPECT_EQ(v.get_nbytes(), 3);
  // Bytes with no NUL are never read past their size.
  EXPECT_TRUE(v.set_bytes("xyz", 3));
  EXPECT_EQ(v.toStdString(), "xyz");
}

TEST(Value, ErrorValuesCarryTheirMessage) {
  EXPECT_STREQ(Value().errorMsg(), "<invalid>");
  Value e = Value::ErrorValue("disk full");
  EXPECT_FALSE(e.isValid());
  EXPECT_STREQ(e.errorMsg(), "disk full");
  EXPECT_STREQ(Value(1).errorMsg(), "<no err>");
  EXPECT_STREQ(Value("text").errorMsg(), "<no err>");

  Value v(42);
  v.setErrorMsg(nullptr);
  EXPECT_FALSE(v.isValid());
  EXPECT_EQ(v.toInt(), 0);
  EXPECT_STREQ(v.errorMsg(), "<invalid>");
  // A message taken from the value itself survives the release.
  Value self = Value::ErrorValue("again");
  self.setErrorMsg(self.errorMsg());
  EXPECT_STREQ(self.errorMsg(), "again");
}

TEST(Value, CopiesAreDeepAndIndependent) {
  const char* args[] = {" one ", "two"};
  Value* original = new Value(2, args);
  original->set_bytes("raw", 3);
  Value copy(*original);
  Value assigned;
  assigned = *original;
  delete original;
  EXPECT_EQ(argvOf(copy), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(argvOf(assigned), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(std::string(copy.get_bytes(), 3), "raw");

  Value s("hello");
  Value t(5);
  t = s;
  s.set(8, "%s", "changed");
  EXPECT_EQ(t.type(), Value::VT_STR);
  EXPECT_EQ(t.toStdString(), "hello");
  t = t;
  EXPECT_EQ(t.toStdString(), "hello");

  // All 32 payload bytes travel with a copy.
  ProbeValue p;
  p.seti(77);
  ProbeValue q;
  q.copyValue(&p);
  EXPECT_EQ(q.toInt(), 77);
}

TEST(Value, ArgumentVectorsTrimEntriesAndKeepNulls) {
  const char* args[] = {" x ", nullptr, "\t\r\n", "  a b  "};
  Value v;
  EXPECT_EQ(v.set_argv(4, args), 4);
  EXPECT_EQ(v.type(), Value::VT_ARGV);
  EXPECT_EQ(argvOf(v), (std::vector<std::string>{"x", "<nullptr>", "", "a b"}));

  EXPECT_EQ(v.set_argv(0, args), 0);
  EXPECT_FALSE(v.isValid());
  EXPECT_EQ(v.get_argv(nullptr), 0);

  Value w(1, args);
  w.clear_argv();
  char** out = reinterpret_cast<char**>(&w);
  EXPECT_EQ(w.get_argv(&out), 0);
  EXPECT_EQ(out, nullptr);
  EXPECT_FALSE(w.isValid());

  // clear_argv on a value without a vector keeps its kind.
  Value i(3);
  i.clear_argv();
  EXPECT_EQ(i.type(), Value::VT_INT);
  EXPECT_EQ(Value(0, args).type(), Value::VT_INVALID);

  // The value's own array may be passed back in.
  char** own = nullptr;
  Value again(2, args);
  int n = again.get_argv(&own);
  EXPECT_EQ(again.set_argv(n, const_cast<const char**>(own)), 2);
  EXPECT_EQ(argvOf(again), (std::vector<std::string>{"x", "<nullptr>"}));
}

TEST(Value, ArgumentLinesSplitAtLineFeeds) {
  Value v;
  EXPECT_TRUE(v.set_argv_line("a\n\n b \r\nc"));
  EXPECT_EQ(argvOf(v), (std::vector<std::string>{"a", "b", "c"}));
  // A line of blanks is a piece; trimmed, it is empty.
  EXPECT_TRUE(v.set_argv_line("a\n \nb"));
  EXPECT_EQ(argvOf(v), (std::vector<std::string>{"a", "", "b"}));
  // A run of LFs is one separator; a blank line is a piece of its own.
  EXPECT_TRUE(v.set_argv_line("a\n\nb\n\n\nc\n"));
  EXPECT_EQ(argvOf(v), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(v.set_argv_line("two words"));
  EXPECT_EQ(argvOf(v), (std::vector<std::string>{"two words"}));

  Value keep;
  keep.set_argv_line("p\nq");
  EXPECT_FALSE(keep.set_argv_line("x"));
  EXPECT_FALSE(keep.set_argv_line(nullptr));
  EXPECT_EQ(argvOf(keep), (std::vector<std::string>{"p", "q"}));
  EXPECT_FALSE(keep.set_argv_line("\n\n\n"));
  EXPECT_EQ(keep.get_argv(nullptr), 0);
}

}  // namespace
