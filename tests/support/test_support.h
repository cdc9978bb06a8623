// Helpers shared by the test programs: temporary directories and environment
// guards, child processes with captured output, waiting without fixed sleeps
// and random text.
#ifndef KQBRIDGE_TESTS_SUPPORT_TEST_SUPPORT_H_
#define KQBRIDGE_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <sys/types.h>

#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kqtest_compat.h"

namespace kqtest {

// Sets or removes environment variables for its life; the destructor puts
// back every variable it touched as it was before the first change.
class EnvGuard {
 public:
  EnvGuard() = default;
  ~EnvGuard();
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

  void set(const char* name, const std::string& value);
  void unset(const char* name);

 private:
  void remember(const char* name);
  std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// Takes every line the library writes to standard error and output, for its
// life, instead of the streams.
class ConsoleCapture {
 public:
  ConsoleCapture();
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  std::string errors() const;
  std::string output() const;

 private:
  static void take(int stream, const char* text, void* self);
  mutable std::mutex m_lock;
  std::string m_streams[2];
};

// A fresh directory under the system temporary directory, removed with all
// its contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return m_path; }
  std::string file(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
  bool m_adopted;
};

// How a child started by Child on Windows, which replays its test, comes to
// the temporary directories and unique names its parent made: the next of
// them in the order made, or empty where there is no such hand-over (the
// maker then makes a fresh one and hands it down).
std::string handedDown();
void handDown(const std::string& dirOrName);

// A name no other test process uses at the same time (pid, counter, time);
// in a replaying child, the parent's.
std::string uniqueName(const std::string& prefix);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);
// How many entries `dir` holds (/proc/self/fd: open descriptors).
size_t countEntries(const std::string& dir);
inline bool contains(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}
// Whether one line of `text` holds every one of `parts`.
bool hasLine(const std::string& text, const std::vector<std::string>& parts);

// Up to `maxLen` bytes (none of them NUL); with an alphabet, about half the
// characters come from it so that parsers get past their first checks.
std::string randomText(std::mt19937& rng, size_t maxLen, const std::string& alphabet = std::string());

// True once `done()` holds; false after `seconds` of asking.
bool waitFor(const std::function<bool()>& done, int seconds = 60);

// A job that holds its thread until the test opens the gate.
class Gate {
 public:
  static void hold(void* gate) { static_cast<Gate*>(gate)->enterAndWait(); }
  void enterAndWait();
  bool waitEntered(int n);
  void open();
  int left();

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_entered = 0;
  int m_left = 0;
  bool m_open = false;
};

// `body` in a child process whose stdout and stderr are read into out/err as
// they come, so a chatty child never blocks. The child ends with
// exit(body()) unless body ends the process itself. On POSIX the child is a
// fork; on Windows it is this program started again on the current test,
// which it replays up to this point (child_win.cpp).
class Child {
 public:
  explicit Child(const std::function<int()>& body);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return m_pid; }
  // Reads output until `seen()` holds (true), or the child closed both
  // streams or `seconds` passed (false).
  bool waitOutput(const std::function<bool()>& seen, int seconds = 60);
  // Reads all output and reaps the child: its exit status, or -1 when it was
  // killed by a signal or still ran after `seconds` (it is then killed).
  int finish(int seconds = 120);

  std::string out;
  std::string err;

 private:
  bool pump(int timeoutMs);
  struct Process;  // the Windows side's record of the child
  Process* m_process = nullptr;
  pid_t m_pid = -1;
  int m_fds[2] = {-1, -1};
  int m_status = -2;
};

struct ChildResult {
  int status;
  std::string out;
  std::string err;
};
ChildResult runChild(const std::function<int()>& body);
// Under AddressSanitizer, whether memory this process allocated is no longer
// reachable (reported on stderr); elsewhere false. For a child, which ends
// without the check a sanitized process makes at exit.
bool leakedSoFar();

// A peer of a library pipe that speaks to the system's channel directly, as
// a program in another language would: a descriptor for read, write and
// close, or -1. `path` is the socket file or the "\\.\pipe\" name.
int rawPipeConnect(const std::string& path);
// Sends all of `bytes`; a peer that has gone gives false, never a signal.
bool rawSend(int fd, const std::string& bytes);
// Reads `n` bytes unless the peer ends first; the count read.
size_t readFull(int fd, void* buf, size_t n);
// Whether the peer of raw pipe `fd` hangs up within `ms` milliseconds.
bool peerHangsUp(int fd, int ms);
// Runs `body` with the process's address space capped a little above what it
// uses, so that no new thread can get a stack; false, without running it,
// where no cap can be set (Windows, sanitizer builds with their shadow memory).
bool withoutRoomForThreads(const std::function<void()>& body);

// A measure of the descriptors or handles the process holds (it grows with
// each one leaked), its peak resident memory, and the calling thread's CPU
// time.
size_t openHandles();
long peakMemoryKb();
double threadCpuMs();

// The calling thread's system id, and whether the thread of that id in this
// process sleeps (blocked on a lock, a condition or I/O). Windows cannot
// tell: it answers true after giving the thread a moment to get there.
int threadId();
bool isAsleep(int tid);

// In a child body: runs `path` (a bare name is looked up in PATH) with `args`
// (args[0] its name) in the child's place.
int runProgram(const std::string& path, std::vector<std::string> args);

// How the library prints a path: every run of separators as one of its own.
std::string shownPath(const std::string& path);

}  // namespace kqtest

// Inside a child body: report the failed condition on stderr and end the
// child with status 99.
#define CHILD_CHECK(cond)                                                      \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "child check failed at line %d: %s\n", __LINE__, #cond); \
      return 99;                                                               \
    }                                                                          \
  } while (0)

#endif  // KQBRIDGE_TESTS_SUPPORT_TEST_SUPPORT_H_
