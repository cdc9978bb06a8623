#include <cstdio>

#include "core/component_setup.h"
#include "kqbridge/utils.h"
#include "platform/folders.h"

namespace bg {

namespace {

const char kProbeName[] = "~test_writeable~.tmp";

}  // namespace

std::string findConfigDir(const std::string& name) {
  if (!g_configDir.empty()) return g_configDir;
  // The first place is the per-user data folder, which is what the
  // temporary directory's parent is on Windows; on POSIX that parent is the
  // file-system root, where nothing of ours belongs.
  const std::string bases[] = {
      platform::localDataFolder(),
      getHomeDir(),
      getAppDataDir(),
      g_exeDir,
  };
  for (const std::string& base : bases) {
    // An unknown folder would put the directory at the root; we skip it.
    if (base.empty()) continue;
    std::string dir = normalizePath(base + "/" + name);
    if (!mkDir(dir.c_str())) {
      fprintf(stderr, "\n\n[Bridge Error] can't mkdir:  %s\n\n", dir.c_str());
      fflush(stderr);
      continue;
    }
    if (isDirWritable(dir.c_str(), kProbeName)) {
      g_configDir = dir;
      fprintf(stderr, "[Bridge] config dir = %s\n", dir.c_str());
      fflush(stderr);
      break;
    }
    fprintf(stderr, "\n\n[Bridge Error] no write access:  %s\n\n", dir.c_str());
    fflush(stderr);
  }
  return g_configDir;
}

}  // namespace bg
