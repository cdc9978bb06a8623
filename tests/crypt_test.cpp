// bg::Crypt: known-answer vectors, independent constructions and the system
// tools as references; bad inputs are refused with their codes.
#include <gtest/gtest.h>
#include <kqbridge/kqbridge.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes fromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

Bytes bytesOf(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// Takes a malloc'd text result and frees it.
std::string take(bg::Abstract_Crypt& c, char* text) {
  std::string s = text != nullptr ? text : "(null)";
  c.freeBuffer(text);
  return s;
}

std::string commandOutput(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof(buf), p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Whole blocks through aesCrypt in ECB, either direction.
Bytes aesBlocks(bg::Abstract_Crypt& c, const Bytes& key, Bytes blocks, int decrypt) {
  void* ctx = c.aesAlloc();
  EXPECT_EQ(c.aesInit(ctx, key.data(), static_cast<int>(key.size() * 8), decrypt), 0);
  EXPECT_EQ(
      c.aesCrypt(ctx, blocks.data(), blocks.data(), static_cast<int>(blocks.size() / 16), nullptr, decrypt),
      0);
  c.aesFree(&ctx);
  EXPECT_EQ(ctx, nullptr);
  return blocks;
}

TEST(CryptAes, BlockCipherKnownAnswersAndChaining) {
  bg::Crypt c;
  const Bytes plain = fromHex("00112233445566778899aabbccddeeff");
  const char* vectors[][2] = {
      {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "8ea2b7ca516745bfeafc49904b496089"},
  };
  for (const auto& v : vectors) {
    Bytes cipher = aesBlocks(c, fromHex(v[0]), plain, 0);
    EXPECT_EQ(cipher, fromHex(v[1])) << v[0];
    EXPECT_EQ(aesBlocks(c, fromHex(v[0]), cipher, 1), plain) << v[0];
  }
  // Chained, two equal blocks differ, and the iv comes back as the last block.
  void* ctx = c.aesAlloc();
  const Bytes key16 = fromHex(vectors[0][0]);
  ASSERT_EQ(c.aesInit(ctx, key16.data(), 128, 0), 0);
  Bytes twice(32, 'd'), iv(16, 7);
  c.aesCrypt(ctx, twice.data(), twice.data(), 2, iv.data(), 0);
  EXPECT_EQ(Bytes(twice.begin(), twice.begin() + 16), aesBlocks(c, key16, Bytes(16, 'd' ^ 7), 0));
  EXPECT_EQ(iv, Bytes(twice.begin() + 16, twice.end()));
  uint8_t key[32] = {};
  for (int bits : {64, 160}) EXPECT_EQ(c.aesInit(ctx, key, bits, 0), 22) << bits;
  EXPECT_EQ(c.aesInit(ctx, nullptr, 128, 0), 22);
  EXPECT_EQ(c.aesInit(nullptr, key, 128, 0), 22);
  c.aesFree(&ctx);
  c.aesFree(&ctx);
  c.aesFree(nullptr);
  EXPECT_EQ(c.aesCrypt(nullptr, key, key, 1, nullptr, 0), 0);
}

TEST(CryptAes, TextFormsRoundTripForEveryKeyLengthAndRefuseBadInput) {
  bg::Crypt c;
  bool ok = false;
  for (size_t n = 0; n < 70; n += 23) {
    const std::string p = randomBytes(n, static_cast<unsigned>(n));
    for (size_t k : {16, 24, 32}) {
      ok = false;
      EXPECT_EQ(c.aesDecrypt(c.aesEncrypt(p, std::string(k, 'k'), nullptr), std::string(k, 'k'), &ok), p)
          << n;
      EXPECT_TRUE(ok);
    }
  }
  const std::string key(16, 'k');
  std::vector<std::pair<std::string, std::string>> bad = {
      {"AAAA", std::string(20, 'k')}, {"ab!d", key}, {"AAAA\nAAAA", key}, {"", key}};
  // A last byte of 0, or beyond the data, is no pad count.
  for (uint8_t last : {0, 17, 200}) {
    Bytes cipher = aesBlocks(c, bytesOf(key), Bytes(16, last), 0);
    bad.emplace_back(c.base64EncodeString(std::string(cipher.begin(), cipher.end())), key);
  }
  kqtest::ConsoleCapture console;
  for (const auto& b : bad) {
    ok = true;
    EXPECT_EQ(c.aesDecrypt(b.first, b.second, &ok), "") << b.first;
    EXPECT_FALSE(ok) << b.first;
  }
  // Only the two texts that are no Base64 are decode failures; an empty one is not.
  const std::string said = console.errors();
  size_t failures = 0;
  for (size_t at = said.find("decode"); at != std::string::npos; at = said.find("decode", at + 1)) ++failures;
  EXPECT_EQ(failures, 2u) << said;
}

// The text operations reach the primitives through the object's own table.
struct BrokenCrypt : bg::Crypt {
  bool initFails = true;
  int aesInit(void* ctx, const uint8_t* key, int bits, int decrypt) override {
    return initFails ? 22 : bg::Crypt::aesInit(ctx, key, bits, decrypt);
  }
  char* base64Encode(char*, int, const uint8_t*, int) override { return nullptr; }
};

// AES-128 pads as the 16-byte-key text form does; each failure has its code, derived primitives' too.
TEST(CryptAes, Aes128TextFormsRoundTripAndNameTheirFailures) {
  bg::Crypt c;
  const std::string key16 = std::string("key") + std::string(13, '\0');  // a short text key is filled up
  for (const char* plain : {"x", "sixteen bytes!!!", "a text of thirty-two bytes long."}) {
    const std::string text = c.aes128EncryptString(plain, "key");
    EXPECT_EQ(text, c.aesEncrypt(plain, key16, nullptr));
    EXPECT_EQ(c.aes128DecryptString(text.c_str(), "key"), plain);
  }
  EXPECT_EQ(c.aes128EncryptString("", "key"), "");
  const Bytes key = bytesOf(key16);
  char* text = nullptr;
  EXPECT_EQ(c.aes128EncryptToBase64(key.data(), 16, &text, key.data()), 45);
  c.freeBuffer(text);
  EXPECT_EQ(c.aes128EncryptToBase64(key.data(), 16, &text, nullptr), -1);
  Bytes zeros = aesBlocks(c, key, Bytes(16, 0), 0);
  const std::string noPad = c.base64EncodeString(std::string(zeros.begin(), zeros.end()));
  char unset;
  for (const auto& [input, code] : {std::pair<std::string, int>{"ab!d", -2}, {"AAAA", -2}, {noPad, -4}}) {
    text = &unset;
    EXPECT_EQ(c.aes128DecryptFromBase64(input.c_str(), static_cast<int>(input.size()), &text, key.data()),
              code);
    EXPECT_EQ(text, nullptr) << input;
  }
  EXPECT_EQ(c.aes128DecryptFromBase64(noPad.c_str(), static_cast<int>(noPad.size()), &text, nullptr), -3);
  BrokenCrypt broken;
  bool ok = true;
  testing::internal::CaptureStderr();
  EXPECT_EQ(broken.aesEncrypt("x", key16, &ok) + broken.aesDecrypt(noPad, key16, &ok), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[aes] init error\n[aes] init error\n");
  broken.initFails = false;
  EXPECT_EQ(broken.aesEncrypt("x", key16, &ok), "");
  EXPECT_EQ(broken.aes128EncryptToBase64(key.data(), 16, &text, key.data()), -3);
  EXPECT_TRUE(!ok && text == nullptr);
}

TEST(CryptCoding, Base64VectorsHexBothWaysAndWhatDoesNotFit) {
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
  }
  EXPECT_EQ(c.base64DecodedSize(2000000000), 1500000000) << "computed in 64 bits";
  // Decoding into a short buffer is the fuzz target's to check; encoding is ours.
  const uint8_t in[4] = {'f', 'o', 'o', 'b'};
  char out[9];
  memset(out, '#', sizeof(out));
  EXPECT_EQ(c.base64Encode(out, 8, in, 4), nullptr);
  EXPECT_EQ(out[0], '#');
  EXPECT_EQ(c.base64Encode(out, 9, in, 1073741823), nullptr);
  EXPECT_STREQ(c.base64Encode(out, 9, in, 4), "Zm9vYg==");
  // Hex text is lower case, two digits a byte; a short buffer is zeroed, never overrun.
  const uint8_t bytes[] = {0x0A, 0xFF, 0x10};
  char text[8];
  EXPECT_EQ(c.hexEncode(bytes, 3, nullptr, 0), 7);
  EXPECT_EQ(c.hexEncode(bytes, 3, text, 7), 6);
  EXPECT_STREQ(text, "0aff10");
  memset(text, '#', sizeof(text));
  EXPECT_EQ(c.hexEncode(bytes, 3, text, 6) + c.hexEncode(bytes, 0, text, 8), 0);
  EXPECT_EQ(std::string(text, 8), std::string(6, '\0') + "##");
  EXPECT_EQ(c.hexEncode(nullptr, 3, text, 8) + c.hexEncode(bytes, 3, text, 0), 0) << "nothing in, no room";
  uint8_t bin[4];
  EXPECT_EQ(c.hexDecode("09afAF1", 7, nullptr, 0), 5);
  EXPECT_EQ(c.hexDecode("09afAF1", 7, bin, 4), 4);
  EXPECT_EQ(Bytes(bin, bin + 4), (Bytes{0x09, 0xAF, 0xAF, 0x01}));
  EXPECT_EQ(c.hexDecode("9`@/", 4, bin, 2), 2) << "digits count up to the first that is none";
  EXPECT_EQ(Bytes(bin, bin + 4), (Bytes{0x09, 0, 0xAF, 0x01}));
  EXPECT_EQ(c.hexDecode("0a0a0a", 6, bin, 2), 0);
  EXPECT_EQ(Bytes(bin, bin + 4), (Bytes{0, 0, 0xAF, 0x01}));
}

TEST(CryptMd5, Rfc1321VectorsAndTheShortAndMaskedForms) {
  bg::Crypt c;
  const char* suite[][2] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (auto& v : suite) {
    EXPECT_EQ(take(c, c.md5String(v[0])), v[1]) << v[0];
    EXPECT_EQ(take(c, c.md5Buffer(v[0], static_cast<int>(strlen(v[0])))), v[1]) << v[0];
  }
  EXPECT_EQ(take(c, c.md5Buffer("abc", -1)), suite[0][1]);
  char* digest = c.md5String("abc");
  c.md5Short(digest);
  EXPECT_EQ(take(c, digest), "3cd24fb0d6963f7d");
  EXPECT_EQ(take(c, c.md5StringMasked("abc")), "900050983cd04cb0d4943c7c28e07c70");
}

TEST(CryptMd5, FilesMatchTheSystemTool) {
  if (kqtest::kOnWindows) GTEST_SKIP() << "compares with the POSIX md5sum tool";
  kqtest::TempDir tmp;
  bg::Crypt c;
  // Lengths around the 56-byte padding edge and the 10240-byte chunks, and a few MiB.
  for (size_t n : {0, 55, 56, 63, 64, 65, 10239, 10240, 10241, 3 * 1024 * 1024 + 17}) {
    const std::string data = randomBytes(n, static_cast<unsigned>(n + 1));
    const std::string path = tmp.file("f" + std::to_string(n));
    kqtest::writeFile(path, data);
    const std::string expected = commandOutput("md5sum '" + path + "'").substr(0, 32);
    EXPECT_EQ(take(c, c.md5File(path.c_str())), expected) << n;
    EXPECT_EQ(take(c, c.md5Buffer(data.data(), static_cast<int>(n))), expected) << n;
  }
  EXPECT_EQ(c.md5File(tmp.file("missing").c_str()), nullptr);
}

}  // namespace
