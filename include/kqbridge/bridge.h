/// \file
/// The entry functions a host calls, and the central object.
#ifndef KQBRIDGE_BRIDGE_H_
#define KQBRIDGE_BRIDGE_H_

#include <string>

#include "kqbridge/export.h"
#include "kqbridge/interface.h"
#include "kqbridge/module_stamp.h"
#include "kqbridge/value.h"

namespace bg {

/// Creates and initialises the central object once: 0, also when it exists
/// already; -1 with a message on standard error when argv or argv[0] is null
/// (the executable's path is what every file of the bridge is named from).
/// InitBridge, LoadModule, StartModules and UninitBridge are called from one
/// thread, one at a time; InitBridge may follow UninitBridge in one process,
/// and components loaded again then get fresh services and init() again.
KQ_EXPORT int InitBridge(int argc, char** argv);
/// Finds the central object through "Bridge_Main_CD": 0, -1 (null ppCD) or -2.
KQ_EXPORT int InitBridgeFromEnv(void** ppCD);
/// *out = the pointer in environment variable `name`, or null.
KQ_EXPORT void GetEnvPtr(const char* name, void** out);
/// 0, or -1 when the environment refused.
KQ_EXPORT int SetEnvPtr(const char* name, void* p);
/// Loads each "<exe dir>/<name>" ending in ".dll"; with `start`, runs
/// initExtend on every component. Returns the number of registered components
/// (-1 before InitBridge).
KQ_EXPORT int LoadModule(const char* const* names, int n, bool start);

/// What the loader did with one module file.
struct ModuleLoad {
  /// The outcome.
  enum Result {
    LOADED,         ///< set up, initialised and registered under `component`
    LOADED_BEFORE,  ///< its component was loaded already (the file named twice): left as it was
    REPLACED,       ///< loaded and registered, taking the name from another component, which is
                    ///< neither started nor stopped any more
    NOT_LOADED,     ///< not a module file name, or refused by the loader, which said why on stderr
    INIT_FALSE,     ///< its component's init() returned false: it got uninit(), it is not registered
    INIT_THREW,     ///< its component's init() threw (reported): it got uninit(), it is not registered
  };
  Result result;       ///< what became of the file
  char component[32];  ///< the component's name once the file gave one, else empty
};
/// LoadModule for the one file "<exe dir>/<name>", without starting anything,
/// telling what became of it (NOT_LOADED before InitBridge).
KQ_EXPORT ModuleLoad LoadOneModule(const char* name);
/// Runs initExtend() on every registered component, in name order; false
/// before InitBridge.
KQ_EXPORT bool StartModules();
/// Stops every component and deletes the central object; a call from code that
/// stop runs (a component's uninit) does nothing.
KQ_EXPORT void UninitBridge();
/// Calls `handler(text, user)` for every string stored under "BgError" on the
/// shared data bus with setDataNotify. Before InitBridge it registers nothing
/// and says so on standard error.
KQ_EXPORT void RegistBgErrHandle(void (*handler)(const char*, void*), void* user);
/// Kept for hosts that call it at start; it does nothing.
KQ_EXPORT void SetConsoleUtf8();
/// Receives one line the library would print: `stream` is 1 for standard
/// output, 2 for standard error; `text` is the whole formatted line, valid
/// during the call.
typedef void (*ConsoleSinkFn)(int stream, const char* text, void* user);
/// Hands every line the library prints on standard error or standard output
/// to `sink(stream, text, user)` instead, from whichever thread prints it;
/// null `sink` prints them again. A host may capture or silence them this
/// way, before InitBridge too. Safe from any thread.
KQ_EXPORT void SetConsoleSink(ConsoleSinkFn sink, void* user);
/// Whether the next InitBridge serves the admin endpoint: the same-user pipe
/// "kqbridge.NAME.PID" (the executable's name and the process id) through
/// which kqbridge-ctl looks inside the process. On unless turned off here
/// (before InitBridge) or by "AdminPipe : false" in Admin.conf.
KQ_EXPORT void SetAdminPipe(bool on);

/// What a module exports with C linkage: its component, given the central object.
typedef Interface* (*GetComponentFn)(Interface* cd);

/// Marks the central object among Interface-derived objects.
class KQ_EXPORT Bridge_A : public Interface {
 public:
  ~Bridge_A() override;
};

/// The central object. It owns the shared services, gives every component its
/// own, routes messages by name and stops everything in name order.
class KQ_EXPORT Admin : public Bridge_A {
 public:
  /// Makes the shared services; InitBridge makes the one central object.
  Admin();
  /// Stops every component (uninit()), then frees the shared services and its own.
  ~Admin() override;
  Admin(const Admin&) = delete;
  Admin& operator=(const Admin&) = delete;

  /// Finds the configuration directory, starts the shared thread pool, gives
  /// itself its own services, registers itself as "Admin" and reads Admin.conf.
  bool init() override;
  /// Runs initExtend() on every component it set up, in name order.
  bool initExtend() override;
  /// Raises every abort flag, stops channels and pool, then stops each
  /// component in name order and releases its services.
  bool uninit() override;
  /// cmd 0 prints the message; cmd 1 or 2 with sub 0 stops every component,
  /// saves every changed configuration and ends the process with status 0.
  Value process(const char* from, BridgeMsg msg) override;
  /// dispatch() with "Admin" as sender.
  Value call(const char* to, BridgeMsg msg) override;

  /// Returns the current handler; stores `fn` unless it is null.
  virtual bool (*setHandler(bool (*fn)(void*)))(void*);
  /// The target's process(from, msg); its address for CMD_GET_INSTANCE; an
  /// error Value "Module not exsit" for an unknown name.
  virtual Value dispatch(const char* from, const char* to, BridgeMsg msg);
  /// The installed handler's answer, or false without one.
  virtual bool invokeHandler(void* arg);

  /// The body of LoadModule: loads, sets up, initialises and registers every
  /// "<exe dir>/<name>" ending in ".dll"; a failing module is skipped.
  bool loadModules(const char* const* names, int n);
  /// The body of LoadOneModule.
  ModuleLoad loadModule(const char* name);
  /// One module file: loads it, gives its component its services and files
  /// under `cfg` and the central log's level and stream, runs its init() and
  /// registers it, telling what became of it.
  ModuleLoad loadOne(const std::string& path, const std::string& cfg, int logLevel, bool logToStdout);
  /// Loads the library at `path` and asks it for its component, which must
  /// be of this library's ABI and build kind; each refusal is reported on
  /// standard error and gives false.
  bool loadComponent(const std::string& path, Interface** out);
  /// Sets the abort flag of every service of every managed object, then
  /// stops the channels and the thread pool (which waits for running jobs).
  void abortThreadAndChannel();
  ///@{
  /// "LogLevel" and "LogStdout" of Admin.conf, each stored with its default
  /// (2 and false) when absent. REQUIRES: init() has run.
  int readLogLevel();
  bool readLogStdout();
  ///@}
  /// Whether `inst` is this object or a component it set up and registered.
  bool isManaged(const void* inst) const;

 private:
  // The shared services, the host's handler and the components this object
  // set up with the services it made for them, defined in src/.
  struct State;
  State* m_state;
};

}  // namespace bg

/// Declares a module's entry point, visible whatever the module's default
/// visibility: KQ_MODULE_EXPORT bg::Interface* get_component(bg::Interface* cd)
#define KQ_MODULE_EXPORT extern "C" KQ_MODULE_VISIBLE

// Every module compiled with this header (the one that gives it
// KQ_MODULE_EXPORT) carries the stamp of the ABI it was built for, once
// however many of its files include it. The library carries none: it is
// what modules are checked against.
#if !defined(KQBRIDGE_BUILDING)
/// The stamp of the ABI this module was built for; the loader reads it.
extern "C" KQ_MODULE_VISIBLE KQ_ONE_PER_MODULE const bg::ModuleStamp kqbridge_module_abi = {KQ_ABI_VERSION,
                                                                                            KQ_DEBUG_RUNTIME};
#endif

#endif  // KQBRIDGE_BRIDGE_H_
