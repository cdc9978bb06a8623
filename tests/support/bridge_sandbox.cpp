#include "support/bridge_sandbox.h"

#include <kqbridge/kqbridge.h>

#include <cstdlib>
#include <filesystem>

#include "kqtest_compat.h"
#include "support/test_support.h"

namespace kqtest {

void Sandbox::enter() const {
  for (const char* sub : {"/home", "/appdata", "/bin", "/data", "/data/tmp", "/config"})
    mkdir((root + sub).c_str(), 0755);
  for (const char* var : {"TMPDIR", "TMP", "TEMP"}) setenv(var, (root + "/data/tmp").c_str(), 1);
  setenv("HOMEPATH", (root + "/home").c_str(), 1);
  setenv("HOME", (root + "/home").c_str(), 1);
  setenv("APPDATA", (root + "/appdata").c_str(), 1);
  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  mkdir(pipesDir.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", pipesDir.c_str(), 1);
}

void Sandbox::addModule(const std::string& file, const std::string& as) const {
  std::string target = std::string(KQ_TEST_MODULE_DIR) + "/" + file;
  if (symlink(target.c_str(), (binDir() + "/" + (as.empty() ? file : as)).c_str()) != 0) abort();
}

void Sandbox::writeAdminConf(const std::string& lines) const {
  mkdir(configDir().c_str(), 0755);
  mkdir((configDir() + "/conf").c_str(), 0755);
  writeFile(configDir() + "/conf/Admin.conf", "#Bridge Config (#note)\n" + lines);
}

int Sandbox::init() const {
  std::string exe = binDir() + "/" + app;
  char* argv[] = {&exe[0], nullptr};
  return bg::InitBridge(1, argv);
}

int Sandbox::load(std::vector<const char*> names, bool start) const {
  return bg::LoadModule(names.data(), static_cast<int>(names.size()), start);
}

std::string Sandbox::logFile(const std::string& stem, const std::string& ext) const {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(configDir() + "/log", ec)) {
    std::string name = entry.path().filename().string();
    if (name.size() > stem.size() + ext.size() && name.rfind(stem, 0) == 0 &&
        name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
      found.push_back(entry.path().string());
  }
  return found.size() == 1 ? readFile(found[0]) : std::string();
}

std::unique_ptr<Child> startHost(const std::string& root, const std::string& workDir,
                                 std::vector<std::string> args, const std::string& adminConf,
                                 const std::string& pipesDir) {
  return std::make_unique<Child>([=]() mutable {
    Sandbox box(root, "kqbridge-host");
    if (!pipesDir.empty()) box.pipesDir = pipesDir;
    box.enter();
    if (!adminConf.empty()) box.writeAdminConf(adminConf);
    if (chdir(workDir.c_str()) != 0) return 121;
    args.insert(args.begin(), "kqbridge-host");
    return runProgram(KQ_HOST_PATH, args);
  });
}

std::unique_ptr<Child> startCtl(const std::string& pipesDir, std::vector<std::string> args) {
  args.insert(args.begin(), "kqbridge-ctl");
  return std::make_unique<Child>([=] {
    setenv("XDG_RUNTIME_DIR", pipesDir.c_str(), 1);
    return runProgram(KQ_CTL_PATH, args);
  });
}

ChildResult runCtl(const std::string& pipesDir, std::vector<std::string> args) {
  std::unique_ptr<Child> ctl = startCtl(pipesDir, std::move(args));
  int status = ctl->finish();
  return ChildResult{status, ctl->out, ctl->err};
}

BridgeRun runBridge(const std::function<int(const Sandbox&)>& scenario) {
  TempDir dir;
  Sandbox box(dir.path());
  ChildResult child = runChild([&] {
    box.enter();
    return scenario(box);
  });
  return BridgeRun{child.status, child.out, child.err, box.logFile("Admin", ".log"),
                   box.logFile("Admin", ".tcr")};
}

}  // namespace kqtest
