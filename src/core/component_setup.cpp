#include "core/component_setup.h"

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

bool setupComponent(Interface* comp, const char* name, App* app, Data* data, Thread_Pool* pool,
                    Share_Mem* shm, Channel_Mgr* chm, const std::string& cfg, int logLevel,
                    bool logToStdout) {
  if (comp->m_data != nullptr) return true;
  comp->m_argv = new Argv();
  comp->m_localData = new Data();
  comp->m_app = app;
  comp->m_data = data;
  comp->m_threadPool = pool;
  comp->m_shareMem = shm;
  comp->m_channelMgr = chm;
  comp->m_config = new Config((cfg + "/conf/" + name + ".conf").c_str());
  comp->m_logger = new Logger((cfg + "/log/" + name + today() + ".log").c_str());
  comp->m_logger->setLevel(logLevel);
  if (logToStdout) comp->m_logger->setStream(stdout);
  comp->m_tracer = new Func_Tracer((cfg + "/log/" + name + today() + ".tcr").c_str());
  comp->m_tracer->setEnabled(logLevel >= 4);
  comp->m_utils = new Utils();
  comp->m_crypt = new Crypt();
  comp->m_memPool = new Mem_Pool(kMemPoolBlockSize);
  // The central object runs its own init; only plug-in components are started here.
  if (dynamic_cast<Bridge_A*>(comp) == nullptr && !comp->init()) {
    comp->uninit();
    return false;
  }
  return true;
}

void releaseComponentServices(Interface* comp) {
  deleteAndNull(comp->m_argv);
  deleteAndNull(comp->m_logger);
  deleteAndNull(comp->m_config);
  deleteAndNull(comp->m_tracer);
  deleteAndNull(comp->m_utils);
  deleteAndNull(comp->m_crypt);
  deleteAndNull(comp->m_memPool);
  deleteAndNull(comp->m_localData);
}

}  // namespace bg
