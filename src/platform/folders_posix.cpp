#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/folders.h"

namespace bg {
namespace platform {

namespace {

std::string variable(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// The base-directory convention ignores relative values of its variables:
// they would move with the working directory.
std::string absoluteVariable(const char* name) {
  std::string value = variable(name);
  return !value.empty() && value[0] == '/' ? value : std::string();
}

std::string underHome(const char* relative) {
  std::string home = variable("HOME");
  return home.empty() ? std::string() : home + "/" + relative;
}

// mkdir -p with private permissions; existing levels are left as they are.
void makeLevels(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string level = path.substr(0, slash);
    if (mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) return;
    if (slash == std::string::npos) return;
  }
}

}  // namespace

std::string homeFolder() {
  std::string home = variable("HOMEPATH");
  return home.empty() ? variable("HOME") : home;
}

std::string appDataFolder() {
  std::string appData = variable("APPDATA");
  if (!appData.empty()) return appData;
  std::string config = absoluteVariable("XDG_CONFIG_HOME");
  return config.empty() ? underHome(".config") : config;
}

std::string localDataFolder() {
  std::string data = absoluteVariable("XDG_DATA_HOME");
  if (data.empty()) data = underHome(".local/share");
  if (!data.empty()) makeLevels(data);
  return data;
}

std::string executablePath() {
  std::string buf(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", &buf[0], buf.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}

}  // namespace platform
}  // namespace bg
