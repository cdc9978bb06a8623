// The recursive directory walk. It moves the process into each directory it
// lists, so that callbacks open entries by their bare names.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "kqbridge/utils.h"
#include "platform/console.h"
#include "platform/dir_stream.h"
#include "platform/fs.h"

namespace bg {

namespace {

typedef void (*ListCallback)(void* user, const char* name);

// A directory link may lead back up the tree (d/loop -> ..) or to a place
// listed already, so each directory, known by its device and inode, is
// entered once per walk; and the walk stops going down at a depth no real
// tree reaches, since every level holds a directory stream open.
const int kMaxDepth = 128;

struct Walk {
  ListCallback callback;
  void* user;
  bool print;
  std::set<std::pair<uint64_t, uint64_t>> entered;
};

// False when `dir` was entered before in this walk.
bool enterOnce(Walk* w, const char* dir) {
  std::pair<uint64_t, uint64_t> id;
  if (!platform::fileIdentity(dir, &id)) return true;
  return w->entered.insert(id).second;
}

// An entry that cannot be examined is classified by what the stream said
// of it, and taken for a file when the stream could not say either.
bool isDirectoryEntry(const platform::DirEntry& entry) {
  FileStat st;
  if (platform::fileStat(entry.name, &st) == 0) return platform::isDirectory(st);
  return entry.kind == platform::kEntryDirectory;
}

bool isDotOrDotDot(const char* name) {
  return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

int walk(Walk* w, const char* dir, int depth) {
  platform::DirStream* stream = platform::openDir(dir);
  std::string previous = platform::currentDir();
  // A directory that opens but cannot be entered cannot be listed either:
  // its entries would be looked up in the wrong place.
  if (stream == nullptr || previous.empty() || platform::changeDir(dir) != 0) {
    if (stream != nullptr) platform::closeDir(stream);
    platform::consoleError("cannot open directory: %s\n", dir);
    return -1;
  }
  platform::DirEntry entry;
  while (platform::readDir(stream, &entry)) {
    if (!isDirectoryEntry(entry)) {
      if (w->print) platform::consoleOutput("%*s%s\n", depth * 4, "", entry.name);
      if (w->callback != nullptr) w->callback(w->user, entry.name);
    } else if (!isDotOrDotDot(entry.name)) {
      if (w->print) platform::consoleOutput("%*s%s/\n", depth * 4, "", entry.name);
      if (depth < kMaxDepth && enterOnce(w, entry.name)) walk(w, entry.name, depth + 1);
    }
  }
  platform::changeDir(previous.c_str());
  platform::closeDir(stream);
  return 0;
}

}  // namespace

int listDir(const char* dir, ListCallback callback, void* user, bool print) {
  if (dir == nullptr) {
    platform::consoleError("cannot open directory: %s\n", "(null)");
    return -1;
  }
  Walk w{callback, user, print, {}};
  enterOnce(&w, dir);
  return walk(&w, dir, 0);
}

}  // namespace bg
