#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "core/admin_state.h"
#include "core/library.h"
#include "diagnostics/call_guard.h"
#include "kqbridge/logger.h"
#include "kqbridge/registry.h"
#include "kqbridge/utils.h"
#include "platform/console.h"

namespace bg {

namespace {

const char kModuleSuffix[] = ".dll";

bool hasModuleSuffix(const std::string& path) {
  return endsWith(path.c_str(), kModuleSuffix, false);
}

const char* buildKind(bool debug) {
  return debug ? "debug" : "release";
}

// Where every module built against our headers keeps its ModuleStamp.
const char kStampSymbol[] = "kqbridge_module_abi";

// A module built for another ABI version or C runtime is refused before any
// of its code runs through get_component. One without a stamp was built by
// hand (or before stamps existed) and loads as it always did, with a warning.
bool stampAccepted(const std::string& path, kq::Library* library) {
  const std::string file = normalizePath(path);
  const ModuleStamp ours = {KQ_ABI_VERSION, KQ_DEBUG_RUNTIME};
  const ModuleStamp* stamp = static_cast<const ModuleStamp*>(library->resolve(kStampSymbol));
  if (stamp == nullptr) {
    platform::consoleError(
        "[Warning - load lib] module file '%s' has no ABI stamp (built without the module kit); "
        "loading it unchecked\n",
        file.c_str());
    return true;
  }
  if (stamp->abiVersion == ours.abiVersion && stamp->debugRuntime == ours.debugRuntime) return true;
  platform::consoleError(
      "[Error - load lib] module file '%s' is built for ABI %d (%s), the library is ABI %d (%s)\n",
      file.c_str(), static_cast<int>(stamp->abiVersion), buildKind(stamp->debugRuntime != 0),
      static_cast<int>(ours.abiVersion), buildKind(ours.debugRuntime != 0));
  return false;
}

// Named "show" because the log line carries the function's name.
void show(const char* name, void* /*inst*/, void* /*user*/) {
  BG_LOG(DEBUG, "Instance: %s", name);
}

}  // namespace

// The registry's listing goes to the central log, which the values layer
// under it knows nothing of; so it lives here, beside its one caller.
void showAllInstance() {
  BG_LOG(DEBUG, "=========== allInstance ==========");
  travellInstance(show, nullptr);
  BG_LOG(DEBUG, "==================================");
}

// Null names load nothing; a null entry among them is skipped.
int LoadModule(const char* const* names, int n, bool start) {
  Admin* admin = dynamic_cast<Admin*>(CD);
  if (admin != nullptr && admin->loadModules(names, n) && start) CD->initExtend();
  return getInstanceCount() - 1;
}

ModuleLoad LoadOneModule(const char* name) {
  Admin* admin = dynamic_cast<Admin*>(CD);
  return admin != nullptr ? admin->loadModule(name) : ModuleLoad{ModuleLoad::NOT_LOADED, {}};
}

bool StartModules() {
  return CD != nullptr ? CD->initExtend() : false;
}

bool Admin::loadModules(const char* const* names, int n) {
  if (n < 0) return true;
  if (names == nullptr) n = 0;
  std::string cfg = findConfigDir(g_exeName);
  int level = m_logger->getLevel();
  bool toStdout = m_logger->getStream() == stdout;
  for (int i = 0; i < n; ++i) {
    if (names[i] != nullptr) loadOne(g_exeDir + "/" + names[i], cfg, level, toStdout);
  }
  showAllInstance();
  return true;
}

ModuleLoad Admin::loadModule(const char* name) {
  ModuleLoad load = {ModuleLoad::NOT_LOADED, {}};
  if (name == nullptr) return load;
  load = loadOne(g_exeDir + "/" + name, findConfigDir(g_exeName), m_logger->getLevel(),
                 m_logger->getStream() == stdout);
  showAllInstance();
  return load;
}

ModuleLoad Admin::loadOne(const std::string& path, const std::string& cfg, int logLevel, bool logToStdout) {
  ModuleLoad load = {ModuleLoad::NOT_LOADED, {}};
  Interface* comp = nullptr;
  if (!hasModuleSuffix(path) || !loadComponent(path, &comp)) return load;
  snprintf(load.component, sizeof(load.component), "%.31s", comp->m_name);
  // A component this bridge set up before (its module named twice) keeps its
  // services and is not initialised twice; one whose init() failed stays out.
  State& s = *m_state;
  auto known = s.components.find(comp);
  if (known != s.components.end()) {
    load.result = known->second.initialised ? ModuleLoad::LOADED_BEFORE : ModuleLoad::INIT_FALSE;
  } else {
    load.result =
        setupComponent(comp, &s.components[comp], SetupContext{&s.shared, cfg, logLevel, logToStdout});
  }
  if (load.result != ModuleLoad::LOADED && load.result != ModuleLoad::LOADED_BEFORE) return load;
  void* holder = getInstance(comp->m_name);
  if (holder != nullptr && holder != comp) load.result = ModuleLoad::REPLACED;
  setInstance(comp->m_name, comp);
  if (load.result != ModuleLoad::LOADED_BEFORE)
    s.roster.loaded(comp->m_name, normalizePath(path), comp->m_logger->getPath());
  return load;
}

// A module whose get_component answers null is treated like one that could
// not be loaded: it is reported and skipped.
bool Admin::loadComponent(const std::string& path, Interface** out) {
  if (!hasModuleSuffix(path)) return false;
  kq::Library library(path.c_str());
  if (!library.load()) {
    platform::consoleError("loadLibrary failed: %s\n", path.c_str());
    platform::consoleError("err msg: %s\n", library.errorText().c_str());
    return false;
  }
  GetComponentFn getComponent = reinterpret_cast<GetComponentFn>(library.resolve("get_component"));
  if (getComponent == nullptr) {
    platform::consoleError("resolve func failed\n");
    platform::consoleError("err msg: %s\n", library.errorText().c_str());
    return false;
  }
  if (!stampAccepted(path, &library)) return false;
  Interface* comp = nullptr;
  callGuarded([&] { comp = getComponent(this); },
              [&] { return format("module '%s' threw from get_component()", path.c_str()); });
  if (comp == nullptr) {
    platform::consoleError("[Error - load lib] module '%s' gave no component\n", path.c_str());
    return false;
  }
  if (comp->isDebug() == isDebug()) {
    *out = comp;
    return true;
  }
  platform::consoleError("[Error - load lib] main.exe is '%s', module '%s' is '%s'\n", buildKind(isDebug()),
                         comp->m_name, buildKind(comp->isDebug()));
  return false;
}

bool Admin::initExtend() {
  srand(static_cast<unsigned>(time(nullptr)));
  platform::consoleError("======== init extend modules ======\n");
  // Every component but the central object, in name order.
  struct StartWalk {
    static void travell(const char* name, void* inst, void* user) {
      Admin* admin = static_cast<Admin*>(user);
      if (inst == admin || !admin->isManaged(inst)) return;
      callComponent(name, "initExtend()", [inst] { static_cast<Interface*>(inst)->initExtend(); });
      admin->m_state->roster.started(name);
    }
  };
  travellInstance(&StartWalk::travell, this);
  platform::consoleError("===================================\n\n");
  return true;
}

}  // namespace bg
