#include <gtest/gtest.h>
#include <kqbridge/kqbridge.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

std::vector<uint8_t> fromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string toHex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

// Takes a malloc'd text result and frees it.
std::string take(bg::Abstract_Crypt& c, char* text) {
  std::string s = text != nullptr ? text : "(null)";
  c.freeBuffer(text);
  return s;
}

std::string commandOutput(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// One block through aesCrypt in ECB, either direction.
std::vector<uint8_t> aesBlock(bg::Abstract_Crypt& c, const std::vector<uint8_t>& key,
                              std::vector<uint8_t> block, int decrypt) {
  void* ctx = c.aesAlloc();
  EXPECT_EQ(c.aesInit(ctx, key.data(), static_cast<int>(key.size() * 8), decrypt), 0);
  EXPECT_EQ(
      c.aesCrypt(ctx, block.data(), block.data(), static_cast<int>(block.size() / 16), nullptr, decrypt), 0);
  c.aesFree(&ctx);
  EXPECT_EQ(ctx, nullptr);
  return block;
}

TEST(CryptAes, BlockCipherKnownAnswers) {
  bg::Crypt c;
  const std::vector<uint8_t> plain = fromHex("00112233445566778899aabbccddeeff");
  const struct {
    const char* key;
    const char* cipher;
  } vectors[] = {
      {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "8ea2b7ca516745bfeafc49904b496089"},
  };
  for (const auto& v : vectors) {
    std::vector<uint8_t> key = fromHex(v.key);
    std::vector<uint8_t> cipher = aesBlock(c, key, plain, 0);
    EXPECT_EQ(toHex(cipher.data(), 16), v.cipher) << v.key;
    EXPECT_EQ(aesBlock(c, key, cipher, 1), plain) << v.key;
  }
}

TEST(CryptAes, CbcChainsAndUpdatesTheIv) {
  bg::Crypt c;
  const std::vector<uint8_t> key = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
  const std::string data = randomBytes(48, 1);
  uint8_t iv[16];
  for (int i = 0; i < 16; ++i) iv[i] = static_cast<uint8_t>(i);

  // CBC by hand: each plain block XOR the previous cipher block, then ECB.
  std::vector<uint8_t> expected(48);
  std::vector<uint8_t> prev(iv, iv + 16);
  for (int b = 0; b < 3; ++b) {
    std::vector<uint8_t> block(16);
    for (int i = 0; i < 16; ++i) block[i] = static_cast<uint8_t>(data[16 * b + i]) ^ prev[i];
    prev = aesBlock(c, key, block, 0);
    std::copy(prev.begin(), prev.end(), expected.begin() + 16 * b);
  }

  void* ctx = c.aesAlloc();
  ASSERT_EQ(c.aesInit(ctx, key.data(), 128, 0), 0);
  std::vector<uint8_t> out(48);
  c.aesCrypt(ctx, out.data(), reinterpret_cast<const uint8_t*>(data.data()), 3, iv, 0);
  EXPECT_EQ(out, expected);
  EXPECT_EQ(std::vector<uint8_t>(iv, iv + 16), std::vector<uint8_t>(expected.end() - 16, expected.end()));

  for (int i = 0; i < 16; ++i) iv[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(c.aesInit(ctx, key.data(), 128, 1), 0);
  c.aesCrypt(ctx, out.data(), out.data(), 3, iv, 1);
  EXPECT_EQ(std::string(out.begin(), out.end()), data);
  c.aesFree(&ctx);
}

TEST(CryptAes, InitRefusesOtherKeySizes) {
  bg::Crypt c;
  void* ctx = c.aesAlloc();
  ASSERT_NE(ctx, nullptr);
  uint8_t key[32] = {};
  EXPECT_EQ(c.aesInit(ctx, key, 64, 0), 22);
  EXPECT_EQ(c.aesInit(ctx, key, 160, 1), 22);
  EXPECT_EQ(c.aesInit(ctx, nullptr, 128, 0), 22);
  EXPECT_EQ(c.aesInit(nullptr, key, 128, 0), 22);
  EXPECT_EQ(c.aesInit(ctx, key, 256, 0), 0);
  c.aesFree(&ctx);
  EXPECT_EQ(ctx, nullptr);
  c.aesFree(&ctx);
  c.aesFree(nullptr);
}

TEST(CryptAes, TextPaddingFollowsTheKeyLength) {
  bg::Crypt c;
  bool ok = false;
  const std::string key16 = "0123456789abcdef";
  std::string empty = c.aesEncrypt("", key16, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(empty.size(), 24u);
  EXPECT_EQ(c.aesDecrypt(empty, key16, &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(c.aesEncrypt(std::string(16, 'x'), key16, &ok).size(), 44u) << "a whole padding block is added";

  // 24-byte key, 5 bytes: padded to 24 with 19s; only the first 16 are encrypted.
  const std::string key24 = "0123456789abcdefghijklmn";
  std::string text = c.aesEncrypt("hello", key24, &ok);
  ASSERT_TRUE(ok);
  std::string raw = c.base64DecodeString(text);
  ASSERT_EQ(raw.size(), 24u);
  std::vector<uint8_t> padded(24, 19);
  memcpy(padded.data(), "hello", 5);
  std::vector<uint8_t> first = aesBlock(c, std::vector<uint8_t>(key24.begin(), key24.end()),
                                        std::vector<uint8_t>(padded.begin(), padded.begin() + 16), 0);
  EXPECT_EQ(raw.substr(0, 16), std::string(first.begin(), first.end()));
  EXPECT_EQ(raw.substr(16), std::string(8, '\x13'));
  EXPECT_EQ(c.aesDecrypt(text, key24, &ok), "hello");
  EXPECT_TRUE(ok);

  // 32-byte key: the first half of the buffer is encrypted, the rest carried.
  const std::string key32 = "0123456789abcdef0123456789ABCDEF";
  const std::string plain = randomBytes(40, 2);
  text = c.aesEncrypt(plain, key32, &ok);
  ASSERT_TRUE(ok);
  raw = c.base64DecodeString(text);
  ASSERT_EQ(raw.size(), 64u);
  EXPECT_EQ(raw.substr(32), plain.substr(32) + std::string(24, '\x18'));
  EXPECT_NE(raw.substr(0, 32), plain.substr(0, 32));
  EXPECT_EQ(c.aesDecrypt(text, key32, &ok), plain);

  for (size_t n = 0; n < 70; n += 7) {
    const std::string p = randomBytes(n, static_cast<unsigned>(n));
    for (const std::string& k : {key16, key24, key32}) {
      ok = false;
      EXPECT_EQ(c.aesDecrypt(c.aesEncrypt(p, k, nullptr), k, &ok), p);
      EXPECT_TRUE(ok);
    }
  }
}

TEST(CryptAes, TextMessagesOnStandardError) {
  bg::Crypt c;
  bool ok = true;
  CaptureStderr();
  EXPECT_EQ(c.aesEncrypt("x", std::string(20, 'k'), &ok), "");
  EXPECT_FALSE(ok);
  ok = true;
  EXPECT_EQ(c.aesDecrypt("AAAA", std::string(20, 'k'), &ok), "");
  EXPECT_FALSE(ok);
  EXPECT_EQ(GetCapturedStderr(),
            "[aes] password len must be 16 or 24 or 32\n[aes] password len must be 16 or 24 or 32\n");

  ok = true;
  CaptureStderr();
  EXPECT_EQ(c.aesDecrypt("ab!d", std::string(16, 'k'), &ok), "");
  EXPECT_EQ(GetCapturedStderr(), "[baseb4] decode (inlen=3, out=-1) failed...\n");
  EXPECT_FALSE(ok);
  ok = true;
  CaptureStderr();
  EXPECT_EQ(c.aesDecrypt("AAAA\nAAAA", std::string(16, 'k'), &ok), "");
  EXPECT_EQ(GetCapturedStderr(), "[baseb4] decode (inlen=6, out=-1) failed...\n");
}

// Replaces the key setup to count it and the encoder to mark its output:
// the text operations must reach both through the table.
class TracingCrypt : public bg::Crypt {
 public:
  int inits = 0;
  int frees = 0;
  int aesInit(void* ctx, const uint8_t* key, int keyBits, int decrypt) override {
    ++inits;
    return bg::Crypt::aesInit(ctx, key, keyBits, decrypt);
  }
  void aesFree(void** ctx) override {
    ++frees;
    bg::Crypt::aesFree(ctx);
  }
  char* base64Encode(char* out, int outSize, const uint8_t* in, int inSize) override {
    char* r = bg::Crypt::base64Encode(out, outSize, in, inSize);
    if (r != nullptr && r[0] != '\0') r[0] = '*';
    return r;
  }
  int base64DecodedSize(int) override { return 0; }
};

TEST(CryptAes, TextOperationsUseTheObjectsOwnSlots) {
  TracingCrypt t;
  bg::Abstract_Crypt* c = &t;
  bool ok = false;
  std::string text = c->aesEncrypt("abc", std::string(16, 'k'), &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(text[0], '*');
  EXPECT_EQ(t.inits, 1);
  EXPECT_EQ(t.frees, 1);
  EXPECT_EQ(c->base64EncodeString("abc"), "*WJj");
  // No room to decode into: the decoder sees a zero-sized buffer.
  EXPECT_EQ(c->base64DecodeString("YWJj"), "");
  EXPECT_EQ(c->aesDecrypt("YWJjYWJjYWJjYWJjYWJjYQ==", std::string(16, 'k'), &ok), "");
  EXPECT_FALSE(ok);
}

TEST(CryptAes, DecryptNeverTrustsTheText) {
  bg::Crypt c;
  const std::string key = "0123456789abcdef";
  const std::string good = c.aesEncrypt("some secret text", key, nullptr);
  std::mt19937 rng(7);
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
  CaptureStderr();
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    switch (i % 3) {
      case 0:
        text = good.substr(0, rng() % (good.size() + 1));
        break;
      case 1:
        for (size_t n = rng() % 80; n > 0; --n) text += alphabet[rng() % alphabet.size()];
        break;
      default:
        text = good;
        text[rng() % text.size()] = alphabet[rng() % alphabet.size()];
    }
    std::string k = key;
    if (i % 5 == 0) k[rng() % 16] ^= 1;
    bool ok = true;
    std::string plain = c.aesDecrypt(text, k, &ok);
    if (ok) {
      EXPECT_LT(plain.size(), text.size()) << text;
    } else {
      EXPECT_EQ(plain, "");
    }
  }
  bool ok = true;
  EXPECT_EQ(c.aesDecrypt("", key, &ok), "");
  EXPECT_FALSE(ok) << "text that decodes to nothing";
  GetCapturedStderr();

  // A last byte of 0, or beyond the data, is no pad count.
  for (uint8_t last : {0, 17, 200}) {
    std::vector<uint8_t> block(16, last);
    std::vector<uint8_t> cipher = aesBlock(c, std::vector<uint8_t>(key.begin(), key.end()), block, 0);
    std::string text = c.base64EncodeString(std::string(cipher.begin(), cipher.end()));
    ok = true;
    EXPECT_EQ(c.aesDecrypt(text, key, &ok), "");
    EXPECT_FALSE(ok) << int(last);
  }
}

TEST(CryptAes128, StringsRoundTrip) {
  bg::Crypt c;
  const char* key = "0123456789abcdef";
  for (int n = 1; n <= 40; ++n) {
    std::string plain(static_cast<size_t>(n), '\0');
    for (int i = 0; i < n; ++i) plain[i] = static_cast<char>('a' + (i * 7 + n) % 26);
    std::string text = c.aes128EncryptString(plain.c_str(), key);
    EXPECT_EQ(text.size(), static_cast<size_t>((n / 16 + 1) * 16 + 2) / 3 * 4) << n;
    EXPECT_EQ(c.aes128DecryptString(text.c_str(), key), plain) << n;
  }
  EXPECT_EQ(c.aes128EncryptString("", key), "");
  EXPECT_EQ(c.aes128DecryptString("", key), "");
  // A shorter text key is filled up with zero bytes.
  uint8_t padded[16] = {'s', 'h', 'o', 'r', 't'};
  char* out = nullptr;
  ASSERT_GT(c.aes128EncryptToBase64(reinterpret_cast<const uint8_t*>("x"), 1, &out, padded), 0);
  EXPECT_EQ(c.aes128EncryptString("x", "short"), take(c, out));
  EXPECT_EQ(c.aes128DecryptString(c.aes128EncryptString("x", "short").c_str(), "short"), "x");
  EXPECT_EQ(c.aes128EncryptString("x", "0123456789abcdefIGNORED"), c.aes128EncryptString("x", key));
}

TEST(CryptAes128, BufferFormsAndTheirCodes) {
  bg::Crypt c;
  const uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  char* out = reinterpret_cast<char*>(0x1);
  EXPECT_EQ(c.aes128EncryptToBase64(reinterpret_cast<const uint8_t*>("x"), 0, &out, key), 0);
  EXPECT_EQ(out, reinterpret_cast<char*>(0x1)) << "left alone";
  out = nullptr;
  const std::string data = randomBytes(16, 3);
  int rc = c.aes128EncryptToBase64(reinterpret_cast<const uint8_t*>(data.data()), 16, &out, key);
  EXPECT_EQ(rc, 45) << "32 bytes of cipher text: 44 characters and the terminator";
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(strlen(out), 44u);
  std::string raw = c.base64DecodeString(out);
  std::vector<uint8_t> last =
      aesBlock(c, std::vector<uint8_t>(key, key + 16), std::vector<uint8_t>(raw.begin() + 16, raw.end()), 1);
  EXPECT_EQ(last, std::vector<uint8_t>(16, 16)) << "PKCS#7 padding on 16-byte blocks";

  char* plain = reinterpret_cast<char*>(0x1);
  EXPECT_EQ(c.aes128DecryptFromBase64(out, 0, &plain, key), 0);
  EXPECT_EQ(plain, reinterpret_cast<char*>(0x1));
  rc = c.aes128DecryptFromBase64(out, 44, &plain, key);
  ASSERT_EQ(rc, 16);
  EXPECT_EQ(std::string(plain, 16), data);
  EXPECT_EQ(plain[16], '\0');
  c.freeBuffer(plain);
  EXPECT_EQ(c.aes128DecryptFromBase64("not base64!", 11, &plain, key), -2);
  EXPECT_EQ(plain, nullptr);
  EXPECT_EQ(c.aes128DecryptFromBase64("AAAAAAAA", 8, &plain, key), -2) << "not whole blocks";
  EXPECT_EQ(c.aes128DecryptFromBase64("====", 4, &plain, key), -2) << "nothing to decrypt";
  EXPECT_EQ(c.aes128DecryptFromBase64(out, 44, &plain, nullptr), -3);
  EXPECT_EQ(plain, nullptr);
  c.freeBuffer(out);

  // Wrong keys: either a pad count no padding makes (-4), or some text within the buffer.
  std::mt19937 rng(11);
  out = nullptr;
  ASSERT_GT(c.aes128EncryptToBase64(reinterpret_cast<const uint8_t*>(data.data()), 10, &out, key), 0);
  int refused = 0;
  for (int i = 0; i < 500; ++i) {
    uint8_t wrong[16];
    for (uint8_t& b : wrong) b = static_cast<uint8_t>(rng());
    plain = nullptr;
    rc = c.aes128DecryptFromBase64(out, static_cast<int>(strlen(out)), &plain, wrong);
    if (rc == -4) {
      ++refused;
      EXPECT_EQ(plain, nullptr);
    } else {
      ASSERT_GE(rc, 0);
      ASSERT_LT(rc, 16);
      c.freeBuffer(plain);
    }
  }
  EXPECT_GT(refused, 400);
  c.freeBuffer(out);
}

TEST(CryptAes128, RandomTextsNeverCrash) {
  bg::Crypt c;
  std::mt19937 rng(5);
  const uint8_t key[16] = {};
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    for (size_t n = rng() % 100; n > 0; --n) text += static_cast<char>(1 + rng() % 255);
    if (i % 2 == 0) text = c.base64EncodeString(randomBytes(rng() % 70, static_cast<unsigned>(i)));
    char* plain = nullptr;
    int rc = c.aes128DecryptFromBase64(text.c_str(), static_cast<int>(text.size()), &plain, key);
    if (rc >= 0 && plain != nullptr) {
      EXPECT_LE(strlen(plain), static_cast<size_t>(rc));
    }
    c.freeBuffer(plain);
    std::string s = c.aes128DecryptString(text.c_str(), "k");
    EXPECT_LE(s.size(), text.size());
  }
}

TEST(CryptBase64, Rfc4648Vectors) {
  bg::Crypt c;
  const char* vectors[][2] = {{"", ""},
                              {"f", "Zg=="},
                              {"fo", "Zm8="},
                              {"foo", "Zm9v"},
                              {"foob", "Zm9vYg=="},
                              {"fooba", "Zm9vYmE="},
                              {"foobar", "Zm9vYmFy"}};
  for (auto& v : vectors) {
    EXPECT_EQ(c.base64EncodeString(v[0]), v[1]);
    EXPECT_EQ(c.base64DecodeString(v[1]), v[0]);
    uint8_t buf[8];
    int n = c.base64Decode(buf, v[1], 8);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(n)), v[0]);
  }
  EXPECT_EQ(c.base64EncodeString(std::string("\0\xff\0", 3)), "AP8A");
  EXPECT_EQ(c.base64EncodeString("abc").size(), 4u);
}

TEST(CryptBase64, Sizes) {
  bg::Crypt c;
  EXPECT_EQ(c.base64EncodedSize(0), 1);
  EXPECT_EQ(c.base64EncodedSize(1), 5);
  EXPECT_EQ(c.base64EncodedSize(3), 5);
  EXPECT_EQ(c.base64EncodedSize(4), 9);
  EXPECT_EQ(c.base64DecodedSize(4), 3);
  EXPECT_EQ(c.base64DecodedSize(2000000000), 1500000000) << "computed in 64 bits";
}

TEST(CryptBase64, DecodeRules) {
  bg::Crypt c;
  uint8_t buf[16];
  EXPECT_EQ(c.base64Decode(buf, "QQ==", 3), 1);
  EXPECT_EQ(buf[0], 'A');
  EXPECT_EQ(c.base64Decode(buf, "QUJD\nREVG", 16), -1) << "line breaks are invalid";
  EXPECT_EQ(c.base64Decode(buf, "QUJD REVG", 16), -1);
  EXPECT_EQ(c.base64Decode(buf, "QUI", 16), 2) << "a final group of three characters";
  EXPECT_EQ(c.base64Decode(buf, "QUJD=garbage!", 16), 3) << "'=' ends the text";
  EXPECT_EQ(c.base64Decode(buf, nullptr, 16), -1);
  EXPECT_EQ(c.base64DecodeString("Zm9v!"), "");

  // A full buffer stops the writing, not the checking.
  memset(buf, '#', sizeof(buf));
  EXPECT_EQ(c.base64Decode(buf, "QUJDREVG", 3), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "ABC#");
  EXPECT_EQ(c.base64Decode(buf, "QUJDREVG!", 3), -1);
  EXPECT_EQ(c.base64Decode(buf, "QUJD", 0), 0);
  EXPECT_EQ(c.base64Decode(buf, "QUJD", -4), 0);
  EXPECT_EQ(c.base64Decode(nullptr, "QUJD", 16), 0);
  EXPECT_EQ(c.base64Decode(nullptr, "QU!D", 16), -1);
}

TEST(CryptBase64, EncodeRefusesShortBuffers) {
  bg::Crypt c;
  char out[9];
  memset(out, '#', sizeof(out));
  const uint8_t in[4] = {'f', 'o', 'o', 'b'};
  EXPECT_EQ(c.base64Encode(out, 8, in, 4), nullptr);
  EXPECT_EQ(out[0], '#');
  EXPECT_EQ(c.base64Encode(out, 9, in, 4), out);
  EXPECT_STREQ(out, "Zm9vYg==");
  EXPECT_EQ(c.base64Encode(out, 9, in, 1073741823), nullptr);
  EXPECT_EQ(c.base64Encode(out, 9, in, -1), nullptr);
  EXPECT_EQ(c.base64Encode(nullptr, 9, in, 4), nullptr);
  EXPECT_EQ(c.base64Encode(out, 1, nullptr, 0), out);
  EXPECT_STREQ(out, "");
}

TEST(CryptBase64, RandomTextsNeverOverrun) {
  bg::Crypt c;
  std::mt19937 rng(9);
  for (int i = 0; i < 5000; ++i) {
    std::string text;
    for (size_t n = rng() % 64; n > 0; --n) text += static_cast<char>(1 + rng() % 255);
    int size = static_cast<int>(rng() % 48);
    std::vector<uint8_t> out(static_cast<size_t>(size));
    int n = c.base64Decode(out.data(), text.c_str(), size);
    ASSERT_LE(n, size);
    ASSERT_GE(n, -1);
    c.base64DecodeString(text);
  }
}

TEST(CryptBase64, MatchesTheSystemTool) {
  kqtest::TempDir tmp;
  bg::Crypt c;
  for (size_t n : {0, 1, 2, 3, 1000, 100001}) {
    const std::string data = randomBytes(n, static_cast<unsigned>(n));
    const std::string path = tmp.file("data" + std::to_string(n));
    kqtest::writeFile(path, data);
    const std::string expected = commandOutput("base64 -w0 '" + path + "'");
    std::string text = c.base64EncodeString(data);
    EXPECT_EQ(text, expected) << n;
    EXPECT_EQ(c.base64DecodeString(text), data) << n;
  }
}

TEST(CryptMd5, Rfc1321TestSuite) {
  bg::Crypt c;
  const char* suite[][2] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (auto& v : suite) {
    EXPECT_EQ(take(c, c.md5String(v[0])), v[1]) << v[0];
    EXPECT_EQ(take(c, c.md5Buffer(v[0], static_cast<int>(strlen(v[0])))), v[1]) << v[0];
  }
  EXPECT_EQ(take(c, c.md5String(nullptr)), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(take(c, c.md5Buffer(nullptr, 5)), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(CryptMd5, FilesMatchTheSystemTool) {
  kqtest::TempDir tmp;
  bg::Crypt c;
  // Lengths around the 56-byte padding edge and the 10240-byte chunks, and a few MiB.
  for (size_t n : {0, 55, 56, 63, 64, 65, 10239, 10240, 10241, 3 * 1024 * 1024 + 17}) {
    const std::string data = randomBytes(n, static_cast<unsigned>(n + 1));
    const std::string path = tmp.file("f" + std::to_string(n));
    kqtest::writeFile(path, data);
    const std::string expected = commandOutput("md5sum '" + path + "'").substr(0, 32);
    ASSERT_EQ(expected.size(), 32u);
    EXPECT_EQ(take(c, c.md5File(path.c_str())), expected) << n;
    EXPECT_EQ(take(c, c.md5Buffer(data.data(), static_cast<int>(n))), expected) << n;
  }
  EXPECT_EQ(c.md5File(tmp.file("missing").c_str()), nullptr);
  const std::string backslashed = tmp.path() + "\\f0";
  EXPECT_EQ(take(c, c.md5File(backslashed.c_str())), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(CryptMd5, MaskedAndShortForms) {
  bg::Crypt c;
  const std::string full = take(c, c.md5String("abc"));
  const std::string masked = take(c, c.md5StringMasked("abc"));
  ASSERT_EQ(masked.size(), 32u);
  for (size_t i = 0; i < 32; i += 2) {
    int a = std::stoi(full.substr(i, 2), nullptr, 16);
    EXPECT_EQ(std::stoi(masked.substr(i, 2), nullptr, 16), a & 252) << i;
  }
  char* digest = c.md5String("abc");
  c.md5Short(digest);
  EXPECT_STREQ(digest, "3cd24fb0d6963f7d");
  c.freeBuffer(digest);
  char shortText[] = "0123456789";
  c.md5Short(shortText);
  EXPECT_STREQ(shortText, "0123456789") << "too short to cut";
  c.md5Short(nullptr);
  c.freeBuffer(nullptr);
}

TEST(CryptCoding, ScrambleIsReversibleForEverySeed) {
  bg::Crypt c;
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  for (int seed = 0; seed < 256; ++seed) {
    std::vector<uint8_t> buf = all;
    c.scramble(buf.data(), 256, static_cast<uint8_t>(seed));
    // The key byte 128 (seed 126) maps every byte to itself.
    if (seed != 126) {
      EXPECT_NE(buf, all) << seed;
    }
    c.unscramble(buf.data(), 256, static_cast<uint8_t>(seed));
    EXPECT_EQ(buf, all) << seed;
  }
  uint8_t a[3] = {0, 0xff, 0x10};
  c.scramble(a, 3, 0);
  EXPECT_EQ(a[0], 4);     // (0 ^ 2) + 2
  EXPECT_EQ(a[1], 0xff);  // (0xff ^ 2) + 2 = 0xfd + 2
  EXPECT_EQ(a[2], 0x14);  // (0x10 ^ 2) + 2
  uint8_t b[3] = {0, 0xff, 0x10};
  c.scramble(b, 3, 250);
  EXPECT_EQ(memcmp(a, b, 3), 0) << "seeds 0 and 250 share the key byte";
  c.scramble(b, 0, 9);
  EXPECT_EQ(memcmp(a, b, 3), 0);
  c.scramble(nullptr, 3, 9);
}

TEST(CryptCoding, HexEncode) {
  bg::Crypt c;
  const uint8_t in[3] = {0x0a, 0xff, 0x10};
  EXPECT_EQ(c.hexEncode(in, 3, nullptr, 0), 7);
  char out[8];
  memset(out, '#', sizeof(out));
  EXPECT_EQ(c.hexEncode(in, 3, out, 8), 6);
  EXPECT_STREQ(out, "0aff10");
  EXPECT_EQ(c.hexEncode(in, 0, out, 8), 0);
  EXPECT_EQ(c.hexEncode(in, 3, out, 0), 0);
  memset(out, '#', sizeof(out));
  EXPECT_EQ(c.hexEncode(in, 3, out, 6), 0) << "too small for the text and its terminator";
  EXPECT_EQ(std::string(out, 8), std::string(6, '\0') + "##");
}

TEST(CryptCoding, HexDecode) {
  bg::Crypt c;
  uint8_t out[4];
  EXPECT_EQ(c.hexDecode("0aff10", 6, nullptr, 0), 4);
  EXPECT_EQ(c.hexDecode("0aFF10", 6, out, 4), 3);
  EXPECT_EQ(out[0], 0x0a);
  EXPECT_EQ(out[1], 0xff);
  EXPECT_EQ(out[2], 0x10);
  EXPECT_EQ(out[3], 0);
  EXPECT_EQ(c.hexDecode("abc", 3, out, 4), 2) << "an odd last digit is read alone";
  EXPECT_EQ(out[1], 0x0c);
  EXPECT_EQ(c.hexDecode("zz1zz9", 6, out, 4), 3);
  EXPECT_EQ(out[0], 0) << "a pair starting with a non-digit";
  EXPECT_EQ(out[1], 1) << "digits up to the first non-digit";
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(c.hexDecode("", 0, out, 4), 0);
  EXPECT_EQ(c.hexDecode("0aff10", 6, out, 0), 0);
  memset(out, '#', sizeof(out));
  EXPECT_EQ(c.hexDecode("0aff10", 6, out, 2), 0) << "too small for the bytes";
  EXPECT_EQ(out[2], '#');

  std::mt19937 rng(3);
  for (int i = 0; i < 2000; ++i) {
    std::string text;
    for (size_t n = rng() % 40; n > 0; --n) text += static_cast<char>(rng());
    std::vector<uint8_t> buf(text.size() / 2 + 1);
    int n = c.hexDecode(text.data(), static_cast<int>(text.size()), buf.data(), static_cast<int>(buf.size()));
    ASSERT_LE(n, static_cast<int>(buf.size()));
  }
}

}  // namespace
