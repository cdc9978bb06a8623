#include "core/component_setup.h"

#include <utility>

#include "diagnostics/call_guard.h"

namespace bg {

namespace {

const unsigned kMemPoolBlockSize = 2048;

// Read afresh for each name: a set-up that crosses midnight names its files
// with the date each one was named on.
std::string today() {
  return getTimeStr("%Y-%m-%d");
}

// Gives `comp` the service `made`, which `owner` keeps.
template <typename Service>
void attach(Service** field, std::unique_ptr<Service>* owner, Service* made) {
  owner->reset(made);
  *field = made;
}

}  // namespace

// Without a configuration directory the paths stay empty: the configuration
// lives in memory and the logs go to stderr, never to files named from the
// root of the file system.
ModuleLoad::Result setupComponent(Interface* comp, ComponentRecord* record, const SetupContext& context) {
  const std::string& cfg = context.cfg;
  const std::string name = comp->m_name;
  auto under = [&cfg](const std::string& path) { return cfg.empty() ? std::string() : cfg + path; };
  attach(&comp->m_argv, &record->argv, new Argv());
  attach(&comp->m_localData, &record->localData, new Data());
  SharedServices& shared = *context.shared;
  comp->m_app = shared.app.get();
  comp->m_data = shared.data.get();
  comp->m_threadPool = shared.threadPool.get();
  comp->m_shareMem = shared.shareMem.get();
  comp->m_channelMgr = shared.channelMgr.get();
  attach(&comp->m_config, &record->config, new Config(under("/conf/" + name + ".conf").c_str()));
  attach(&comp->m_logger, &record->logger, new Logger(under("/log/" + name + today() + ".log").c_str()));
  comp->m_logger->setLevel(context.logLevel);
  if (context.logToStdout) comp->m_logger->setStream(stdout);
  attach(&comp->m_tracer, &record->tracer, new Func_Tracer(under("/log/" + name + today() + ".tcr").c_str()));
  comp->m_tracer->setEnabled(context.logLevel >= kTraceLogLevel);
  attach(&comp->m_utils, &record->utils, new Utils());
  attach(&comp->m_crypt, &record->crypt, new Crypt());
  attach(&comp->m_memPool, &record->memPool, new Mem_Pool(kMemPoolBlockSize));
  // The central object runs its own init; only plug-in components are started here.
  if (dynamic_cast<Bridge_A*>(comp) != nullptr) return ModuleLoad::LOADED;
  bool initialised = false;
  bool returned = callComponent(name.c_str(), "init()", [&] { initialised = comp->init(); });
  record->initialised = initialised;
  if (initialised) return ModuleLoad::LOADED;
  callComponent(name.c_str(), "uninit()", [comp] { comp->uninit(); });
  return returned ? ModuleLoad::INIT_FALSE : ModuleLoad::INIT_THREW;
}

void releaseSharedServices(Interface* central, SharedServices* shared) {
  central->m_app = nullptr;
  central->m_data = nullptr;
  central->m_threadPool = nullptr;
  central->m_shareMem = nullptr;
  central->m_channelMgr = nullptr;
  // Destroyed at the end of this scope, bottom-up.
  SharedServices released = std::move(*shared);
}

void releaseComponentServices(Interface* comp, ComponentRecord* record) {
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
  // Destroyed at the end of this scope, bottom-up.
  ComponentRecord released = std::move(*record);
}

}  // namespace bg
