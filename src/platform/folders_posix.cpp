#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include "platform/env.h"
#include "platform/folders.h"
#include "platform/path.h"

namespace bg {
namespace platform {

namespace {

// A folder variable is a path like any other we are given: '\' separates.
std::string variable(const char* name) {
  return nativePath(getenv(name));
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

std::string besideExecutableName(const std::string& name) {
  return name + ".d";
}

// <tmp>/<name>-<uid>. The temporary directory is shared: a name someone else
// took first (a link to elsewhere, their own folder) is refused, never used.
std::string privateTempFolder(const std::string& name, std::string* why) {
  std::string dir = nativePath(tempPath()) + name + "-" + std::to_string(getuid());
  struct stat st;
  if ((mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) || lstat(dir.c_str(), &st) != 0) {
    *why = dir + ": " + std::generic_category().message(errno);
  } else if (S_ISLNK(st.st_mode)) {
    *why = dir + " is a link";
  } else if (!S_ISDIR(st.st_mode)) {
    *why = dir + " is not a directory";
  } else if (st.st_uid != getuid()) {
    *why = dir + " belongs to another user";
  } else if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0) {
    *why = dir + ": " + std::generic_category().message(errno);
  } else {
    return dir;
  }
  return std::string();
}

}  // namespace platform
}  // namespace bg
