// The text form of bg::Value: what write() gives and what read() accepts.
#include <gtest/gtest.h>
#include <kqbridge/value.h>
#include <kqbridge/value_map.h>

#include <cfloat>
#include <climits>
#include <random>
#include <string>

namespace {

using bg::Value;

Value readBack(const std::string& text, bool* ok = nullptr) {
  Value v(123);
  bool r = v.read(text.c_str());
  if (ok != nullptr) *ok = r;
  return v;
}

void expectSameContent(const Value& a, const Value& b) {
  EXPECT_EQ(a.type(), b.type());
  EXPECT_EQ(a.isValid(), b.isValid());
  EXPECT_EQ(a.write(), b.write());
  EXPECT_EQ(a.toInt64(), b.toInt64());
  EXPECT_EQ(a.toStdString(), b.toStdString());
}

TEST(ValueText, WriteGivesTheTaggedForms) {
  EXPECT_EQ(Value(42).write(), "[i]42");
  EXPECT_EQ(Value(-7).write(), "[i]-7");
  EXPECT_EQ(Value(4294967295u).write(), "[u]-1");
  EXPECT_EQ(Value(7u).write(), "[u]7");
  EXPECT_EQ(Value(0.5f).write(), "[f]0.500000");
  EXPECT_EQ(Value(0.5).write(), "[d]0.500000");
  EXPECT_EQ(Value(1234567890123LL).write(), "[lld]1234567890123");
  EXPECT_EQ(Value(true).write(), "[b]true");
  EXPECT_EQ(Value(false).write(), "[b]false");
  EXPECT_EQ(Value("a]b c").write(), "[str]a]b c");
  EXPECT_EQ(Value("").write(), "[str]");
  const char* args[] = {"a", "b"};
  EXPECT_EQ(Value(2, args).write(), "[argv]a\nb");
  EXPECT_EQ(Value().write(), "<null>");
  EXPECT_EQ(bg::ValueMap().write(), "<null>");
  EXPECT_EQ(Value::ErrorValue("disk full").write(), "<variant>disk full");

  int x;
  char expected[64];
  snprintf(expected, sizeof(expected), "[v]%p", static_cast<void*>(&x));
  EXPECT_EQ(Value(static_cast<void*>(&x)).write(), expected);
}

TEST(ValueText, WriteShowsOnlyThePayloadOfTheKind) {
  Value v(3);
  v.set_bytes("zz", 2);
  EXPECT_EQ(v.write(), "[i]3");
  // Huge doubles are cut at 127 characters.
  std::string big = Value(DBL_MAX).write();
  EXPECT_EQ(big.size(), 127u);
  EXPECT_EQ(big.substr(0, 4), "[d]1");
}

TEST(ValueText, ReadParsesEachTag) {
  bool ok = false;
  Value v = readBack("[i]42", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(v.type(), Value::VT_INT);
  EXPECT_EQ(v.toInt(), 42);
  // The first character is not looked at; leading blanks and trailing junk are scanf's.
  EXPECT_EQ(readBack("xi]42").toInt(), 42);
  EXPECT_EQ(readBack("[i]  12abc").toInt(), 12);
  EXPECT_EQ(readBack("[u]-1").toUInt(), 4294967295u);
  EXPECT_EQ(readBack("[u]-1").type(), Value::VT_UINT);
  EXPECT_FLOAT_EQ(readBack("[f]2.25").toFloat(), 2.25f);
  EXPECT_DOUBLE_EQ(readBack("[d]-3.5").toDouble(), -3.5);
  EXPECT_EQ(readBack("[lld]-9000000000").toInt64(), -9000000000LL);
  EXPECT_EQ(readBack("[lld]-9000000000").type(), Value::VT_INT64);
  Value s = readBack("[str]", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(s.type(), Value::VT_STR);
  EXPECT_EQ(s.toStdString(), "");
  EXPECT_EQ(s.write(), "[str]");
  EXPECT_EQ(readBack("[str]x]y").toStdString(), "x]y");

  Value b = readBack("[b]yes", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(b.type(), Value::VT_BOOL);
  EXPECT_FALSE(b.toBool());
  EXPECT_FALSE(readBack("[b]True").toBool());
  EXPECT_FALSE(readBack("[b]1").toBool());
  EXPECT_TRUE(readBack("[b]true").toBool());

  Value e = readBack("<variant>disk full", &ok);
  EXPECT_TRUE(ok);
  EXPECT_FALSE(e.isValid());
  EXPECT_STREQ(e.errorMsg(), "disk full");
}

TEST(ValueText, ReadRejectsWhatNamesNoKind) {
  const char* bad[] = {"[int]42",    "[i]",   "[i]x",     "<null>", "<null>more",
                       "no bracket", "[ii]1", "[bb]true", "[]abc",  "[abcdefghijklmnop]1",
                       "ab",         ""};
  for (const char* text : bad) {
    bool ok = true;
    Value v = readBack(text, &ok);
    EXPECT_FALSE(ok) << text;
    EXPECT_FALSE(v.isValid()) << text;
    EXPECT_EQ(v.toInt64(), 0) << text;
    EXPECT_STREQ(v.errorMsg(), "<invalid>") << text;
  }
  Value v(5);
  EXPECT_FALSE(v.read(nullptr));
  EXPECT_FALSE(v.isValid());
}

TEST(ValueText, ReadOfArgvReportsTheLineSplit) {
  bool ok = false;
  Value v = readBack("[argv]a\nb", &ok);
  EXPECT_TRUE(ok);
  char** a = nullptr;
  ASSERT_EQ(v.get_argv(&a), 2);
  EXPECT_STREQ(a[0], "a");
  EXPECT_STREQ(a[1], "b");
  Value one = readBack("[argv]x", &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(one.type(), Value::VT_ARGV);
  EXPECT_EQ(one.get_argv(nullptr), 0);
  Value empty = readBack("[argv]\n\n", &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(empty.type(), Value::VT_ARGV);
}

TEST(ValueText, RoundTripRestoresTheValue) {
  int x;
  const char* args[] = {"alpha", "b c", "d"};
  std::vector<Value> values = {Value(0),
                               Value(INT_MIN),
                               Value(INT_MAX),
                               Value(0u),
                               Value(2147483648u),
                               Value(4294967295u),
                               Value(LLONG_MIN),
                               Value(LLONG_MAX),
                               Value(static_cast<void*>(&x)),
                               Value(static_cast<void*>(nullptr)),
                               Value(true),
                               Value(false),
                               Value(0.5f),
                               Value(-1234.25),
                               Value(""),
                               Value("text with ] and [tags] and \t tabs"),
                               Value(3, args),
                               Value::ErrorValue("broken pipe")};
  for (const Value& v : values) {
    SCOPED_TRACE(v.write());
    Value back;
    bool ok = back.read(v.write().c_str());
    EXPECT_TRUE(ok);
    expectSameContent(v, back);
  }
  // Six decimals cannot hold 1e-7.
  Value tiny;
  tiny.read(Value(1e-7).write().c_str());
  EXPECT_EQ(tiny.toDouble(), 0.0);
  // A one-character vector does not come back.
  const char* single[] = {"z"};
  Value one;
  EXPECT_FALSE(one.read(Value(1, single).write().c_str()));
  // A map reads back as an invalid value.
  Value map;
  EXPECT_FALSE(map.read(bg::ValueMap().write().c_str()));
  EXPECT_FALSE(map.isValid());
}

TEST(ValueText, ArbitraryTextNeverBreaksRead) {
  std::mt19937 rng(20261205);
  const std::string alphabet = "[]<>ilfdvubstrgargv0123456789-+.epx \n\r\t%";
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    int len = static_cast<int>(rng() % 40);
    for (int j = 0; j < len; ++j) {
      text.push_back(rng() % 4 == 0 ? static_cast<char>(1 + rng() % 255) : alphabet[rng() % alphabet.size()]);
    }
    if (rng() % 3 == 0) text = "[" + std::string(rng() % 2 ? "argv" : "str") + "]" + text;
    Value v;
    bool ok = v.read(text.c_str());
    if (ok && v.isValid()) {
      Value again;
      again.read(v.write().c_str());
      EXPECT_EQ(again.type(), v.type()) << text;
    }
  }
}

}  // namespace
