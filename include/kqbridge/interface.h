/// \file
/// The types the central object, every component and every service share.
#ifndef KQBRIDGE_INTERFACE_H_
#define KQBRIDGE_INTERFACE_H_

#include <atomic>
#include <cstdint>
#include <string>

#include "kqbridge/export.h"
#include "kqbridge/value.h"

/// The message record passed between components by value. Words 3 and 4 are
/// pointer-sized so that they can carry a pointer on every build.
struct BridgeMsg {
  int32_t cmd;       ///< command code; CMD_GET_INSTANCE asks dispatch for the target itself
  int32_t sub;       ///< sub-code
  const char* text;  ///< message text
  intptr_t word3;    ///< passed through untouched
  intptr_t word4;    ///< passed through untouched
};

namespace bg {

using ::BridgeMsg;

class App;
class Logger;
class Config;
class Func_Tracer;
class Data;
class Argv;
class Utils;
class Crypt;
class Thread_Pool;
class Mem_Pool;
class Share_Mem;
class Channel_Mgr;

/// dispatch() answers this command with the target object itself.
constexpr int CMD_GET_INSTANCE = 99;

/// Root of the services that carry a stop request. The shutdown sets the flag
/// before it stops channels and threads; long loops on a service read it.
class KQ_EXPORT Abstract_Base {
 public:
  /// Not aborting.
  Abstract_Base();
  virtual ~Abstract_Base();
  /// Whether a stop was requested; safe from any thread.
  virtual bool isAborting();
  /// Sets or clears the stop request; safe from any thread.
  virtual void setAborting(bool on);

 protected:
  std::atomic<bool> m_aborting;  ///< fixed layout: the one documented field of every service base
};

/// Base of the central object and of every plug-in component. The field order
/// is part of the binary interface modules are compiled against: a component
/// reads its services from these fields, which the framework fills. The
/// framework calls init, initExtend and uninit from the host's thread;
/// process runs on whichever thread dispatches to the component, so a
/// component that is called from several threads guards its own state.
class KQ_EXPORT Interface {
 public:
  /// All thirteen service pointers null; m_name is left to the derived class.
  Interface();
  /// Releases nothing: services belong to the central object.
  virtual ~Interface();

  /// First phase, right after the services were given; false makes the
  /// framework call uninit() and give up on the component.
  virtual bool init() = 0;
  /// Second phase, on every StartModules(); the result is ignored.
  virtual bool initExtend() = 0;
  /// Stop and release the component's own resources; called once at shutdown.
  virtual bool uninit() = 0;
  /// Handles a message sent by the component named `from`.
  virtual Value process(const char* from, BridgeMsg msg) = 0;
  /// Whether the object comes from a debug build; the default answers false.
  virtual bool isDebug();
  /// Only the central object delivers; the default answers ErrorValue("null").
  virtual Value call(const char* to, BridgeMsg msg);

  char m_name[32];            ///< the name messages are routed by, set by the derived class
  App* m_app;                 ///< shared
  Logger* m_logger;           ///< own
  Config* m_config;           ///< own
  Func_Tracer* m_tracer;      ///< own
  Data* m_data;               ///< shared data bus
  Data* m_localData;          ///< own
  Argv* m_argv;               ///< own
  Utils* m_utils;             ///< own
  Crypt* m_crypt;             ///< own
  Thread_Pool* m_threadPool;  ///< shared
  Mem_Pool* m_memPool;        ///< own
  Share_Mem* m_shareMem;      ///< shared
  Channel_Mgr* m_channelMgr;  ///< shared
};

/// The one central object; null before InitBridge and after UninitBridge.
KQ_EXPORT extern Interface* CD;

///@{
/// Set by InitBridge from argv[0]: the path as given, the prefix up to and
/// including the last '/' or '\', and the file name cut at its first '.'.
KQ_EXPORT extern std::string g_exePath;
KQ_EXPORT extern std::string g_exeDir;
KQ_EXPORT extern std::string g_exeName;
///@}
/// The configuration directory, cached once a search succeeded.
KQ_EXPORT extern std::string g_configDir;

/// Fills g_exePath, g_exeDir and g_exeName from `argv0` (which must not be
/// null). A bare name (a program started through PATH) takes the path and
/// directory of the file the system ran instead; an empty one its name too.
KQ_EXPORT void setExecutablePath(const char* argv0);

// The abort flag is read by other threads, so it is atomic at a bool's size.
static_assert(sizeof(std::atomic<bool>) == sizeof(bool), "fixed layout: the flag keeps a bool's size");
static_assert(sizeof(void*) != 4 || sizeof(BridgeMsg) == 20, "i386 layout of BridgeMsg");
static_assert(sizeof(void*) != 8 || sizeof(BridgeMsg) == 32, "64-bit layout of BridgeMsg");
static_assert(sizeof(void*) != 4 || sizeof(Interface) == 88, "i386 layout of Interface");
static_assert(sizeof(void*) != 8 || sizeof(Interface) == 144, "64-bit layout of Interface");

}  // namespace bg

#endif  // KQBRIDGE_INTERFACE_H_
