// kqbridge-soak: the soak run (`make soak`).
//
//   kqbridge-soak [--seconds N] [--restart-seconds N] DIR
//
// Runs the example modules and the load generator (soak_load.dll) in the
// bridge for N seconds (600 by default), starting the bridge afresh every
// minute in the same process (UninitBridge, then InitBridge and the modules
// again), while a process of its own sends pipe messages from outside.
// Once a minute, just before the restart, it prints resident memory, heap
// in use, open descriptors, threads and operations done. It fails (status 1)
// when any of the first four keeps growing after the first minute, when any
// operation failed, or when a minute passed without a pipe message.
// Configuration, logs and pipes stay under DIR; the library's own messages
// on standard error are dropped. --restart-seconds shortens the period
// between restarts (and samples) for a quick run, which counts rounds.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kqbridge/kqbridge.h"
#include "process_sample.h"
#include "soak.h"

namespace {

const char kUsage[] = "usage: kqbridge-soak [--seconds N] [--restart-seconds N] DIR\n";

struct Options {
  int seconds = 600;
  int restartSeconds = 60;
  std::string dir;
};

bool parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if ((arg == "--seconds" || arg == "--restart-seconds") && i + 1 < argc) {
      int value = atoi(argv[++i]);
      if (value < 1) return false;
      (arg == "--seconds" ? o->seconds : o->restartSeconds) = value;
    } else if (o->dir.empty() && !arg.empty() && arg[0] != '-') {
      o->dir = arg;
    } else {
      return false;
    }
  }
  return !o->dir.empty();
}

// The bridge's files go under `dir`: configuration and logs in data/, pipes
// in run/ (which must be ours alone).
bool keepFilesUnder(const std::string& dir) {
  std::error_code ec;
  std::string root = std::filesystem::absolute(dir, ec).string();
  std::filesystem::create_directories(root + "/data", ec);
  std::filesystem::create_directories(root + "/run", ec);
  if (ec || chmod((root + "/run").c_str(), 0700) != 0) return false;
  bg::setEnv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  bg::setEnv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
  bg::setEnv("XDG_CONFIG_HOME", (root + "/data").c_str(), 1);
  return true;
}

// The process that sends from outside: a message every 20 ms until its
// parent has gone. While the bridge restarts nobody serves the pipe; those
// attempts fail and are not counted.
[[noreturn]] void sendFromOutside(const std::string& pipe, pid_t parent) {
  for (unsigned long n = 0; getppid() == parent; ++n) {
    bg::pi::INamedPipe* client = bg::pi::create_pipe_client(pipe.c_str());
    try {
      client->Open();
      client->WriteString(soak::kPipeGreeting + std::to_string(n));
    } catch (const std::exception&) {
    }
    bg::pi::destroy_pipe_client(&client);
    usleep(20000);
  }
  _exit(0);
}

struct Report {
  unsigned long long operations = 0;
  unsigned long long failures = 0;
  unsigned long long pipeMessages = 0;
  std::string firstFailure;
};

// The load generator's totals; a missing answer counts as a failure.
Report askTheLoad() {
  BridgeMsg msg = {soak::kCmdReport, 0, "report", 0, 0};
  std::istringstream in(bg::CD->call(soak::kComponent, msg).toStdString());
  Report r;
  if (!(in >> r.operations >> r.failures >> r.pipeMessages)) {
    r.failures = 1;
    r.firstFailure = "no report from " + std::string(soak::kComponent);
  }
  std::getline(in >> std::ws, r.firstFailure);
  return r;
}

double mb(long kb) {
  return static_cast<double>(kb) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, &options)) {
    fputs(kUsage, stderr);
    return 2;
  }
  if (!keepFilesUnder(options.dir)) {
    fprintf(stderr, "kqbridge-soak: cannot use '%s'\n", options.dir.c_str());
    return 1;
  }
  // The library reports each listener removed and each channel deleted on
  // standard error: thousands of lines a second under this load.
  if (!freopen("/dev/null", "w", stderr)) return 1;
  std::string pipe = "kqbridge-soak-" + std::to_string(getpid());
  bg::setEnv(soak::kPipeVariable, pipe.c_str(), 1);
  pid_t parent = getpid();
  pid_t sender = fork();
  if (sender == 0) sendFromOutside(pipe, parent);

  bg::setExecutablePath(argv[0]);
  std::string examples = std::filesystem::relative(KQ_EXAMPLE_MODULE_DIR, bg::g_exeDir).string();
  std::string sensor = examples + "/demo_sensor.dll", display = examples + "/demo_display.dll";
  const char* modules[] = {sensor.c_str(), display.c_str(), "soak_load.dll"};

  std::vector<soak::Sample> samples;
  std::string problems;
  Report report;
  unsigned long long lastOperations = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(options.seconds);
  int minute = 0;
  // A shorter period than a minute (a quick run) counts rounds instead.
  const char* unit = options.restartSeconds == 60 ? "minute" : "round";
  while (problems.empty() && std::chrono::steady_clock::now() < end) {
    ++minute;
    auto start = std::chrono::steady_clock::now();
    auto restart = std::min(end, start + std::chrono::seconds(options.restartSeconds));
    bg::InitBridge(1, argv);
    if (bg::LoadModule(modules, 3, true) != 3) problems = "the modules did not all load";
    while (problems.empty() && std::chrono::steady_clock::now() < restart) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    if (problems.empty()) report = askTheLoad();
    soak::Sample s = soak::sampleThisProcess();
    samples.push_back(s);
    printf(
        "soak: %s %d: %.1f MB resident, %.1f MB heap in use, %d descriptors, %d threads, "
        "%llu operations (+%llu), %llu pipe messages, %llu failures\n",
        unit, minute, mb(s.rssKb), mb(s.heapKb), s.descriptors, s.threads, report.operations,
        report.operations - lastOperations, report.pipeMessages, report.failures);
    fflush(stdout);
    bg::UninitBridge();
    // A last stretch of a second or two may be too short to see a message.
    bool fullMinute = std::chrono::steady_clock::now() - start >= std::chrono::seconds(5);
    if (!problems.empty()) {
    } else if (report.failures > 0) {
      problems = std::to_string(report.failures) + " failed operations, the first: " + report.firstFailure;
    } else if (fullMinute && report.operations == lastOperations) {
      problems = std::string("no operation done in ") + unit + " " + std::to_string(minute);
    } else if (fullMinute && report.pipeMessages == 0) {
      problems = std::string("no pipe message arrived in ") + unit + " " + std::to_string(minute);
    }
    lastOperations = report.operations;
  }
  kill(sender, SIGTERM);
  waitpid(sender, nullptr, 0);

  std::string grew = soak::growthAfterWarmUp(samples);
  if (!grew.empty()) problems += (problems.empty() ? "" : "; ") + ("keeps growing: " + grew);
  const soak::Sample& first = samples.front();
  const soak::Sample& last = samples.back();
  if (!problems.empty()) {
    printf("soak: FAILED after %d %ss: %s\n", minute, unit, problems.c_str());
    return 1;
  }
  printf(
      "soak: passed: %d %ss, %.1f MB resident (%.1f after the first), %.1f MB heap in use (%.1f), "
      "%d descriptors (%d), %d threads (%d), %llu operations, no failure\n",
      minute, unit, mb(last.rssKb), mb(first.rssKb), mb(last.heapKb), mb(first.heapKb), last.descriptors,
      first.descriptors, last.threads, first.threads, report.operations);
  return 0;
}
