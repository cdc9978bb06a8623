// Making, removing and finding directories, and the well-known ones.
#include <string>

#include "kqbridge/utils.h"
#include "platform/dir_stream.h"
#include "platform/env.h"
#include "platform/folders.h"
#include "platform/fs.h"
#include "platform/shell.h"
#include "utils/wide_path.h"

namespace bg {

bool isDirExist(const char* path) {
  if (path == nullptr) return false;
  platform::DirStream* dir = platform::openDir(path);
  if (dir == nullptr) {
    WidePath widePath(path);
    if (widePath.ok()) dir = platform::openDirW(widePath.c_str());
  }
  if (dir == nullptr) return false;
  platform::closeDir(dir);
  return true;
}

bool mkDir(const char* path) {
  if (path == nullptr) return false;
  if (isDirExist(path)) return true;
  if (platform::makeDir(path) == 0) return true;
  WidePath widePath(path);
  return widePath.ok() && platform::makeDirW(widePath.c_str()) == 0;
}

bool rmDir(const char* path) {
  if (!isDirExist(path)) return true;
  if (platform::removeDir(path) == 0) return true;
  WidePath widePath(path);
  return widePath.ok() && platform::removeDirW(widePath.c_str()) == 0;
}

std::string getTempDir() {
  return normalizePath(platform::tempPath());
}

std::string getAppDataDir() {
  return normalizePath(platform::appDataFolder());
}

std::string getHomeDir() {
  return normalizePath(platform::homeFolder());
}

// The folder that holds `path` is opened; the desktop opener has no way to
// select the item in it. A path without a directory part names an item of
// the working directory.
void showInExplorer(const char* path) {
  if (path == nullptr) return;
  std::string folder = getDirName(normalizePath(path).c_str());
  if (folder.empty()) folder = platform::currentDir();
  if (!isDirExist(folder.c_str())) return;
  platform::openFolder(folder.c_str());
}

}  // namespace bg
