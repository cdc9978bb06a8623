#include "support/test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kqtest {

namespace {

const char* const kEnvNames[5] = {"TMPDIR", "TMP", "TEMP", "HOMEPATH", "APPDATA"};

std::string baseTempDir() {
  const char* t = getenv("TMPDIR");
  return (t != nullptr && *t != '\0') ? std::string(t) : std::string("/tmp");
}

std::string drain(int fd) {
  std::string s;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof(buf))) > 0) s.append(buf, static_cast<size_t>(n));
  return s;
}

}  // namespace

TempDir::TempDir(bool pointEnvironment) : m_pointed(pointEnvironment), m_had{} {
  std::string templ = baseTempDir() + "/kqtest-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = buf.data();
  if (m_pointed) {
    for (int i = 0; i < 5; ++i) {
      const char* old = getenv(kEnvNames[i]);
      m_had[i] = old != nullptr;
      if (old != nullptr) m_saved[i] = old;
      setenv(kEnvNames[i], m_path.c_str(), 1);
    }
  }
}

TempDir::~TempDir() {
  if (m_pointed) {
    for (int i = 0; i < 5; ++i) {
      if (m_had[i]) {
        setenv(kEnvNames[i], m_saved[i].c_str(), 1);
      } else {
        unsetenv(kEnvNames[i]);
      }
    }
  }
  std::error_code ec;
  std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                               ec);
  std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::file(const std::string& name) const {
  return m_path + "/" + name;
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
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

int runInChild(const std::function<int()>& body, std::string* out, std::string* err) {
  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  if (out != nullptr && pipe(outPipe) != 0) return -1;
  if (err != nullptr && pipe(errPipe) != 0) return -1;
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (out != nullptr) {
      dup2(outPipe[1], STDOUT_FILENO);
      close(outPipe[0]);
      close(outPipe[1]);
    }
    if (err != nullptr) {
      dup2(errPipe[1], STDERR_FILENO);
      close(errPipe[0]);
      close(errPipe[1]);
    }
    int rc = body();
    fflush(stdout);
    fflush(stderr);
    _exit(rc);
  }
  // Both pipes are drained before waiting; a child filling one while we block
  // on the other would hang, so stderr is read on a second pass only after
  // stdout closed. Tests keep their output small.
  if (out != nullptr) {
    close(outPipe[1]);
    *out = drain(outPipe[0]);
    close(outPipe[0]);
  }
  if (err != nullptr) {
    close(errPipe[1]);
    *err = drain(errPipe[0]);
    close(errPipe[0]);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kqtest
