// Logger, data bus notification and configuration loading against their
// anchors, measured in the same run.
#include <benchmark/benchmark.h>
#include <kqbridge/config.h>
#include <kqbridge/data.h>
#include <kqbridge/logger.h>
#include <kqbridge/utils.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

std::string scratchPath(const char* name) {
  const char* tmp = getenv("TMPDIR");
  return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kqbench-" + std::to_string(getpid()) +
         "-" + name;
}

const char kTime[] = "%Y-%m-%d %H:%M:%S";

// The central log line BG_LOG writes, flushed after every line.
void BM_LoggerLine(benchmark::State& state) {
  const std::string path = scratchPath("logger.log");
  {
    bg::Logger logger(path.c_str());
    int i = 0;
    for (auto _ : state) {
      logger.log(bg::LOG_ERROR, "[ERROR] %s | %-4d %-20s:  \"message number %d of %s\"\n",
                 bg::getTimeStr(kTime), 490, "abortThreadAndChannel", ++i, "the benchmark");
    }
  }
  remove(path.c_str());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LoggerLine);

// Anchor: the same text through a file sink that flushes every line.
void BM_Anchor_SpdlogFileSinkFlushEveryLine(benchmark::State& state) {
  const std::string path = scratchPath("spdlog.log");
  {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(path, true);
    spdlog::logger logger("bench", sink);
    logger.set_pattern("%v");
    logger.flush_on(spdlog::level::trace);
    int i = 0;
    for (auto _ : state) {
      logger.error("[ERROR] {} | {:<4} {:<20}:  \"message number {} of {}\"", bg::getTimeStr(kTime), 490,
                   "abortThreadAndChannel", ++i, "the benchmark");
    }
  }
  remove(path.c_str());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Anchor_SpdlogFileSinkFlushEveryLine);

std::string keyName(int i) {
  char buf[32];
  snprintf(buf, sizeof(buf), "component.key.%04d", i);
  return buf;
}

int g_calls = 0;
void countCall(const char*, const bg::Value*, ListenerRecord*) {
  ++g_calls;
}

void BM_SetDataNotifyOneListener(benchmark::State& state) {
  bg::Data data;
  for (int i = 0; i < 1000; ++i) data.setData(keyName(i).c_str(), bg::Value(i), false);
  ListenerRecord rec{};
  rec.callback = countCall;
  const std::string key = keyName(500);
  data.registListener(key.c_str(), &rec);
  bg::Value v(42);
  for (auto _ : state) benchmark::DoNotOptimize(data.setDataNotify(key.c_str(), v, true));
}
BENCHMARK(BM_SetDataNotifyOneListener);

// Anchor: std::map find + Value assignment + one indirect call.
void BM_Anchor_MapFindAssignIndirectCall(benchmark::State& state) {
  std::map<std::string, bg::Value> values;
  for (int i = 0; i < 1000; ++i) values.emplace(keyName(i), bg::Value(i));
  void (*volatile callback)(const char*, const bg::Value*, ListenerRecord*) = countCall;
  ListenerRecord rec{};
  const std::string key = keyName(500);
  bg::Value v(42);
  for (auto _ : state) {
    auto it = values.find(key.c_str());
    it->second = v;
    callback(key.c_str(), &v, &rec);
  }
}
BENCHMARK(BM_Anchor_MapFindAssignIndirectCall);

void BM_ConfigLoad10000Entries(benchmark::State& state) {
  const std::string path = scratchPath("load.conf");
  FILE* f = fopen(path.c_str(), "w");
  fputs("#Bridge Config (#note)\n", f);
  for (int i = 0; i < 10000; ++i) fprintf(f, "%s : value of entry %d\n", keyName(i).c_str(), i);
  fclose(f);
  for (auto _ : state) {
    bg::Config config(path.c_str());
    benchmark::DoNotOptimize(config.size());
  }
  remove(path.c_str());
}
BENCHMARK(BM_ConfigLoad10000Entries)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
