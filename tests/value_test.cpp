// bg::Value and bg::ValueMap: payload bits, text storage, ownership,
// argument vectors, the text form and maps.
#include <gtest/gtest.h>
#include <kqbridge/value.h>
#include <kqbridge/value_map.h>

#include <cfloat>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

using bg::Value;
using bg::ValueMap;
using Texts = std::vector<std::string>;

Texts argvOf(const Value& v) {
  char** a = nullptr;
  int n = v.get_argv(&a);
  Texts out;
  for (int i = 0; i < n; ++i) out.push_back(a[i] == nullptr ? "<nullptr>" : a[i]);
  return out;
}

TEST(Value, TextEndsAtItsFirstNulBytesAreKeptExactlyAndNeitherIsReadPastItsEnd) {
  EXPECT_EQ(Value(std::string(40, 'x')).toStdString(), std::string(40, 'x'));
  EXPECT_EQ(Value(std::string("ab\0cd", 5)).toStdString(), "ab");

  Value v(5);
  EXPECT_TRUE(v.set(1, "%s", std::string(50, 'q').c_str()));
  EXPECT_EQ(v.toStdString(), std::string(31, 'q'));
  EXPECT_EQ(v.toInt(), 5);
  // Formatting from the value's own text is safe.
  EXPECT_TRUE(v.set(64, "%s-%s", v.toString(), v.toString()));
  EXPECT_EQ(v.toStdString(), std::string(31, 'q') + "-" + std::string(31, 'q'));
  Value b(9);
  const char data[] = {'a', '\0', 'b'};
  EXPECT_TRUE(b.set_bytes(data, 3));
  EXPECT_EQ(b.get_nbytes(), 3);
  EXPECT_EQ(memcmp(b.get_bytes(), data, 3), 0);
  b.set_bytes("77777", 2);
  EXPECT_FALSE(b.set_bytes(nullptr, 1) || b.set_bytes("x", -1)) << "refused, nothing changes";
  int a = 0;
  b.get("%d", &a);
  EXPECT_EQ(a, 77);
}

TEST(Value, ArgumentVectorsTrimEntriesKeepNullsTakeTheirOwnArrayAndCopyDeeply) {
  const char* args[] = {" x ", nullptr, "\t\r\n", "  a b  "};
  Value v;
  EXPECT_EQ(v.set_argv(4, args), 4);
  EXPECT_EQ(argvOf(v), (Texts{"x", "<nullptr>", "", "a b"}));
  char** own = nullptr;
  int n = v.get_argv(&own);
  EXPECT_EQ(v.set_argv(n, const_cast<const char**>(own)), 4);
  EXPECT_EQ(argvOf(v), (Texts{"x", "<nullptr>", "", "a b"}));

  const struct {
    const char* line;
    bool ok;
    Texts pieces;
  } lines[] = {
      {"a\n\n b \r\nc", true, {"a", "b", "c"}},
      {"a\n \nb", true, {"a", "", "b"}},
      {"two words", true, {"two words"}},
      {"x", false, {"p", "q"}},
      {"\n\n\n", false, {}},
      {nullptr, false, {"p", "q"}},
  };
  for (const auto& c : lines) {
    Value w;
    w.set_argv_line("p\nq");
    EXPECT_EQ(w.set_argv_line(c.line), c.ok) << (c.line ? c.line : "null");
    EXPECT_EQ(argvOf(w), c.pieces) << (c.line ? c.line : "null");
  }
  // Copies are deep, and assigning a value or an error message to itself is safe.
  Value self = Value::ErrorValue("again");
  EXPECT_FALSE(self.isValid());
  self.setErrorMsg(self.errorMsg());
  EXPECT_STREQ(self.errorMsg(), "again");
  const char* two[] = {" one ", "two"};
  auto* original = new Value(2, two);
  Value copy(*original);
  Value assigned("old");
  assigned = *original;
  delete original;
  EXPECT_EQ(argvOf(copy), (Texts{"one", "two"}));
  EXPECT_EQ(argvOf(assigned), (Texts{"one", "two"}));
  Value s("hello");
  Value t(5);
  t = s;
  s.set(8, "%s", "changed");
  t = t;
  EXPECT_EQ(t.toStdString(), "hello");
}

// The text form is what stores and pipes carry; it is a contract.
TEST(ValueText, WriteGivesTheTaggedFormsAndReadRestoresTheValue) {
  const char* args[] = {"a", "b"};
  const struct {
    Value v;
    const char* text;
  } cases[] = {
      {Value(-7), "[i]-7"},
      {Value(4294967295u), "[u]-1"},
      {Value(0.5f), "[f]0.500000"},
      {Value(0.5), "[d]0.500000"},
      {Value(1234567890123LL), "[lld]1234567890123"},
      {Value(5L), sizeof(long) == 8 ? "[lld]5" : "[i]5"},
      {Value(true), "[b]true"},
      {Value("a]b c"), "[str]a]b c"},
      {Value(2, args), "[argv]a\nb"},
      {Value(), "<null>"},
      {Value::ErrorValue("disk full"), "<variant>disk full"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.v.write(), c.text);
  Value bytes(3);
  bytes.set_bytes("zz", 2);
  EXPECT_EQ(bytes.write(), "[i]3") << "only the payload of the kind";
  EXPECT_EQ(Value(DBL_MAX).write().size(), 127u) << "huge doubles are cut";
  int x;
  const char* three[] = {"alpha", "b c", "d"};
  const Value values[] = {Value(INT_MIN),
                          Value(INT_MAX),
                          Value(2147483648u),
                          Value(LLONG_MIN),
                          Value(LLONG_MAX),
                          Value(static_cast<void*>(&x)),
                          Value(false),
                          Value(-1234.25),
                          Value("text with ] and [tags] and \t tabs"),
                          Value(3, three),
                          Value::ErrorValue("broken pipe")};
  for (const Value& v : values) {
    Value back;
    EXPECT_TRUE(back.read(v.write().c_str())) << v.write();
    EXPECT_EQ(back.type(), v.type()) << v.write();
    EXPECT_EQ(back.write(), v.write());
    EXPECT_EQ(back.toInt64(), v.toInt64()) << v.write();
  }
  // A failed read leaves an invalid value, but a vector's tag keeps its kind.
  const char* single[] = {"z"};
  for (std::string bad : {Value(1, single).write(), std::string("[int]42"), std::string("no bracket"),
                          std::string("[abcdefghijklmnop]1"), std::string("[i]")}) {
    Value v(123);
    EXPECT_FALSE(v.read(bad.c_str())) << bad;
    EXPECT_EQ(v.type(), bad.rfind("[argv]", 0) == 0 ? Value::VT_ARGV : Value::VT_INVALID) << bad;
  }
}

TEST(ValueMap, MissingKeysGrowOnlyTheNonConstMapAndInsertReplacesOnlyWhenAsked) {
  ValueMap m;
  EXPECT_EQ(m.type(), Value::VT_MAP);
  EXPECT_FALSE(m.isValid()) << "no entries yet";
  m["present"] = Value(5);
  EXPECT_FALSE(m["absent"].isValid());
  EXPECT_EQ(m.vmap().size(), 2u);
  const ValueMap& cm = m;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(cm["nowhere"].isValid());
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(m.vmap().size(), 2u);
  EXPECT_EQ(m.get_data("nowhere", Value("dflt")).toStdString(), "dflt");

  ValueMap a;
  EXPECT_TRUE(a.insert_data("k", Value("first"), false));
  EXPECT_FALSE(a.insert_data("k", Value("second"), false));
  EXPECT_TRUE(a.insert_data("k", Value("third"), true));
  EXPECT_EQ(a["k"].toStdString(), "third");
  ValueMap b(a);
  ValueMap c;
  c["old"] = Value(1);
  c = a;
  c = c;
  a["k"] = Value("changed");
  EXPECT_EQ(b["k"].toStdString(), "third");
  EXPECT_EQ(c["k"].toStdString(), "third");
  EXPECT_FALSE(c.isContains("old"));
}

}  // namespace
