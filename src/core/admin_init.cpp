#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/admin_state.h"
#include "kqbridge/registry.h"
#include "platform/console.h"

namespace bg {

namespace {

const int kPoolThreads = 5;
const int kPoolQueueSize = 4096;
// Until Admin.conf has been read the central log takes every level, on stdout.
const int kStartupLogLevel = 6;
const int kDefaultLogLevel = 2;

}  // namespace

bool Admin::init() {
  platform::consoleError("\n[Admin] ::init @==@\n");
  std::string cfg = findConfigDir(g_exeName);
  if (!cfg.empty()) {
    mkDir((cfg + "/conf/").c_str());
    mkDir((cfg + "/log/").c_str());
  }
  State& s = *m_state;
  s.shared.threadPool->init(kPoolThreads, kPoolQueueSize);
  setInstance(m_name, this);
  setupComponent(this, &s.own, SetupContext{&s.shared, cfg, kStartupLogLevel, true});
  srand(static_cast<unsigned>(time(nullptr)));
  int level = readLogLevel();
  bool toStdout = readLogStdout();
  m_logger->setLevel(level);
  m_tracer->setEnabled(level >= kTraceLogLevel);
  m_logger->setStream(toStdout ? stdout : nullptr);
  // Served last, once everything it reports on exists.
  if (adminPipeEnabled() && strcmp(m_config->getValue("AdminPipe", "true"), "false") != 0)
    s.endpoint.reset(AdminEndpoint::start(this, &s.roster));
  platform::consoleError("[Admin] ::init OK\n");
  return true;
}

// Text that is not a number reads as 0, which silences the central log.
int Admin::readLogLevel() {
  std::string def = format("%d", kDefaultLogLevel);
  if (!m_config->hasKey("LogLevel")) {
    m_config->setValue("LogLevel", def.c_str());
    return kDefaultLogLevel;
  }
  return atoi(m_config->getValue("LogLevel", def.c_str()));
}

// Only the first four characters count, case-sensitively: "trueish" is true,
// "TRUE" is not.
bool Admin::readLogStdout() {
  if (!m_config->hasKey("LogStdout")) {
    m_config->setValue("LogStdout", "false");
    m_config->save();
  }
  return strncmp(m_config->getValue("LogStdout", "false"), "true", 4) == 0;
}

}  // namespace bg
