#include "kqbridge/config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "kqbridge/utils.h"
#include "platform/console.h"
#include "platform/file_replace.h"

namespace bg {

namespace {

const int kLineBufferSize = 102400;
const size_t kMaxKeyLength = 1023;
const char kBlanks[] = " \t\r\n";

bool isBlank(char c) {
  return c != '\0' && strchr(kBlanks, c) != nullptr;
}

// [begin, end) without leading and trailing blanks, tabs, CRs and LFs.
std::string trimmed(const char* begin, const char* end) {
  while (begin < end && isBlank(*begin)) ++begin;
  while (end > begin && isBlank(end[-1])) --end;
  return std::string(begin, end);
}

}  // namespace

struct Config::State {
  explicit State(const char* path) : path(strdup(path != nullptr ? path : "")) {}
  ~State() { free(path); }

  void load(FILE* f);
  // The header line and one "key : value" line per entry; false, said on
  // stderr, when the file cannot be written.
  bool writeFile();

  std::map<std::string, std::string> items;
  char* path;
  bool dirty = false;
};

Config::Config(const char* path) : m_state(new State(path)) {
  FILE* f = openFile(m_state->path, "rt");
  if (f == nullptr) return;
  m_state->load(f);
  fclose(f);
}

Config::~Config() {
  if (m_state->dirty) m_state->writeFile();
  delete m_state;
  m_state = nullptr;
}

// A line longer than the buffer arrives in pieces, each read as a line of its
// own. A line whose key is empty, or longer than 1023 characters once trimmed,
// is skipped: cutting such a key would invent an entry the file never had.
void Config::State::load(FILE* f) {
  std::unique_ptr<char[]> line(new (std::nothrow) char[kLineBufferSize]);
  if (!line) return;
  while (fgets(line.get(), kLineBufferSize, f) != nullptr) {
    const char* p = line.get();
    if (*p == '#') continue;
    const char* colon = strchr(p, ':');
    if (colon == nullptr) continue;
    std::string key = trimmed(p, colon);
    if (key.empty() || key.size() > kMaxKeyLength) continue;
    items.emplace(std::move(key), trimmed(colon + 1, colon + strlen(colon)));
  }
}

// Written beside the file and renamed over it once it is complete on disk: a
// save cut short by a crash or a kill leaves the previous file whole, where
// truncating in place would leave it empty or half written. A temporary left
// behind by such a cut is simply overwritten by the next save. An empty path
// names no file (a store kept in memory only): there is nothing to write.
bool Config::State::writeFile() {
  if (*path == '\0') return true;
  std::string temporary = std::string(path) + ".tmp";
  FILE* f = openFile(temporary.c_str(), "wt");
  bool written = f != nullptr;
  if (written) {
    fputs("#Bridge Config (#note)\n", f);
    for (const auto& item : items) fprintf(f, "%s : %s\n", item.first.c_str(), item.second.c_str());
    written = platform::flushToDisk(f) && !ferror(f);
    fclose(f);
  }
  if (written && platform::replaceFile(temporary.c_str(), path)) return true;
  if (f != nullptr) removeFile(temporary.c_str());
  platform::consoleError("[Config] (Error): can't write '%s'; its changes are not saved\n", path);
  return false;
}

bool Config::setValue(const char* key, const char* value) {
  if (key == nullptr) return false;
  if (value == nullptr) return removeValue(key);
  auto& items = m_state->items;
  auto it = items.find(key);
  if (it == items.end()) {
    items.emplace(key, value);
  } else if (it->second == value) {
    return true;
  } else {
    it->second = value;
  }
  m_state->dirty = true;
  return true;
}

bool Config::removeValue(const char* key) {
  if (key == nullptr || m_state->items.erase(key) == 0) return false;
  m_state->dirty = true;
  return true;
}

const char* Config::getValue(const char* key, const char* def) {
  if (key == nullptr) return def;
  auto it = m_state->items.find(key);
  return it == m_state->items.end() ? def : it->second.c_str();
}

bool Config::getValueBuf(const char* key, char* dst, int len) {
  if (key == nullptr) return false;
  auto it = m_state->items.find(key);
  if (it == m_state->items.end()) return false;
  if (dst != nullptr && len > 0) strncpy(dst, it->second.c_str(), static_cast<size_t>(len));
  return true;
}

const char* Config::getOrSetValue(const char* key, const char* def) {
  const char* value = getValue(key, def);
  if (value == def) setValue(key, def);
  return value;
}

bool Config::hasKey(const char* key) {
  return key != nullptr && m_state->items.count(key) != 0;
}

// A save that fails keeps the store dirty, so that the next save (or the
// deletion) tries again: dropping the mark would lose the change for good.
void Config::save() {
  if (m_state->dirty) m_state->dirty = !m_state->writeFile();
}

const char* Config::getPath() {
  return m_state->path;
}

// Nothing in the library distinguishes a developer set-up yet.
bool Config::isDeveloperMode() {
  return false;
}

void Config::clear() {
  if (isEmpty()) return;
  m_state->items.clear();
  m_state->dirty = true;
}

int Config::size() {
  return static_cast<int>(m_state->items.size());
}

bool Config::isEmpty() {
  return m_state->items.empty();
}

void Config::travell(void (*cb)(const char* key, const char* value, void* user), void* user) {
  if (cb == nullptr) return;
  for (const auto& item : m_state->items) cb(item.first.c_str(), item.second.c_str(), user);
}

Abstract_Config* Config::create(const char* path) {
  return new Config(path);
}

void Config::destroy(Abstract_Config** pp) {
  if (pp == nullptr) return;
  delete *pp;
  *pp = nullptr;
}

}  // namespace bg
