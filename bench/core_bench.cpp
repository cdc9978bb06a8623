// The central object against its anchors, measured in the same run:
//  - CD->call to one of 20 registered components vs a std::map<std::string,
//    void*> lookup plus one virtual call of the same shape;
//  - InitBridge + LoadModule of the two example modules + UninitBridge, each
//    time in a fresh process (the library keeps process-wide state), in ms.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "kqbridge/kqbridge.h"

namespace {

const int kComponents = 20;
const char kChildFlag[] = "--kq-whole-run";

class Target : public bg::Interface {
 public:
  explicit Target(int i) { snprintf(m_name, sizeof(m_name), "component%02d", i); }
  bool init() override { return true; }
  bool initExtend() override { return true; }
  bool uninit() override { return true; }
  bg::Value process(const char* /*from*/, BridgeMsg msg) override { return bg::Value(msg.cmd + 1); }
};

// A temporary directory the library's files go to while the process runs; one
// per process, since the configuration directory is cached for its life.
class Sandbox {
 public:
  Sandbox() {
    char templ[] = "/tmp/kqbench-XXXXXX";
    m_root = mkdtemp(templ);
    std::filesystem::create_directory(m_root + "/tmp");
    for (const char* var : {"TMPDIR", "TMP", "TEMP", "HOMEPATH", "APPDATA"})
      setenv(var, (m_root + "/tmp").c_str(), 1);
  }
  ~Sandbox() {
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
  }

 private:
  std::string m_root;
};

void BM_CallThroughBridge(benchmark::State& state) {
  std::string host = std::string(KQ_EXAMPLE_MODULE_DIR) + "/core_bench";
  char* argv[] = {&host[0], nullptr};
  bg::InitBridge(1, argv);
  std::vector<Target*> targets;
  for (int i = 0; i < kComponents; ++i) {
    targets.push_back(new Target(i));
    bg::setInstance(targets.back()->m_name, targets.back());
  }
  BridgeMsg msg = {1, 0, "ping", 0, 0};
  for (auto _ : state) {
    bg::Value v = bg::CD->call("component13", msg);
    benchmark::DoNotOptimize(v);
  }
  bg::UninitBridge();
  for (Target* t : targets) delete t;
}
BENCHMARK(BM_CallThroughBridge);

void BM_Anchor_MapLookupVirtualCall(benchmark::State& state) {
  std::vector<Target*> targets;
  std::map<std::string, void*> table;
  table["Admin"] = nullptr;
  for (int i = 0; i < kComponents; ++i) {
    targets.push_back(new Target(i));
    table[targets.back()->m_name] = targets.back();
  }
  BridgeMsg msg = {1, 0, "ping", 0, 0};
  const char* volatile to = "component13";
  for (auto _ : state) {
    auto it = table.find(to);
    bg::Value v = static_cast<bg::Interface*>(it->second)->process("Admin", msg);
    benchmark::DoNotOptimize(v);
  }
  for (Target* t : targets) delete t;
}
BENCHMARK(BM_Anchor_MapLookupVirtualCall);

int runWholeBridge() {
  std::string host = std::string(KQ_EXAMPLE_MODULE_DIR) + "/core_bench";
  char* argv[] = {&host[0], nullptr};
  bg::InitBridge(1, argv);
  const char* names[] = {"demo_sensor.dll", "demo_display.dll"};
  int loaded = bg::LoadModule(names, 2, true);
  bg::UninitBridge();
  return loaded == 2 ? 0 : 1;
}

void BM_WholeProcessInitLoadUninit(benchmark::State& state) {
  std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
      if (!freopen("/dev/null", "w", stderr) || !freopen("/dev/null", "w", stdout)) _exit(3);
      execl(self.c_str(), self.c_str(), kChildFlag, static_cast<char*>(nullptr));
      _exit(4);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("the bridge run failed");
      break;
    }
    state.SetIterationTime(took.count());
  }
}
BENCHMARK(BM_WholeProcessInitLoadUninit)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace

int main(int argc, char** argv) {
  Sandbox sandbox;
  if (argc == 2 && strcmp(argv[1], kChildFlag) == 0) return runWholeBridge();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
