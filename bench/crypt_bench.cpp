// Crypt's MD5 and Base64 against the libraries they are measured by, and the
// path and text routines the loader and the config reader call often.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>

extern "C" {
#include <libavutil/base64.h>
}

#include <benchmark/benchmark.h>
#include <kqbridge/kqbridge.h>

#include <cstdlib>
#include <random>
#include <string>

namespace {

std::string randomBytes(size_t n) {
  std::mt19937 rng(42);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

const std::string& md5Input() {
  static const std::string data = randomBytes(64 << 20);
  return data;
}

const std::string& base64Input() {
  static const std::string data = randomBytes(1 << 20);
  return data;
}

const std::string& base64Text() {
  static const std::string text = bg::Crypt().base64EncodeString(base64Input());
  return text;
}

void BM_Md5Buffer(benchmark::State& state) {
  const std::string& data = md5Input();
  bg::Crypt c;
  for (auto _ : state) {
    char* digest = c.md5Buffer(data.data(), static_cast<int>(data.size()));
    benchmark::DoNotOptimize(digest);
    c.freeBuffer(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Md5Buffer)->Unit(benchmark::kMillisecond);

void BM_Anchor_OpenSSL_MD5(benchmark::State& state) {
  const std::string& data = md5Input();
  unsigned char digest[MD5_DIGEST_LENGTH];
  for (auto _ : state) {
    MD5(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Anchor_OpenSSL_MD5)->Unit(benchmark::kMillisecond);

void BM_Base64EncodeString(benchmark::State& state) {
  const std::string& data = base64Input();
  bg::Crypt c;
  for (auto _ : state) {
    std::string text = c.base64EncodeString(data);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Base64EncodeString)->Unit(benchmark::kMicrosecond);

// The direct call, with the caller allocating the text as base64EncodeString does.
void BM_Anchor_av_base64_encode(benchmark::State& state) {
  const std::string& data = base64Input();
  const int size = AV_BASE64_SIZE(static_cast<int>(data.size()));
  for (auto _ : state) {
    char* text = static_cast<char*>(malloc(static_cast<size_t>(size)));
    av_base64_encode(text, size, reinterpret_cast<const uint8_t*>(data.data()),
                     static_cast<int>(data.size()));
    benchmark::DoNotOptimize(text);
    free(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Anchor_av_base64_encode)->Unit(benchmark::kMicrosecond);

void BM_Base64DecodeString(benchmark::State& state) {
  const std::string& text = base64Text();
  bg::Crypt c;
  for (auto _ : state) {
    std::string data = c.base64DecodeString(text);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(base64Input().size()));
}
BENCHMARK(BM_Base64DecodeString)->Unit(benchmark::kMicrosecond);

void BM_Anchor_av_base64_decode(benchmark::State& state) {
  const std::string& text = base64Text();
  const int size = static_cast<int>(AV_BASE64_DECODE_SIZE(text.size()));
  for (auto _ : state) {
    uint8_t* data = static_cast<uint8_t*>(malloc(static_cast<size_t>(size)));
    int n = av_base64_decode(data, text.c_str(), size);
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(data);
    free(data);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(base64Input().size()));
}
BENCHMARK(BM_Anchor_av_base64_decode)->Unit(benchmark::kMicrosecond);

void BM_NormalizePath(benchmark::State& state) {
  const std::string paths[] = {"C:/Users//me\\AppData/Roaming\\kqBridge//conf/",
                               "/home/me/.config/kqBridge/log/", "modules\\\\plugin.dll"};
  size_t i = 0;
  for (auto _ : state) {
    std::string out = bg::normalizePath(paths[i++ % 3]);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_NormalizePath);

void BM_Split(benchmark::State& state) {
  const std::string lines[] = {"LogLevel : 5", "alpha,beta,,gamma,delta",
                               "usr/local/lib/kqbridge/modules/a.dll"};
  const char* delims[] = {":", ",", "/"};
  size_t i = 0;
  for (auto _ : state) {
    size_t k = i++ % 3;
    std::vector<std::string> parts = bg::split(lines[k], delims[k], true);
    benchmark::DoNotOptimize(parts.data());
  }
}
BENCHMARK(BM_Split);

}  // namespace

BENCHMARK_MAIN();
