// Values against their plain standard-library anchors, measured in the same run.
#include <benchmark/benchmark.h>
#include <kqbridge/registry.h>
#include <kqbridge/value.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

void BM_ValueCopyStr(benchmark::State& state) {
  bg::Value v(std::string(static_cast<size_t>(state.range(0)), 'x'));
  for (auto _ : state) {
    bg::Value copy(v);
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_ValueCopyStr)->Arg(16)->Arg(256);

void BM_Anchor_StdStringCopy(benchmark::State& state) {
  std::string s(static_cast<size_t>(state.range(0)), 'x');
  for (auto _ : state) {
    std::string copy(s);
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_Anchor_StdStringCopy)->Arg(16)->Arg(256);

void BM_ValueWriteReadInt(benchmark::State& state) {
  bg::Value v(123456789);
  bg::Value back;
  for (auto _ : state) {
    std::string text = v.write();
    back.read(text.c_str());
    benchmark::DoNotOptimize(back);
  }
}
BENCHMARK(BM_ValueWriteReadInt);

void BM_Anchor_SnprintfSscanfInt(benchmark::State& state) {
  int value = 123456789;
  int back = 0;
  for (auto _ : state) {
    char buf[128];
    snprintf(buf, sizeof(buf), "[i]%d", value);
    sscanf(buf + 3, "%d", &back);
    benchmark::DoNotOptimize(back);
  }
}
BENCHMARK(BM_Anchor_SnprintfSscanfInt);

void BM_ValueWriteReadDouble(benchmark::State& state) {
  bg::Value v(12345.625);
  bg::Value back;
  for (auto _ : state) {
    std::string text = v.write();
    back.read(text.c_str());
    benchmark::DoNotOptimize(back);
  }
}
BENCHMARK(BM_ValueWriteReadDouble);

void BM_Anchor_SnprintfSscanfDouble(benchmark::State& state) {
  double value = 12345.625;
  double back = 0;
  for (auto _ : state) {
    char buf[128];
    snprintf(buf, sizeof(buf), "[d]%lf", value);
    sscanf(buf + 3, "%lf", &back);
    benchmark::DoNotOptimize(back);
  }
}
BENCHMARK(BM_Anchor_SnprintfSscanfDouble);

std::vector<std::string> instanceNames() {
  std::vector<std::string> names;
  for (int i = 0; i < 100; ++i) names.push_back("component_module_" + std::to_string(i * 7919 % 1000));
  return names;
}

void BM_GetInstance(benchmark::State& state) {
  std::vector<std::string> names = instanceNames();
  bg::clearInstance();
  for (auto& n : names) bg::setInstance(n.c_str(), &names);
  const char* target = names[57].c_str();
  for (auto _ : state) benchmark::DoNotOptimize(bg::getInstance(target));
  bg::clearInstance();
}
BENCHMARK(BM_GetInstance);

void BM_Anchor_MapFind(benchmark::State& state) {
  std::vector<std::string> names = instanceNames();
  std::map<std::string, void*> table;
  for (auto& n : names) table[n] = &names;
  const char* target = names[57].c_str();
  for (auto _ : state) {
    auto it = table.find(std::string(target));
    benchmark::DoNotOptimize(it->second);
  }
}
BENCHMARK(BM_Anchor_MapFind);

}  // namespace

BENCHMARK_MAIN();
