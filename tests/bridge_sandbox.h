// A private world for one InitBridge: temp, home and app-data directories
// and an "executable" directory holding the module files a test needs, all
// under one fresh temporary directory. Made inside a child process, since it
// points the environment at itself.
#ifndef KQBRIDGE_TESTS_BRIDGE_SANDBOX_H_
#define KQBRIDGE_TESTS_BRIDGE_SANDBOX_H_

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kqtest {

class BridgeSandbox {
 public:
  static constexpr const char* kAppName = "kqhost";

  explicit BridgeSandbox(const std::string& root) : m_root(root) {
    for (const char* sub : {"/tmp", "/home", "/appdata", "/bin"}) mkdir((m_root + sub).c_str(), 0755);
    for (const char* var : {"TMPDIR", "TMP", "TEMP"}) setenv(var, (m_root + "/tmp").c_str(), 1);
    setenv("HOMEPATH", (m_root + "/home").c_str(), 1);
    setenv("APPDATA", (m_root + "/appdata").c_str(), 1);
    setenv("XDG_DATA_HOME", m_root.c_str(), 1);
    m_hostPath = m_root + "/bin/" + kAppName;
  }

  // Links a module built beside the tests into the executable's directory.
  void addModule(const std::string& file, const std::string& as = std::string()) const {
    std::string target = std::string(KQ_TEST_MODULE_DIR) + "/" + file;
    if (symlink(target.c_str(), (binDir() + "/" + (as.empty() ? file : as)).c_str()) != 0) abort();
  }

  // argv[0] for InitBridge: an executable in binDir().
  char* argv0() { return &m_hostPath[0]; }
  std::string binDir() const { return m_root + "/bin"; }
  // Where the first candidate (in the data folder) puts the files.
  std::string configDir() const { return m_root + "/" + kAppName; }

  // Writes Admin.conf before InitBridge reads it.
  void writeAdminConf(const std::string& lines) const {
    mkdir(configDir().c_str(), 0755);
    mkdir((configDir() + "/conf").c_str(), 0755);
    writeFile(configDir() + "/conf/Admin.conf", "#Bridge Config (#note)\n" + lines);
  }

  // The files in the log directory whose names start with `stem` and end with `ext`.
  std::vector<std::string> logFiles(const std::string& stem, const std::string& ext) const {
    std::vector<std::string> found;
    std::string dir = configDir() + "/log";
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return found;
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > stem.size() + ext.size() && name.compare(0, stem.size(), stem) == 0 &&
          name.compare(name.size() - ext.size(), ext.size(), ext) == 0) {
        found.push_back(dir + "/" + name);
      }
    }
    closedir(d);
    return found;
  }

  std::string centralLog() const {
    std::vector<std::string> files = logFiles("Admin", ".log");
    return files.size() == 1 ? readFile(files[0]) : std::string();
  }

 private:
  std::string m_root;
  std::string m_hostPath;
};

// One central log line taken apart.
struct LogLine {
  std::string level;     // "ERROR" or "DEBUG"
  std::string function;  // as the call site's __func__
  std::string message;   // the text between the quotes
};

inline std::vector<LogLine> parseLog(const std::string& text) {
  static const std::regex kLine(
      R"re(^\[(ERROR|DEBUG)\] \d{4}-\d\d-\d\d \d\d:\d\d:\d\d \| \d+ +(\S+) *:  "(.*)"$)re");
  std::vector<LogLine> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::smatch m;
    std::string line = text.substr(start, end - start);
    if (std::regex_match(line, m, kLine)) lines.push_back({m[1], m[2], m[3]});
    start = end + 1;
  }
  return lines;
}

}  // namespace kqtest

#endif  // KQBRIDGE_TESTS_BRIDGE_SANDBOX_H_
