#include "kqbridge/interface.h"

#include <cstring>

#include "kqbridge/utils.h"
#include "platform/folders.h"

namespace bg {

Interface* CD = nullptr;
std::string g_exePath;
std::string g_exeDir;
std::string g_exeName;
std::string g_configDir;

Abstract_Base::Abstract_Base() : m_aborting(false) {}

Abstract_Base::~Abstract_Base() = default;

bool Abstract_Base::isAborting() {
  return m_aborting.load();
}

void Abstract_Base::setAborting(bool on) {
  m_aborting.store(on);
}

Interface::Interface()
    : m_app(nullptr),
      m_logger(nullptr),
      m_config(nullptr),
      m_tracer(nullptr),
      m_data(nullptr),
      m_localData(nullptr),
      m_argv(nullptr),
      m_utils(nullptr),
      m_crypt(nullptr),
      m_threadPool(nullptr),
      m_memPool(nullptr),
      m_shareMem(nullptr),
      m_channelMgr(nullptr) {
  memset(m_name, 0, sizeof(m_name));
}

Interface::~Interface() = default;

bool Interface::isDebug() {
  return false;
}

Value Interface::call(const char* /*to*/, BridgeMsg /*msg*/) {
  return Value::ErrorValue("null");
}

// A program started through PATH gets a bare name in argv[0]; its modules
// are beside the file the system actually ran, so we ask the system for it.
// An empty argv[0] (a starter may pass one) names nothing, so the name comes
// from that file too.
void setExecutablePath(const char* argv0) {
  g_exePath = argv0;
  g_exeDir = getDirName(argv0);
  g_exeName = getBaseName(argv0);
  if (!g_exeDir.empty()) return;
  std::string real = platform::executablePath();
  if (real.empty()) return;
  g_exePath = real;
  g_exeDir = getDirName(real.c_str());
  if (g_exeName.empty()) g_exeName = getBaseName(real.c_str());
}

}  // namespace bg
