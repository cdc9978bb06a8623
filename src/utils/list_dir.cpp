// The recursive directory walk. It moves the process into each directory it
// lists, so that callbacks open entries by their bare names.
#include <cstdio>
#include <cstring>
#include <string>

#include "kqbridge/utils.h"
#include "platform/dir_stream.h"
#include "platform/fs.h"

namespace bg {

namespace {

typedef void (*ListCallback)(void* user, const char* name);

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

int walk(const char* dir, ListCallback callback, void* user, bool print, int depth) {
  platform::DirStream* stream = platform::openDir(dir);
  std::string previous = platform::currentDir();
  // A directory that opens but cannot be entered cannot be listed either:
  // its entries would be looked up in the wrong place.
  if (stream == nullptr || previous.empty() || platform::changeDir(dir) != 0) {
    if (stream != nullptr) platform::closeDir(stream);
    fprintf(stderr, "cannot open directory: %s\n", dir);
    return -1;
  }
  platform::DirEntry entry;
  while (platform::readDir(stream, &entry)) {
    if (!isDirectoryEntry(entry)) {
      if (print) printf("%*s%s\n", depth * 4, "", entry.name);
      if (callback != nullptr) callback(user, entry.name);
    } else if (!isDotOrDotDot(entry.name)) {
      if (print) printf("%*s%s/\n", depth * 4, "", entry.name);
      walk(entry.name, callback, user, print, depth + 1);
    }
  }
  platform::changeDir(previous.c_str());
  platform::closeDir(stream);
  return 0;
}

}  // namespace

int listDir(const char* dir, ListCallback callback, void* user, bool print) {
  if (dir == nullptr) {
    fprintf(stderr, "cannot open directory: %s\n", "(null)");
    return -1;
  }
  return walk(dir, callback, user, print, 0);
}

}  // namespace bg
