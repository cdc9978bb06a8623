// bg::Crypt: AES, Base64, MD5, hexadecimal coding and byte scrambling.
#ifndef KQBRIDGE_CRYPT_H_
#define KQBRIDGE_CRYPT_H_

#include <cstdint>
#include <string>

#include "kqbridge/interface.h"

namespace bg {

// Text results of the C-style operations come from malloc; release them with
// freeBuffer. Failures are reported by results, never by exceptions. Safe on
// any thread; an AES context must not be shared while in use.
class KQ_EXPORT Abstract_Crypt : public Abstract_Base {
 public:
  virtual void* aesAlloc() = 0;
  virtual void aesFree(void** ctx) = 0;
  // 0, or 22 when keyBits is not 128, 192 or 256.
  virtual int aesInit(void* ctx, const uint8_t* key, int keyBits, int decrypt) = 0;
  // `count` 16-byte blocks; ECB when `iv` is null, else CBC updating `iv`.
  virtual int aesCrypt(void* ctx, uint8_t* dst, const uint8_t* src, int count, uint8_t* iv, int decrypt) = 0;
  // Base64 of the AES-ECB encryption of `plain` padded to a multiple of the key length.
  virtual std::string aesEncrypt(const std::string& plain, const std::string& key, bool* ok) = 0;
  virtual std::string aesDecrypt(const std::string& text, const std::string& key, bool* ok) = 0;
  virtual int base64DecodedSize(int n) = 0;
  virtual int base64EncodedSize(int n) = 0;
  virtual std::string base64DecodeString(const std::string& text) = 0;
  // Bytes written, or -1 for an invalid character.
  virtual int base64Decode(uint8_t* out, const char* text, int outSize) = 0;
  virtual std::string base64EncodeString(const std::string& data) = 0;
  virtual char* base64Encode(char* out, int outSize, const uint8_t* in, int inSize) = 0;
  virtual char* md5Buffer(const void* data, int len) = 0;
  virtual char* md5String(const char* s) = 0;
  virtual char* md5StringMasked(const char* s) = 0;
  // Null when the file cannot be opened.
  virtual char* md5File(const char* path) = 0;
  virtual void md5Short(char* hex) = 0;
  virtual void freeBuffer(void* p) = 0;
  virtual void scramble(uint8_t* buf, int len, uint8_t seed) = 0;
  virtual void unscramble(uint8_t* buf, int len, uint8_t seed) = 0;
  virtual int hexEncode(const uint8_t* in, int n, char* out, int outSize) = 0;
  virtual int hexDecode(const char* in, int n, uint8_t* out, int outSize) = 0;
  // AES-128-ECB with PKCS#7 padding to allocated Base64 text.
  virtual int aes128EncryptToBase64(const uint8_t* in, int inLen, char** out, const uint8_t* key) = 0;
  virtual std::string aes128EncryptString(const char* in, const char* key) = 0;
  virtual int aes128DecryptFromBase64(const char* text, int textLen, char** out, const uint8_t* key) = 0;
  virtual std::string aes128DecryptString(const char* text, const char* key) = 0;
};

class KQ_EXPORT Crypt : public Abstract_Crypt {
 public:
  Crypt();
  ~Crypt() override;
  void* aesAlloc() override;
  void aesFree(void** ctx) override;
  int aesInit(void* ctx, const uint8_t* key, int keyBits, int decrypt) override;
  int aesCrypt(void* ctx, uint8_t* dst, const uint8_t* src, int count, uint8_t* iv, int decrypt) override;
  std::string aesEncrypt(const std::string& plain, const std::string& key, bool* ok) override;
  std::string aesDecrypt(const std::string& text, const std::string& key, bool* ok) override;
  int base64DecodedSize(int n) override;
  int base64EncodedSize(int n) override;
  std::string base64DecodeString(const std::string& text) override;
  int base64Decode(uint8_t* out, const char* text, int outSize) override;
  std::string base64EncodeString(const std::string& data) override;
  char* base64Encode(char* out, int outSize, const uint8_t* in, int inSize) override;
  char* md5Buffer(const void* data, int len) override;
  char* md5String(const char* s) override;
  char* md5StringMasked(const char* s) override;
  char* md5File(const char* path) override;
  void md5Short(char* hex) override;
  void freeBuffer(void* p) override;
  void scramble(uint8_t* buf, int len, uint8_t seed) override;
  void unscramble(uint8_t* buf, int len, uint8_t seed) override;
  int hexEncode(const uint8_t* in, int n, char* out, int outSize) override;
  int hexDecode(const char* in, int n, uint8_t* out, int outSize) override;
  int aes128EncryptToBase64(const uint8_t* in, int inLen, char** out, const uint8_t* key) override;
  std::string aes128EncryptString(const char* in, const char* key) override;
  int aes128DecryptFromBase64(const char* text, int textLen, char** out, const uint8_t* key) override;
  std::string aes128DecryptString(const char* text, const char* key) override;
};

}  // namespace bg

#endif  // KQBRIDGE_CRYPT_H_
