#include "core/component_setup.h"

#include "diagnostics/call_guard.h"
#include "kqbridge/argv.h"
#include "kqbridge/bridge.h"
#include "kqbridge/config.h"
#include "kqbridge/crypt.h"
#include "kqbridge/data.h"
#include "kqbridge/logger.h"
#include "kqbridge/mem_pool.h"
#include "kqbridge/tracer.h"
#include "kqbridge/utils.h"

namespace bg {

namespace {

const unsigned kMemPoolBlockSize = 2048;

// Read afresh for each name: a set-up that crosses midnight names its files
// with the date each one was named on.
std::string today() {
  return getTimeStr("%Y-%m-%d");
}

template <typename T>
void deleteAndNull(T*& p) {
  delete p;
  p = nullptr;
}

}  // namespace

// Without a configuration directory the paths stay empty: the configuration
// lives in memory and the logs go to stderr, never to files named from the
// root of the file system.
ModuleLoad::Result setupComponent(Interface* comp, ComponentRecord* record, const char* name, App* app,
                                  Data* data, Thread_Pool* pool, Share_Mem* shm, Channel_Mgr* chm,
                                  const std::string& cfg, int logLevel, bool logToStdout) {
  auto under = [&cfg](const std::string& path) { return cfg.empty() ? std::string() : cfg + path; };
  comp->m_argv = record->argv = new Argv();
  comp->m_localData = record->localData = new Data();
  comp->m_app = app;
  comp->m_data = data;
  comp->m_threadPool = pool;
  comp->m_shareMem = shm;
  comp->m_channelMgr = chm;
  comp->m_config = record->config = new Config(under("/conf/" + std::string(name) + ".conf").c_str());
  comp->m_logger = record->logger = new Logger(under("/log/" + std::string(name) + today() + ".log").c_str());
  comp->m_logger->setLevel(logLevel);
  if (logToStdout) comp->m_logger->setStream(stdout);
  comp->m_tracer = record->tracer =
      new Func_Tracer(under("/log/" + std::string(name) + today() + ".tcr").c_str());
  comp->m_tracer->setEnabled(logLevel >= 4);
  comp->m_utils = record->utils = new Utils();
  comp->m_crypt = record->crypt = new Crypt();
  comp->m_memPool = record->memPool = new Mem_Pool(kMemPoolBlockSize);
  // The central object runs its own init; only plug-in components are started here.
  if (dynamic_cast<Bridge_A*>(comp) != nullptr) return ModuleLoad::LOADED;
  bool initialised = false;
  bool returned = callComponent(name, "init()", [&] { initialised = comp->init(); });
  record->initialised = initialised;
  if (initialised) return ModuleLoad::LOADED;
  callComponent(name, "uninit()", [comp] { comp->uninit(); });
  return returned ? ModuleLoad::INIT_FALSE : ModuleLoad::INIT_THREW;
}

void releaseComponentServices(Interface* comp, ComponentRecord* record) {
  deleteAndNull(record->argv);
  deleteAndNull(record->logger);
  deleteAndNull(record->config);
  deleteAndNull(record->tracer);
  deleteAndNull(record->utils);
  deleteAndNull(record->crypt);
  deleteAndNull(record->memPool);
  deleteAndNull(record->localData);
  comp->m_app = nullptr;
  comp->m_logger = nullptr;
  comp->m_config = nullptr;
  comp->m_tracer = nullptr;
  comp->m_data = nullptr;
  comp->m_localData = nullptr;
  comp->m_argv = nullptr;
  comp->m_utils = nullptr;
  comp->m_crypt = nullptr;
  comp->m_threadPool = nullptr;
  comp->m_memPool = nullptr;
  comp->m_shareMem = nullptr;
  comp->m_channelMgr = nullptr;
}

}  // namespace bg
