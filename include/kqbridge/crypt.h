/// \file
/// bg::Crypt: AES, Base64, MD5, hexadecimal coding and byte scrambling.
#ifndef KQBRIDGE_CRYPT_H_
#define KQBRIDGE_CRYPT_H_

#include <cstdint>
#include <string>

#include "kqbridge/interface.h"

namespace bg {

/// Text results of the C-style operations come from malloc; release them with
/// freeBuffer. Failures are reported by results, never by exceptions. Safe on
/// any thread; an AES context must not be shared while in use.
class KQ_EXPORT Abstract_Crypt : public Abstract_Base {
 public:
  /// A new AES context, or null; give it back with aesFree.
  virtual void* aesAlloc() = 0;
  /// Frees *ctx and nulls it.
  virtual void aesFree(void** ctx) = 0;
  /// 0, or 22 when keyBits is not 128, 192 or 256.
  virtual int aesInit(void* ctx, const uint8_t* key, int keyBits, int decrypt) = 0;
  /// `count` 16-byte blocks; ECB when `iv` is null, else CBC updating `iv`.
  virtual int aesCrypt(void* ctx, uint8_t* dst, const uint8_t* src, int count, uint8_t* iv, int decrypt) = 0;
  /// Base64 of the AES-ECB encryption of `plain` padded to a multiple of the key length.
  /// The key is 16, 24 or 32 bytes; *ok (when given) tells whether it worked.
  virtual std::string aesEncrypt(const std::string& plain, const std::string& key, bool* ok) = 0;
  /// The reverse of aesEncrypt; "" with *ok false for a wrong key or damaged text.
  virtual std::string aesDecrypt(const std::string& text, const std::string& key, bool* ok) = 0;
  /// Room for the bytes of `n` Base64 characters.
  virtual int base64DecodedSize(int n) = 0;
  /// Room for the Base64 text of `n` bytes, terminator included.
  virtual int base64EncodedSize(int n) = 0;
  /// The bytes of `text`; "" when it is not Base64.
  virtual std::string base64DecodeString(const std::string& text) = 0;
  /// Bytes written, or -1 for an invalid character.
  virtual int base64Decode(uint8_t* out, const char* text, int outSize) = 0;
  /// The Base64 text of `data`.
  virtual std::string base64EncodeString(const std::string& data) = 0;
  /// The terminated Base64 text of `in` in `out`, or null when `outSize` is too small.
  virtual char* base64Encode(char* out, int outSize, const uint8_t* in, int inSize) = 0;
  ///@{
  /// The MD5 digest as 32 lower-case hexadecimal digits in a malloc'd buffer
  /// (null when out of memory); the masked form clears the two low bits of every byte.
  virtual char* md5Buffer(const void* data, int len) = 0;
  virtual char* md5String(const char* s) = 0;
  virtual char* md5StringMasked(const char* s) = 0;
  ///@}
  /// Null when the file cannot be opened.
  virtual char* md5File(const char* path) = 0;
  /// Cuts a digest text to its middle 16 digits, in place.
  virtual void md5Short(char* hex) = 0;
  /// free() for what the operations above returned; null is fine.
  virtual void freeBuffer(void* p) = 0;
  ///@{
  /// Reversible in-place byte scrambling keyed by `seed` (not encryption).
  virtual void scramble(uint8_t* buf, int len, uint8_t seed) = 0;
  virtual void unscramble(uint8_t* buf, int len, uint8_t seed) = 0;
  ///@}
  /// 2n lower-case digits and a terminator into `out`: the digits written, 0
  /// when `out` is too small; with a null `out`, the room needed.
  virtual int hexEncode(const uint8_t* in, int n, char* out, int outSize) = 0;
  /// The bytes of `n` hexadecimal digits into `out`: the count, 0 when `out`
  /// is too small; with a null `out`, one more than the room needed.
  virtual int hexDecode(const char* in, int n, uint8_t* out, int outSize) = 0;
  /// AES-128-ECB with PKCS#7 padding to allocated Base64 text.
  /// The text's size with its terminator; 0 for no input, -1 a bad key, -2 or -3 out of memory.
  virtual int aes128EncryptToBase64(const uint8_t* in, int inLen, char** out, const uint8_t* key) = 0;
  /// aes128EncryptToBase64 of a text with a text key (cut or zero-filled to
  /// 16 bytes); "" on failure.
  virtual std::string aes128EncryptString(const char* in, const char* key) = 0;
  /// The plain text's length, *out its allocated terminated copy; -1 out of
  /// memory, -2 text that is not whole Base64 blocks, -3 a bad key, -4 a wrong key or damaged text.
  virtual int aes128DecryptFromBase64(const char* text, int textLen, char** out, const uint8_t* key) = 0;
  /// The reverse of aes128EncryptString; "" on failure.
  virtual std::string aes128DecryptString(const char* text, const char* key) = 0;
};

/// The routines behind each component's own m_crypt.
class KQ_EXPORT Crypt : public Abstract_Crypt {
 public:
  /// Holds no state.
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
