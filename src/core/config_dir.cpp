#include <cstdio>

#include "core/component_setup.h"
#include "kqbridge/utils.h"

namespace bg {

namespace {

const char kProbeName[] = "~test_writeable~.tmp";

}  // namespace

std::string findConfigDir(const std::string& name) {
  if (!g_configDir.empty()) return g_configDir;
  const std::string candidates[] = {
      getTempDir() + "/../" + name,
      getHomeDir() + "/" + name,
      getAppDataDir() + "/" + name,
      g_exeDir + "/" + name,
  };
  for (const std::string& raw : candidates) {
    std::string dir = normalizePath(raw);
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
