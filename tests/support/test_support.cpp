#include "support/test_support.h"

#include "kqtest_compat.h"

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

// A new directory of our own under the system's temporary directory.
std::string makeFreshDir() {
  std::filesystem::path base = std::filesystem::temp_directory_path();
  for (;;) {
    std::filesystem::path dir = base / uniqueName("kqtest");
    std::error_code ec;
    if (std::filesystem::create_directory(dir, ec)) return dir.string();
    if (ec) throw std::runtime_error("cannot make a directory under " + base.string());
  }
}

}  // namespace

TempDir::TempDir(bool pointEnvironment) : m_pointed(pointEnvironment), m_had{} {
  m_path = adoptParentDir();
  m_adopted = !m_path.empty();
  if (!m_adopted) {
    m_path = makeFreshDir();
    noteTempDir(m_path);
  }
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
  if (m_adopted) return;
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
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

}  // namespace kqtest
