#include "support/test_support.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kqtest {

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

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string templ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kqtest-XXXXXX";
  if (mkdtemp(&templ[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                               ec);
  std::filesystem::remove_all(m_path, ec);
}

std::string uniqueName(const std::string& prefix) {
  static std::atomic<int> counter{0};
  auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  std::ostringstream os;
  os << prefix << "-" << getpid() << "-" << counter++ << "-" << (now % 1000000007);
  return os.str();
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream os;
  os << in.rdbuf();
  return os.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

size_t countEntries(const std::string& dir) {
  std::error_code ec;
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir, ec), {}));
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

Child::Child(const std::function<int()>& body) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0) return;
  if (pipe(errPipe) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return;
  }
  fflush(stdout);
  fflush(stderr);
  m_pid = fork();
  if (m_pid == 0) {
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
    int rc = body();
    fflush(stdout);
    fflush(stderr);
    _exit(rc);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  m_fds[0] = outPipe[0];
  m_fds[1] = errPipe[0];
}

Child::~Child() {
  if (m_pid > 0 && m_status == -2) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  for (int fd : m_fds)
    if (fd >= 0) close(fd);
}

bool Child::pump(int timeoutMs) {
  pollfd fds[2];
  int n = 0;
  for (int i = 0; i < 2; ++i) {
    if (m_fds[i] >= 0) fds[n++] = pollfd{m_fds[i], POLLIN, 0};
  }
  if (n == 0) return false;
  if (poll(fds, static_cast<nfds_t>(n), timeoutMs) <= 0) return true;
  for (int i = 0; i < n; ++i) {
    if (fds[i].revents == 0) continue;
    int which = fds[i].fd == m_fds[0] ? 0 : 1;
    char buf[4096];
    ssize_t got = read(fds[i].fd, buf, sizeof(buf));
    if (got > 0) {
      (which == 0 ? out : err).append(buf, static_cast<size_t>(got));
    } else {
      close(m_fds[which]);
      m_fds[which] = -1;
    }
  }
  return true;
}

bool Child::waitOutput(const std::function<bool()>& seen, int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!seen()) {
    if (std::chrono::steady_clock::now() > deadline || !pump(100)) return seen();
  }
  return true;
}

int Child::finish(int seconds) {
  if (m_pid <= 0) return -1;
  if (m_status != -2) return m_status;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  bool timedOut = false;
  while (pump(100)) {
    if (std::chrono::steady_clock::now() > deadline) {
      timedOut = true;
      kill(m_pid, SIGKILL);
      break;
    }
  }
  waitpid(m_pid, &status, 0);
  m_status = !timedOut && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return m_status;
}

ChildResult runChild(const std::function<int()>& body) {
  Child child(body);
  int status = child.finish();
  return ChildResult{status, child.out, child.err};
}

std::string shownPath(const std::string& path) {
  // The separator the library prints.
  const char kSeparator = '/';
  std::string shown;
  for (char c : path) {
    bool separator = c == '/' || c == '\\';
    if (separator && !shown.empty() && shown.back() == kSeparator) continue;
    shown += separator ? kSeparator : c;
  }
  return shown;
}

}  // namespace kqtest
