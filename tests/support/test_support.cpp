#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "kqbridge/bridge.h"
#include "kqtest_compat.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace kqtest {

bool leakedSoFar() {
#if defined(__SANITIZE_ADDRESS__)
  return __lsan_do_recoverable_leak_check() != 0;
#else
  return false;
#endif
}

EnvGuard::~EnvGuard() {
  for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
    if (it->second) {
      setenv(it->first.c_str(), it->second->c_str(), 1);
    } else {
      unsetenv(it->first.c_str());
    }
  }
}

void EnvGuard::remember(const char* name) {
  for (const auto& saved : m_saved)
    if (saved.first == name) return;
  const char* old = getenv(name);
  m_saved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
}

void EnvGuard::set(const char* name, const std::string& value) {
  remember(name);
  setenv(name, value.c_str(), 1);
}

void EnvGuard::unset(const char* name) {
  remember(name);
  unsetenv(name);
}

namespace {

std::string freshName(const std::string& prefix) {
  static std::atomic<int> counter{0};
  auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  std::ostringstream os;
  os << prefix << "-" << getpid() << "-" << counter++ << "-" << (now % 1000000007);
  return os.str();
}

}  // namespace

ConsoleCapture::ConsoleCapture() {
  bg::SetConsoleSink([](int stream, const char* text, void* self) { take(stream == 2 ? 0 : 1, text, self); },
                     this);
}

ConsoleCapture::~ConsoleCapture() {
  bg::SetConsoleSink(nullptr, nullptr);
}

void ConsoleCapture::take(int stream, const char* text, void* self) {
  ConsoleCapture* capture = static_cast<ConsoleCapture*>(self);
  std::lock_guard<std::mutex> hold(capture->m_lock);
  capture->m_streams[stream] += text;
}

std::string ConsoleCapture::errors() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_streams[0];
}

std::string ConsoleCapture::output() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_streams[1];
}

// A child on Windows works in the directories its parent made (see
// child_win.cpp); everywhere else each TempDir is a fresh one of our own.
TempDir::TempDir() : m_path(handedDown()), m_adopted(!m_path.empty()) {
  if (m_adopted) return;
  std::filesystem::path base = std::filesystem::temp_directory_path();
  for (;;) {
    std::filesystem::path dir = base / freshName("kqtest");
    std::error_code ec;
    if (std::filesystem::create_directory(dir, ec)) {
      m_path = dir.string();
      handDown(m_path);
      return;
    }
    if (ec) throw std::runtime_error("cannot make a directory under " + base.string());
  }
}

TempDir::~TempDir() {
  if (m_adopted) return;
  std::error_code ec;
  std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                               ec);
  std::filesystem::remove_all(m_path, ec);
}

std::string uniqueName(const std::string& prefix) {
  std::string name = handedDown();
  if (name.empty()) handDown(name = freshName(prefix));
  return name;
}

// Paths are UTF-8, also where the system's narrow calls take another code
// page. Text files the library writes on Windows end their lines with CR LF;
// we compare them by their lines.
std::string readFile(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  std::ostringstream os;
  os << in.rdbuf();
  std::string text = os.str();
  if (!kOnWindows) return text;
  std::string lines;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lines += text[i];
  }
  return lines;
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc) << content;
}

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool hasLine(const std::string& text, const std::vector<std::string>& parts) {
  for (size_t begin = 0; begin < text.size();) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    bool all = true;
    for (const std::string& part : parts) all = all && contains(line, part);
    if (all) return true;
    begin = end + 1;
  }
  return false;
}

size_t countEntries(const std::string& dir) {
  std::error_code ec;
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir, ec), {}));
}

bool Child::waitOutput(const std::function<bool()>& seen, int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!seen()) {
    if (std::chrono::steady_clock::now() > deadline || !pump(20)) return seen();
  }
  return true;
}

ChildResult runChild(const std::function<int()>& body) {
  Child child(body);
  int status = child.finish();
  return ChildResult{status, child.out, child.err};
}

size_t readFull(int fd, void* buf, size_t n) {
  size_t got = 0;
  int r = 1;
  while (got < n && (r = read(fd, static_cast<char*>(buf) + got, static_cast<unsigned>(n - got))) > 0)
    got += r;
  return got;
}

std::string randomText(std::mt19937& rng, size_t maxLen, const std::string& alphabet) {
  std::string text(rng() % (maxLen + 1), '\0');
  for (char& c : text) {
    c = !alphabet.empty() && rng() % 2 == 0 ? alphabet[rng() % alphabet.size()]
                                            : static_cast<char>(1 + rng() % 255);
  }
  return text;
}

bool waitFor(const std::function<bool()>& done, int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    usleep(1000);
  }
  return true;
}

void Gate::enterAndWait() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_entered += 1;
  m_changed.notify_all();
  m_changed.wait(lock, [this] { return m_open; });
  m_left += 1;
}

bool Gate::waitEntered(int n) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::seconds(60), [&] { return m_entered >= n; });
}

void Gate::open() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_open = true;
  m_changed.notify_all();
}

int Gate::left() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_left;
}

std::string shownPath(const std::string& path) {
  // The separator the library prints: the system's own.
  const char kSeparator = kOnWindows ? '\\' : '/';
  std::string shown;
  for (char c : path) {
    bool separator = c == '/' || c == '\\';
    if (separator && !shown.empty() && shown.back() == kSeparator) continue;
    shown += separator ? kSeparator : c;
  }
  return shown;
}

}  // namespace kqtest
