// The admin endpoint against its anchors, measured in the same run:
//  - a status of a host with 10,000 data keys and 1,000 channels: one
//    request and its answer over the pipe, parsed as JSON, and the whole of
//    `kqbridge-ctl status --json` as a process; anchor: building, writing
//    and parsing a JSON document of the same shape in memory;
//  - what an endpoint nobody asks costs the host: CD->call and
//    setDataNotify with one listener, with the endpoint (/1) and without it
//    (/0, the anchor), each side's median and fastest of 15 short runs;
//    read the CPU column, which what other processes do disturbs least.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "kqbridge/kqbridge.h"

extern char** environ;

namespace {

using nlohmann::json;

const int kKeys = 10000;
const int kChannels = 1000;

class Target : public bg::Interface {
 public:
  Target() { strcpy(m_name, "target"); }
  bool init() override { return true; }
  bool initExtend() override { return true; }
  bool uninit() override { return true; }
  bg::Value process(const char* /*from*/, BridgeMsg msg) override { return bg::Value(msg.cmd + 1); }
};

// Every file and pipe of the run under one temporary directory.
class Sandbox {
 public:
  Sandbox() {
    char templ[] = "/tmp/kqbench-XXXXXX";
    m_root = mkdtemp(templ);
    std::filesystem::create_directory(m_root + "/tmp");
    std::filesystem::create_directory(m_root + "/run");
    for (const char* var : {"TMPDIR", "TMP", "TEMP", "HOMEPATH", "APPDATA", "XDG_DATA_HOME"})
      setenv(var, (m_root + "/tmp").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (m_root + "/run").c_str(), 1);
  }
  ~Sandbox() {
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
  }

 private:
  std::string m_root;
};

// A bridge for one benchmark, with or without its endpoint.
class Bridge {
 public:
  explicit Bridge(bool endpoint) {
    std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    char* argv[] = {&exe[0], nullptr};
    bg::SetAdminPipe(endpoint);
    bg::InitBridge(1, argv);
    bg::setInstance(m_target.m_name, &m_target);
  }
  ~Bridge() { bg::UninitBridge(); }
  std::string pipe() const { return "kqbridge." + bg::g_exeName + "." + std::to_string(getpid()); }

 private:
  Target m_target;
};

// The keys and channels of the status benchmarks, alive as long as it is.
class BusyBus {
 public:
  BusyBus() {
    for (int i = 0; i < kKeys; ++i)
      bg::CD->m_data->setData(("sensor." + std::to_string(i)).c_str(), bg::Value(i * 0.5), true);
    for (int i = 0; i < kChannels; ++i) {
      m_ends.push_back(bg::CD->m_channelMgr->createChannel(("stream." + std::to_string(i)).c_str()));
      m_ends.back()->write("reading", 7);
    }
  }
  ~BusyBus() {
    for (bg::Abstract_Channel*& end : m_ends) bg::CD->m_channelMgr->releaseChannel(&end);
  }

 private:
  std::vector<bg::Abstract_Channel*> m_ends;
};

void BM_StatusOverThePipe(benchmark::State& state) {
  Bridge bridge(true);
  BusyBus bus;
  for (auto _ : state) {
    bg::pi::INamedPipe* client = bg::pi::create_pipe_client(bridge.pipe().c_str());
    client->Open();
    client->WriteString(R"({"op":"status"})");
    json status = json::parse(client->ReadString());
    bg::pi::destroy_pipe_client(&client);
    if (status["data"]["keys"].size() != kKeys) state.SkipWithError("the status misses keys");
    benchmark::DoNotOptimize(status);
  }
}
BENCHMARK(BM_StatusOverThePipe)->Unit(benchmark::kMillisecond);

// User and system time of the children that have ended, in milliseconds.
double childCpuMs() {
  struct rusage usage;
  getrusage(RUSAGE_CHILDREN, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

void BM_CtlStatusJson(benchmark::State& state) {
  Bridge bridge(true);
  BusyBus bus;
  std::string pid = std::to_string(getpid());
  std::vector<char*> argv = {const_cast<char*>("kqbridge-ctl"), const_cast<char*>("status"),
                             const_cast<char*>("--json"), &pid[0], nullptr};
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  double before = childCpuMs();
  for (auto _ : state) {
    pid_t child;
    int status = 0;
    if (posix_spawn(&child, KQ_CTL_PATH, &quiet, nullptr, argv.data(), environ) != 0 ||
        waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("kqbridge-ctl failed");
      break;
    }
  }
  posix_spawn_file_actions_destroy(&quiet);
  // On a loaded machine the wall time is mostly waiting for a core; what
  // kqbridge-ctl itself spent is shown beside it.
  state.counters["ctl_cpu_ms"] = (childCpuMs() - before) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_CtlStatusJson)->Unit(benchmark::kMillisecond);

void BM_Anchor_JsonOfTheSameShape(benchmark::State& state) {
  for (auto _ : state) {
    json keys = json::array();
    for (int i = 0; i < kKeys; ++i)
      keys.push_back(
          {{"key", "sensor." + std::to_string(i)}, {"kind", "double"}, {"size", 8}, {"listeners", 0}});
    json channels = json::array();
    for (int i = 0; i < kChannels; ++i)
      channels.push_back(
          {{"name", "stream." + std::to_string(i)}, {"queued", 1}, {"bytes", 7}, {"readersWaiting", 0}});
    std::string text = json{{"data", {{"keys", std::move(keys)}}}, {"channels", std::move(channels)}}.dump();
    json back = json::parse(text);
    benchmark::DoNotOptimize(back);
  }
}
BENCHMARK(BM_Anchor_JsonOfTheSameShape)->Unit(benchmark::kMillisecond);

// A difference of 1 % drowns in what other processes take from a loaded
// machine; over repetitions (--benchmark_repetitions) the fastest run of
// each side is the one least disturbed.
double fastest(const std::vector<double>& runs) {
  return *std::min_element(runs.begin(), runs.end());
}

// Without (/0) and with (/1) the endpoint, in short runs taken in random
// order (see main), so that both sides meet the same load.
void sideBySide(benchmark::internal::Benchmark* b) {
  b->ArgName("endpoint")->Arg(0)->Arg(1)->Repetitions(15)->MinTime(0.2)->ReportAggregatesOnly(true);
  b->ComputeStatistics("min", fastest);
}

void BM_Call(benchmark::State& state) {
  Bridge bridge(state.range(0) != 0);
  BridgeMsg msg = {1, 0, "ping", 0, 0};
  for (auto _ : state) {
    bg::Value v = bg::CD->call("target", msg);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_Call)->Apply(sideBySide);

void onValue(const char*, const bg::Value* v, ListenerRecord* rec) {
  rec->spare += v->toInt();
}

void BM_SetDataNotify(benchmark::State& state) {
  Bridge bridge(state.range(0) != 0);
  ListenerRecord record = {};
  record.callback = onValue;
  bg::CD->m_data->registListener("level", &record);
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(bg::CD->m_data->setDataNotify("level", bg::Value(++i), true));
}
BENCHMARK(BM_SetDataNotify)->Apply(sideBySide);

}  // namespace

int main(int argc, char** argv) {
  Sandbox sandbox;
  // The bridge's own lines would drown the table.
  if (!freopen("/dev/null", "w", stderr)) return 1;
  // Repetitions of one benchmark are spread among the others' (a flag
  // given on the command line comes later and wins).
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  argc = static_cast<int>(args.size());
  args.push_back(nullptr);
  argv = args.data();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
