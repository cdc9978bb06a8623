// The POSIX port: where the files go, the real executable directory, clean
// children, Windows error numbers and what a killed process leaves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <new>
#include <set>
#include <string>

#include "core/component_setup.h"
#include "kqbridge/kqbridge.h"
#include "platform/dir_stream.h"
#include "platform/dynamic_library.h"
#include "platform/fs.h"
#include "platform/last_error.h"
#include "platform/pipe.h"
#include "platform/shared_memory.h"
#include "support/test_support.h"

// The next allocation that may fail without throwing fails, when asked to:
// the failure paths behind it must still release what they hold.
std::atomic<bool> g_failNextNothrowNew{false};

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (g_failNextNothrowNew.exchange(false)) return nullptr;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

namespace {

namespace fs = std::filesystem;
namespace pf = bg::platform;
using kqtest::contains;

std::set<std::string> tree(const std::string& root) {
  std::set<std::string> paths;
  for (auto& e : fs::recursive_directory_iterator(root)) paths.insert(e.path().string());
  return paths;
}

// Each row sets folder variables (in the sandbox; "/-" is a plain file)
// and names the directory chosen; nothing else appears but its parents.
TEST(PortFolders, ConfigurationDirectoryFollowsTheEnvironment) {
  const std::pair<std::vector<std::pair<const char*, const char*>>, std::string> rows[] = {
      {{{"HOME", "/home"}}, "/home/.local/share/app"},
      {{{"HOME", "/home"}, {"TMPDIR", "/bin"}, {"TMP", "/bin"}, {"TEMP", "/bin"}}, "/home/.local/share/app"},
      {{{"HOME", "/home"}, {"XDG_DATA_HOME", "/data"}}, "/data/app"},
      {{{"HOME", "/home"}, {"XDG_DATA_HOME", "/x\\y"}}, "/x/y/app"},
      {{{"HOME", "/-"}, {"HOMEPATH", "/hp"}}, "/hp/app"},
      {{{"HOME", "/-"}, {"XDG_CONFIG_HOME", "/cfg"}}, "/cfg/app"},
      {{{"HOME", "/-"}, {"XDG_CONFIG_HOME", "/cfg"}, {"APPDATA", "/ad"}}, "/ad/app"},
      {{{"HOME", "/-"}}, "/bin/app.d"},
  };
  for (auto& [vars, dir] : rows) {
    kqtest::TempDir td;
    const std::string root = td.path(), chosen = root + dir;
    kqtest::writeFile(root + "/-", "");
    for (const char* d : {"/bin", "/home", "/hp", "/cfg", "/ad"}) mkdir((root + d).c_str(), 0755);
    std::set<std::string> before = tree(root);
    kqtest::ChildResult r = kqtest::runChild([&] {
      clearenv();
      for (auto& v : vars) setenv(v.first, (root + v.second).c_str(), 1);
      bg::setExecutablePath((root + "/bin/host").c_str());
      return bg::findConfigDir("app") == chosen ? 0 : 1;
    });
    EXPECT_TRUE(r.status == 0 &&
                (vars[0].second[1] == '-' || r.err == "[Bridge] config dir = " + chosen + "\n"))
        << r.err;
    for (const std::string& p : tree(root))
      EXPECT_TRUE(before.count(p) || p.rfind(chosen, 0) == 0 || chosen.rfind(p + "/", 0) == 0) << p;
  }
}

// Through PATH: modules beside the host; files in ~/.local/share, without
// HOME (cron, env -i) beside the host, else in a private temporary folder
// unless a link took its name. Nothing appears outside the folder printed.
TEST(PortHost, StartedThroughPathKeepsEveryFileInThePrintedFolder) {
  for (int place = 0; place < 4; ++place) {
    kqtest::TempDir td;
    // The program's path is longer than a first read of /proc/self/exe takes.
    const std::string bin = td.file(std::string(250, 'b')), home = td.file("home"), tmp = td.file("tmp"),
                      work = td.file("work");
    const std::string own = tmp + "/kqbridge-host-" + std::to_string(getuid());
    const std::string cfg[] = {home + "/.local/share/kqbridge-host", bin + "/kqbridge-host.d", own, ""};
    for (const std::string& d : {bin, home, tmp, work}) fs::create_directories(d);
    fs::copy_file(KQ_HOST_PATH, bin + "/kqbridge-host");
    fs::create_symlink(std::string(KQ_TEST_MODULE_DIR) + "/mod_quit.dll", bin + "/mod_quit.dll");
    if (place >= 2) kqtest::writeFile(bin + "/kqbridge-host.d", "");
    if (place == 3) fs::create_directory_symlink(home, own);
    std::set<std::string> before = tree(td.path());
    size_t atRoot = kqtest::countEntries("/");
    kqtest::ChildResult r = kqtest::runChild([&] {
      clearenv();
      setenv("PATH", (bin + ":/usr/bin:/bin").c_str(), 1);
      setenv("TMPDIR", tmp.c_str(), 1);
      if (place == 0) setenv("HOME", home.c_str(), 1);
      if (chdir(work.c_str()) != 0) return 98;
      return kqtest::runProgram("kqbridge-host", {"kqbridge-host", "--start", "mod_quit.dll"});
    });
    const std::string& shown = cfg[place];
    EXPECT_TRUE(r.status == 0 && contains(r.out, "quitter:initExtend") &&
                contains(r.err, shown.empty() ? own + " is a link" : " = " + shown + "\n"))
        << r.err;
    for (const std::string& p : tree(td.path()))
      EXPECT_TRUE(before.count(p) ||
                  (!shown.empty() && (p.rfind(shown, 0) == 0 || shown.rfind(p + "/", 0) == 0)))
          << p;
    EXPECT_EQ(kqtest::countEntries("/"), atRoot);
  }
}

// The opener gets the file's folder, holds none of our descriptors, blocks no
// signal, leads a session and is reaped for us; what cannot be shown is
// passed over quietly.
TEST(PortShell, FolderOpenerStartsACleanChild) {
  kqtest::TempDir td;
  const std::string root = td.path(), report = root + "/xdg-open.done";
  // The mask is read before the shell starts a child (it blocks signals then).
  kqtest::writeFile(root + "/xdg-open",
                    "#!/bin/sh\necho noise; echo noise >&2; echo \"arg $1\" > \"$0.tmp\"\n"
                    "while read -r k v; do [ \"$k\" = SigBlk: ] && echo \"$k $v\"; done"
                    " < /proc/$$/status >> \"$0.tmp\"\n"
                    "for f in /proc/$$/fd/*; do readlink \"$f\"; done >> \"$0.tmp\"\n"
                    "[ \"$(cut -d' ' -f6 /proc/$$/stat)\" = \"$$\" ] && echo leader >> \"$0.tmp\"\n"
                    "mv \"$0.tmp\" \"$0.done\"\n");
  chmod((root + "/xdg-open").c_str(), 0755);
  kqtest::ChildResult run = kqtest::runChild([&] {
    setenv("PATH", (root + ":/usr/bin:/bin").c_str(), 1);
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, nullptr);
    bg::Logger log((root + "/held.log").c_str());
    log.log(bg::LOG_ERROR, "open\n");
    bg::showInExplorer(nullptr);
    bg::showInExplorer((root + "/gone/report.txt").c_str());
    bg::showInExplorer((root + "/held.log").c_str());
    CHILD_CHECK(kqtest::waitFor([&] { return kqtest::fileExists(report); }));
    siginfo_t info;
    errno = 0;
    kqtest::waitFor([&] { return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0; }, 30);
    CHILD_CHECK(errno == ECHILD && !kqtest::leakedSoFar());
    return 0;
  });
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out + run.err, "") << "the opener writes nowhere we can see";
  std::string seen = kqtest::readFile(report);
  EXPECT_TRUE(contains(seen, "arg " + root + "/\n")) << seen;
  EXPECT_FALSE(contains(seen, "held")) << seen;
  EXPECT_TRUE(contains(seen, "SigBlk: 0000000000000000\n") && contains(seen, "\nleader\n")) << seen;
}

// errno values and module files that do not load (judged from the file) give
// Windows numbers, and so do symbols a module does not define itself (one of
// a library it uses does not count); a success clears it, and no failure
// leaves a descriptor open.
TEST(PortErrors, FailuresGiveWindowsNumbersAndLeaveNoDescriptorOpen) {
  const std::pair<int, unsigned> table[] = {
      {0, 0},         {ENOENT, 2},       {ECONNREFUSED, 2},   {EMFILE, 4},
      {ENFILE, 4},    {EACCES, 5},       {EPERM, 5},          {EISDIR, 5},
      {EBADF, 6},     {ENOMEM, 8},       {EXDEV, 17},         {EROFS, 19},
      {ETXTBSY, 32},  {ENOSYS, 50},      {EOPNOTSUPP, 50},    {ENOTSUP, 50},
      {EINVAL, 87},   {EPIPE, 109},      {ECONNRESET, 109},   {ENOSPC, 112},
      {ERANGE, 122},  {ENOTEMPTY, 145},  {EAGAIN, 170},       {EBUSY, 170},
      {EEXIST, 183},  {ENOEXEC, 193},    {ENAMETOOLONG, 206}, {EFBIG, 223},
      {ENOTDIR, 267}, {EOVERFLOW, 534},  {EINTR, 995},        {EIO, 1117},
      {EDQUOT, 1295}, {ETIMEDOUT, 1460}, {ELOOP, 1921},       {EHOSTUNREACH, 31},
  };
  for (auto& row : table) EXPECT_EQ(pf::winErrorFromErrno(row.first), row.second) << strerror(row.first);
  kqtest::TempDir td;
  const size_t descriptors = kqtest::countEntries("/proc/self/fd");
  EXPECT_TRUE(bg::isDirExist(td.path().c_str()));
  std::string image = kqtest::readFile(std::string(KQ_TEST_MODULE_DIR) + "/mod_a.dll");
  kqtest::writeFile(td.file("text.dll"), "not a library");
  kqtest::writeFile(td.file("arm.dll"), image.replace(18, 2, std::string("\x28\0", 2)));
  for (const char* name : {"missing.dll", "text.dll", "arm.dll", ""}) {
    EXPECT_EQ(pf::openLibrary(td.file(name).c_str(), nullptr), nullptr) << name;
    EXPECT_EQ(pf::getLastError(), std::string(name) == "missing.dll" ? 126u : 193u) << name;
  }
  void* module = pf::openLibrary(KQ_TEST_MODULE_DIR "/mod_a.dll", nullptr);
  EXPECT_NE(module, nullptr);
  EXPECT_EQ(pf::getLastError(), 0u);
  EXPECT_NE(pf::findSymbol(module, "get_component", nullptr), nullptr);
  EXPECT_EQ(pf::findSymbol(module, "malloc", nullptr), nullptr);
  EXPECT_EQ(pf::getLastError(), 127u);
  const std::string pipe = kqtest::uniqueName("port");
  EXPECT_EQ(pf::pipeConnect(pipe), nullptr);
  EXPECT_EQ(pf::getLastError(), 2u);
  EXPECT_TRUE(pf::fileOpen(nullptr, "r") == nullptr && pf::getLastError() == 2u);
  {
    kqtest::EnvGuard env;  // the pipes' directory under a plain file: no such pipe either
    env.set("XDG_RUNTIME_DIR", td.file("text.dll"));
    EXPECT_EQ(pf::pipeConnect(pipe), nullptr);
    EXPECT_EQ(pf::getLastError(), 2u);
  }
  pf::PipeListener* server = pf::pipeListen(pipe);
  EXPECT_EQ(pf::pipeListen(pipe), nullptr);
  EXPECT_EQ(pf::getLastError(), 231u) << "served already: busy";
  pf::pipeCloseListener(server);
  g_failNextNothrowNew = true;
  EXPECT_EQ(pf::openDir(td.path().c_str()), nullptr);
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_EQ(kqtest::countEntries("/proc/self/fd"), descriptors);
}

// A crash mid-save and a creator that died early leave files behind that
// the next process must cope with.
TEST(PortLeftovers, WhatAKilledProcessLeavesDoesNotHarmTheNext) {
  kqtest::TempDir td;
  std::string path = td.file("c.conf"), old = "#Bridge Config (#note)\nold : 1\n";
  kqtest::writeFile(path, old);
  EXPECT_EQ(kqtest::runChild([&] {  // the file-size limit kills it mid-write, as a crash would
              struct rlimit none = {0, 0}, small = {64, 64};
              bg::Config config(path.c_str());
              config.setValue("big", std::string(4000, 'x').c_str());
              if (setrlimit(RLIMIT_CORE, &none) == 0 && setrlimit(RLIMIT_FSIZE, &small) == 0) config.save();
              return 0;
            })
                .status,
            -1);
  EXPECT_EQ(kqtest::readFile(path), old);
  std::string name = kqtest::uniqueName("stale");
  // Such an object may be one a creator is still making: it is taken for
  // stale once it has not changed for 100 ms, and meanwhile waited for
  // asleep, not in a busy loop.
  auto cpuMs = [] {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
  };
  const size_t held = kqtest::openHandles();
  for (off_t size : {0, 8192}) {  // a creator that died before its header; a foreign object
    auto start = std::chrono::steady_clock::now();
    int fd = shm_open(bg::platform::sharedMemoryObjectName(name.c_str()).c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_TRUE(fd >= 0 && ftruncate(fd, size) == 0 && close(fd) == 0);
    double cpu = cpuMs();
    bg::Share_Mem creator, opener;
    EXPECT_EQ(creator.open(name.c_str(), 64), 1);
    EXPECT_LT(cpuMs() - cpu, 25.0);
    EXPECT_EQ(opener.open(name.c_str(), 64), 2);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  }
  EXPECT_EQ(kqtest::openHandles(), held) << "every look at a stale object closes it again";
  EXPECT_FALSE(pf::closeSharedMemory(nullptr));
  // An object that cannot get its size fails as out of memory, as a mapping would.
  EXPECT_EQ(kqtest::runChild([&] {
              struct rlimit small = {4096, 4096};
              signal(SIGXFSZ, SIG_IGN);
              CHILD_CHECK(setrlimit(RLIMIT_FSIZE, &small) == 0);
              CHILD_CHECK(pf::createSharedMemory(name.c_str(), 1 << 20) == nullptr && errno == ENOMEM);
              return 0;
            }).status,
            0);
}

}  // namespace
