// A private world for one InitBridge: temporary, home and app-data
// directories and an "executable" directory holding the module files a
// scenario needs, all under one fresh temporary directory. Scenarios run in
// a child process of their own, since InitBridge and the environment are
// process-wide.
#ifndef KQBRIDGE_TESTS_SUPPORT_BRIDGE_SANDBOX_H_
#define KQBRIDGE_TESTS_SUPPORT_BRIDGE_SANDBOX_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kqtest {

class Sandbox {
 public:
  static constexpr const char* kAppName = "kqhost";

  // Only names the places; nothing is made or changed yet. `app` is the
  // executable's name, which names the configuration directory.
  explicit Sandbox(const std::string& root, const std::string& app = kAppName)
      : root(root), app(app), pipesDir(root + "/run") {}

  // Makes the directories and points the environment at them for the rest
  // of the process (call it in the child).
  void enter() const;
  // Links modules built beside the tests into binDir(), under `as` if given.
  void addModule(const std::string& file, const std::string& as = std::string()) const;
  // Writes Admin.conf before InitBridge reads it.
  void writeAdminConf(const std::string& lines) const;
  // InitBridge as an executable in binDir().
  int init() const;
  // LoadModule over `names`.
  int load(std::vector<const char*> names, bool start) const;

  std::string binDir() const { return root + "/bin"; }
  // Where the first configuration-directory candidate puts the files: the data
  // folder, which on Windows is the temporary directory's parent.
  std::string configDir() const { return root + "/data/" + app; }
  // The content of the one file in the log directory named stem*ext.
  std::string logFile(const std::string& stem, const std::string& ext) const;

  std::string root;
  std::string app;
  // XDG_RUNTIME_DIR, under which the pipes (the admin endpoint's too) live.
  std::string pipesDir;
};

struct BridgeRun {
  int status;
  std::string out;
  std::string err;
  std::string log;    // the central log file
  std::string trace;  // the central trace file
};

// Runs `scenario` in a child process inside a fresh, entered sandbox and
// gives back what it printed and the central log and trace it left.
BridgeRun runBridge(const std::function<int(const Sandbox&)>& scenario);

// kqbridge-host as a child process started in `workDir`, inside a sandbox
// at `root` (named after the host's file); `adminConf` (if any) is written
// before it starts. Its pipes are in `pipesDir`, by default the sandbox's.
std::unique_ptr<Child> startHost(const std::string& root, const std::string& workDir,
                                 std::vector<std::string> args, const std::string& adminConf = "",
                                 const std::string& pipesDir = "");

// kqbridge-ctl with `args`, seeing the hosts in `pipesDir`; runCtl waits
// for its end.
std::unique_ptr<Child> startCtl(const std::string& pipesDir, std::vector<std::string> args);
ChildResult runCtl(const std::string& pipesDir, std::vector<std::string> args);

}  // namespace kqtest

#endif  // KQBRIDGE_TESTS_SUPPORT_BRIDGE_SANDBOX_H_
