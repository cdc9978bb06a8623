// The encoded store form of the data bus (scrambled text form in Base64) and
// App's encoded store built on it.
#include <gtest/gtest.h>
#include <kqbridge/app.h>
#include <kqbridge/data.h>

#include <random>
#include <string>

namespace {

using bg::Value;

void expectSame(const Value& expected, const Value& actual) {
  EXPECT_EQ(actual.type(), expected.type());
  EXPECT_EQ(actual.write(), expected.write());
  EXPECT_EQ(actual.toInt64(), expected.toInt64());
}

// The store form written out independently: each byte b of the text form
// becomes (b ^ k) + k with k = seed % 250 + 2, then standard Base64.
std::string encodedForm(const std::string& text, unsigned char seed) {
  const unsigned char k = seed % 250 + 2;
  std::string bytes;
  for (unsigned char c : text) bytes += static_cast<char>(static_cast<unsigned char>((c ^ k) + k));
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
  }
  return out;
}

TEST(DataEncoding, EncodedFormIsTheScrambledTextFormInBase64) {
  bg::Data data;
  Value coded = data.encryptValue(Value(7));
  ASSERT_EQ(coded.type(), Value::VT_STR);
  EXPECT_EQ(coded.toStdString(), encodedForm("[i]7", 0x6B));
  EXPECT_EQ(data.encryptValue(Value("hello world")).toStdString(), encodedForm("[str]hello world", 0x6B));
}

TEST(DataEncoding, EveryKindWhoseTextReadsBackRoundTrips) {
  bg::Data data;
  const char* args[] = {"first arg", "second"};
  int local = 0;
  const Value values[] = {Value(7),
                          Value(-2147483647 - 1),
                          Value(4294967295u),
                          Value(0.5f),
                          Value(-1234.25),
                          Value(static_cast<void*>(&local)),
                          Value(-9000000000000LL),
                          Value("text with ] and spaces and \xc3\xa9"),
                          Value(""),
                          Value(true),
                          Value(false),
                          Value(2, args),
                          Value::ErrorValue("disk full")};
  for (const Value& v : values) {
    SCOPED_TRACE(v.write());
    Value coded = data.encryptValue(v);
    EXPECT_EQ(coded.type(), v.isValid() ? Value::VT_STR : Value::VT_INVALID);
    expectSame(v, data.decryptValue(coded));
  }
}

TEST(DataEncoding, ValuesThatAreNotEncodedPassThrough) {
  bg::Data data;
  Value invalid = data.encryptValue(Value());
  EXPECT_FALSE(invalid.isValid());
  EXPECT_STREQ(invalid.errorMsg(), "<invalid>");
  EXPECT_STREQ(data.encryptValue(Value::ErrorValue("kept")).errorMsg(), "kept");
  expectSame(Value(7), data.decryptValue(Value(7)));
  EXPECT_FALSE(data.decryptValue(Value("not base64 !")).isValid());
  EXPECT_FALSE(data.decryptValue(Value("")).isValid());
  EXPECT_FALSE(data.decryptValue(Value("AAAA")).isValid()) << "valid Base64 of no text form";
}

TEST(DataEncoding, RandomTextsDecodeWithoutCrashing) {
  bg::Data data;
  std::mt19937 rng(2024);
  const char base64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
  int valid = 0;
  for (int i = 0; i < 10000; ++i) {
    std::string text(rng() % 64, 'A');
    const bool onlyBase64 = i % 2 == 0;
    for (char& c : text) {
      c = onlyBase64 ? base64[rng() % (sizeof(base64) - 1)] : static_cast<char>(1 + rng() % 255);
    }
    if (data.decryptValue(Value(text)).isValid()) ++valid;
  }
  EXPECT_LT(valid, 10000);
}

TEST(AppEncodedStore, EncodedValuesMustBeReadEncoded) {
  bg::App app;
  EXPECT_EQ(app.getStoreValue("missing", Value(3), true).toInt(), 3);
  EXPECT_TRUE(app.setStoreValue("secret", Value(1234), true));
  expectSame(Value(1234), app.getStoreValue("secret", Value(0), true));
  Value raw = app.getStoreValue("secret", Value(0), false);
  EXPECT_EQ(raw.type(), Value::VT_STR);
  EXPECT_EQ(raw.toStdString(), encodedForm("[i]1234", 0x6B));
}

}  // namespace
