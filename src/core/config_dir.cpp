#include <cstdio>
#include <utility>

#include "core/component_setup.h"
#include "kqbridge/utils.h"
#include "platform/console.h"
#include "platform/folders.h"

namespace bg {

namespace {

const char kProbeName[] = "~test_writeable~.tmp";

// Makes `dir` if needed and keeps it when a probe file can be written there;
// every failure is said on stderr.
bool takeIfUsable(const std::string& dir) {
  if (!mkDir(dir.c_str())) {
    platform::consoleError("\n\n[Bridge Error] can't mkdir:  %s\n\n", dir.c_str());
    return false;
  }
  if (!isDirWritable(dir.c_str(), kProbeName)) {
    platform::consoleError("\n\n[Bridge Error] no write access:  %s\n\n", dir.c_str());
    return false;
  }
  g_configDir = dir;
  platform::consoleError("[Bridge] config dir = %s\n", dir.c_str());
  return true;
}

// With every documented place unusable (no HOME, XDG_* or APPDATA, as under
// cron or a service manager), the files would otherwise be named from an
// empty directory, that is at the root of the file system, or not be kept
// at all. We keep them in a private folder in the temporary directory
// instead, and say so.
bool takePrivateTempFolder(const std::string& name) {
  std::string why;
  std::string dir = platform::privateTempFolder(name, &why);
  if (dir.empty()) {
    platform::consoleError(
        "\n\n[Bridge Error] no configuration directory, not even in the temporary one: %s\n\n", why.c_str());
    return false;
  }
  dir = normalizePath(dir);
  platform::consoleError("[Bridge Warning] no usual place could take the configuration directory; using %s\n",
                         dir.c_str());
  return takeIfUsable(dir);
}

}  // namespace

std::string findConfigDir(const std::string& name) {
  if (!g_configDir.empty()) return g_configDir;
  // Without a name every candidate would be a shared folder itself.
  if (name.empty()) {
    platform::consoleError(
        "\n\n[Bridge Error] no application name to name a configuration directory after\n\n");
    return g_configDir;
  }
  // The first place is the per-user data folder, which is what the
  // temporary directory's parent is on Windows; on POSIX that parent is the
  // file-system root, where nothing of ours belongs.
  const std::pair<std::string, std::string> candidates[] = {
      {platform::localDataFolder(), name},
      {getHomeDir(), name},
      {getAppDataDir(), name},
      {g_exeDir, platform::besideExecutableName(name)},
  };
  for (const auto& candidate : candidates) {
    // An unknown folder would put the directory at the root; we skip it.
    if (candidate.first.empty()) continue;
    if (takeIfUsable(normalizePath(candidate.first + "/" + candidate.second))) return g_configDir;
  }
  takePrivateTempFolder(name);
  return g_configDir;
}

}  // namespace bg
