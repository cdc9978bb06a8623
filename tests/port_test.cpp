// The POSIX port: where the files go, the real executable directory, clean
// children, Windows error numbers from errno and from module files, and an
// export list limited to the public API.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "bridge_sandbox.h"
#include "core/component_setup.h"
#include "kqbridge/kqbridge.h"
#include "platform/dynamic_library.h"
#include "platform/fs.h"
#include "platform/last_error.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using kqtest::contains;
using kqtest::runInChild;

const char* const kFolderVariables[] = {"TMP",     "TEMP",          "TMPDIR",          "HOMEPATH",
                                        "APPDATA", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "HOME"};

std::set<std::string> tree(const std::string& root) {
  std::set<std::string> paths;
  for (auto& e : fs::recursive_directory_iterator(root)) paths.insert(e.path().string());
  return paths;
}

bool waitForFile(const std::string& path) {
  for (int i = 0; i < 3000 && !kqtest::fileExists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return kqtest::fileExists(path);
}

// Each row sets some folder variables (under the sandbox root; "-" marks a
// path made unusable by a plain file in its way) and names the directory
// chosen. Nothing may appear outside it but the levels leading to it.
TEST(PortFolders, ConfigurationDirectoryFollowsTheEnvironment) {
  struct Row {
    std::vector<std::pair<const char*, const char*>> vars;
    const char* chosen;
  } rows[] = {
      {{{"HOME", "/home"}}, "/home/.local/share/app"},
      {{{"HOME", "/home"}, {"TMPDIR", "/tmp"}, {"TMP", "/tmp"}, {"TEMP", "/tmp"}}, "/home/.local/share/app"},
      {{{"HOME", "/home"}, {"XDG_DATA_HOME", "/data"}}, "/data/app"},
      {{{"HOME", "/home"}, {"XDG_DATA_HOME", "relative"}}, "/home/.local/share/app"},
      {{{"HOME", "-"}, {"HOMEPATH", "/hp"}}, "/hp/app"},
      {{{"HOME", "-"}, {"XDG_CONFIG_HOME", "/cfg"}}, "/cfg/app"},
      {{{"HOME", "-"}, {"XDG_CONFIG_HOME", "/cfg"}, {"APPDATA", "/ad"}}, "/ad/app"},
      {{{"HOME", "-"}}, "/bin/app"},
  };
  for (const Row& row : rows) {
    kqtest::TempDir td;
    const std::string root = td.path();
    kqtest::writeFile(root + "/-", "");
    for (const char* dir : {"/bin", "/home", "/hp", "/cfg", "/ad"}) mkdir((root + dir).c_str(), 0755);
    std::set<std::string> before = tree(root);
    std::string err;
    int rc = runInChild(
        [&] {
          for (const char* name : kFolderVariables) unsetenv(name);
          for (auto& v : row.vars) setenv(v.first, v.second[0] == '/' || v.second[0] == '-' ? (root + "/" + v.second).c_str() : v.second, 1);
          bg::setExecutablePath((root + "/bin/host").c_str());
          CHILD_CHECK(bg::findConfigDir("app") == root + row.chosen);
          return 0;
        },
        nullptr, &err);
    EXPECT_EQ(rc, 0) << row.chosen << err;
    if (row.vars[0].second[0] == '/') {
      EXPECT_EQ(err, "[Bridge] config dir = " + root + row.chosen + "\n");
    }
    for (const std::string& p : tree(root)) {
      if (before.count(p) != 0) continue;
      std::string chosen = root + row.chosen;
      EXPECT_TRUE(p.compare(0, chosen.size(), chosen) == 0 || chosen.compare(0, p.size() + 1, p + "/") == 0)
          << row.chosen << ": made " << p;
    }
  }
}

// Started through PATH from elsewhere, on a stock environment, the host finds
// its module beside the file it runs from and keeps its files in the data folder.
TEST(PortHost, StartedThroughPathLoadsModulesBesideItself) {
  kqtest::TempDir td;
  const std::string bin = td.path() + "/bin", home = td.path() + "/home";
  fs::create_directories(bin);
  fs::create_directories(home);
  fs::copy_file(KQ_HOST_PATH, bin + "/kqbridge-host");
  fs::create_symlink(std::string(KQ_TEST_MODULE_DIR) + "/mod_quit.dll", bin + "/mod_quit.dll");
  std::string out, err;
  int rc = runInChild(
      [&] {
        if (chdir(td.path().c_str()) != 0) return 98;
        std::string path = "PATH=" + bin + ":/usr/bin:/bin", homeVar = "HOME=" + home;
        char* const argv[] = {const_cast<char*>("kqbridge-host"), const_cast<char*>("--start"),
                              const_cast<char*>("mod_quit.dll"), nullptr};
        char* const envp[] = {&path[0], &homeVar[0], nullptr};
        putenv(&path[0]);  // the search runs on the caller's PATH
        execvpe("kqbridge-host", argv, envp);
        return 97;
      },
      &out, &err);
  EXPECT_EQ(rc, 0) << err;
  EXPECT_TRUE(contains(out, "quitter:initExtend")) << out << err;
  const std::string cfg = home + "/.local/share/kqbridge-host";
  EXPECT_TRUE(contains(err, "[Bridge] config dir = " + cfg + "\n")) << err;
  EXPECT_FALSE(contains(err, "\\")) << err;
  EXPECT_TRUE(kqtest::fileExists(cfg + "/conf/Admin.conf"));
  EXPECT_EQ(tree(td.path()).size(), tree(cfg).size() + 7) << "bin, its 2 files, home, .local, share, cfg";
}

// The folder opener's child holds none of our descriptors, blocks no signal
// and leads its own session, whatever the caller had.
TEST(PortShell, FolderOpenerStartsACleanChild) {
  kqtest::TempDir td;
  const std::string root = td.path(), report = root + "/report";
  kqtest::writeFile(root + "/xdg-open",
                    // The mask is read first and without a child: the shell blocks
                    // signals for a moment around each one it starts.
                    "#!/bin/sh\nwhile read -r k v; do [ \"$k\" = SigBlk: ] && echo \"$k $v\"; done"
                    " < /proc/$$/status > \"$0.tmp\"\n"
                    "for f in /proc/$$/fd/*; do readlink \"$f\"; done >> \"$0.tmp\"\n"
                    "[ \"$(cut -d' ' -f6 /proc/$$/stat)\" = \"$$\" ] && echo leader >> \"$0.tmp\"\n"
                    "mv \"$0.tmp\" " + report + "\n");
  chmod((root + "/xdg-open").c_str(), 0755);
  int rc = runInChild([&] {
    setenv("PATH", (root + ":/usr/bin:/bin").c_str(), 1);
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, nullptr);
    bg::Logger log((root + "/held.log").c_str());
    log.log(bg::LOG_ERROR, "open\n");
    FILE* held = bg::openFile((root + "/held.txt").c_str(), "w");
    bg::Share_Mem shm;
    CHILD_CHECK(held != nullptr && shm.open(kqtest::uniqueName("port-shm").c_str(), 64) > 0);
    bg::showInExplorer((root + "/held.txt").c_str());
    CHILD_CHECK(waitForFile(report));
    return 0;
  });
  ASSERT_EQ(rc, 0);
  std::string seen = kqtest::readFile(report);
  EXPECT_FALSE(contains(seen, "held")) << seen;
  EXPECT_FALSE(contains(seen, "/dev/shm")) << seen;
  EXPECT_TRUE(contains(seen, "SigBlk: 0000000000000000\n")) << seen;
  EXPECT_TRUE(contains(seen, "leader\n")) << seen;
}

// errno values, and the system calls that meet them, give the Windows numbers.
TEST(PortErrors, ErrnoMapsToTheClosestWindowsNumber) {
  namespace pf = bg::platform;
  const std::pair<int, unsigned> table[] = {
      {ENOENT, 2},   {EEXIST, 183},      {ENOTEMPTY, 145}, {EMFILE, 4}, {ENOSPC, 112}, {ENAMETOOLONG, 206},
      {EACCES, 5},   {EPERM, 5},         {ENOTDIR, 267},   {EINVAL, 87}, {EPIPE, 109}, {EAGAIN, 170},
      {EXDEV, 17},   {EHOSTUNREACH, 31},
  };
  for (auto& row : table) EXPECT_EQ(pf::winErrorFromErrno(row.first), row.second) << strerror(row.first);

  kqtest::TempDir td;
  kqtest::writeFile(td.file("f"), "");
  struct {
    int rc;
    unsigned expected;
  } calls[] = {
      {pf::makeDir(td.path().c_str()), 183},
      {pf::removeDir(td.path().c_str()), 145},
      {pf::makeDir((td.file("f") + "/sub").c_str()), 267},
      {pf::fileRemove((td.path() + "/" + std::string(300, 'x')).c_str()), 206},
  };
  for (auto& call : calls) EXPECT_EQ(call.rc, -1);
  // Each call left its number; only the last one is still readable.
  EXPECT_EQ(pf::getLastError(), 206u);
  EXPECT_EQ(pf::removeDir(td.path().c_str()), -1);
  EXPECT_EQ(pf::getLastError(), 145u);
}

// The load number comes from the file, not from the system's wording.
TEST(PortErrors, LibraryLoadNumbersComeFromTheFile) {
  namespace pf = bg::platform;
  kqtest::TempDir td;
  std::string module = std::string(KQ_TEST_MODULE_DIR) + "/mod_a.dll";
  std::string image = kqtest::readFile(module);
  kqtest::writeFile(td.file("text.dll"), "not a library");
  std::string otherClass = image, otherMachine = image;
  otherClass[4] = otherClass[4] == 1 ? 2 : 1;
  otherMachine[18] = 40;  // ARM
  otherMachine[19] = 0;
  kqtest::writeFile(td.file("class.dll"), otherClass);
  kqtest::writeFile(td.file("machine.dll"), otherMachine);
  const std::pair<std::string, unsigned> rows[] = {
      {td.file("missing.dll"), 126}, {td.file("text.dll"), 193},  {td.file("class.dll"), 193},
      {td.file("machine.dll"), 193}, {td.path(), 193},
  };
  for (auto& row : rows) {
    EXPECT_EQ(pf::openLibrary(row.first.c_str(), nullptr), nullptr) << row.first;
    EXPECT_EQ(pf::getLastError(), row.second) << row.first;
  }
  void* noEntry = pf::openLibrary((std::string(KQ_TEST_MODULE_DIR) + "\\mod_noentry.dll").c_str(), nullptr);
  ASSERT_NE(noEntry, nullptr);
  EXPECT_EQ(pf::findSymbol(noEntry, "get_component", nullptr), nullptr);
  EXPECT_EQ(pf::getLastError(), 127u);
}

// The shared library offers the public API and nothing of the platform layer.
TEST(PortExports, SharedLibraryExportsOnlyThePublicApi) {
  FILE* nm = popen("nm -DC --defined-only " KQ_LIBRARY_PATH, "r");
  ASSERT_NE(nm, nullptr);
  std::string symbols;
  char line[4096];
  while (fgets(line, sizeof(line), nm) != nullptr) symbols += line;
  ASSERT_EQ(pclose(nm), 0);
  EXPECT_TRUE(contains(symbols, " bg::InitBridge(int, char**)\n"));
  EXPECT_FALSE(contains(symbols, "bg::platform::")) << symbols;
  EXPECT_FALSE(contains(symbols, "bg::findConfigDir")) << symbols;
}

}  // namespace
