// Where a component's files live, and how a component gets its services.
#ifndef KQBRIDGE_CORE_COMPONENT_SETUP_H_
#define KQBRIDGE_CORE_COMPONENT_SETUP_H_

#include <map>
#include <memory>
#include <string>

#include "kqbridge/app.h"
#include "kqbridge/argv.h"
#include "kqbridge/bridge.h"
#include "kqbridge/channel.h"
#include "kqbridge/config.h"
#include "kqbridge/crypt.h"
#include "kqbridge/data.h"
#include "kqbridge/interface.h"
#include "kqbridge/logger.h"
#include "kqbridge/mem_pool.h"
#include "kqbridge/share_mem.h"
#include "kqbridge/thread_pool.h"
#include "kqbridge/tracer.h"
#include "kqbridge/utils.h"

namespace bg {

// The call tracer of a component runs from this log level up.
const int kTraceLogLevel = 4;

// The configuration directory of application `name`: the first of
// <local data>/name, <home>/name, <appdata>/name and the directory beside the
// executable (name.d; name on Windows) that can be created and written, else
// a private folder in the temporary directory (with a warning), reported on
// stderr and cached in g_configDir for the life of the process. Empty (and
// searched again next time) when none can: then no file is named at all.
std::string findConfigDir(const std::string& name);

// The services the central object shares with every component. They are made
// in the order declared and released in the reverse one: the channel manager
// and the thread pool, which other threads may still be inside of, first.
struct SharedServices {
  std::unique_ptr<App> app = std::make_unique<App>();
  std::unique_ptr<Data> data = std::make_unique<Data>();
  std::unique_ptr<Thread_Pool> threadPool = std::make_unique<Thread_Pool>();
  std::unique_ptr<Share_Mem> shareMem = std::make_unique<Share_Mem>();
  std::unique_ptr<Channel_Mgr> channelMgr = std::make_unique<Channel_Mgr>();
};

// What the central object knows of one component it set up: the services it
// made for it, which it owns, and whether its init() succeeded. The pointer
// fields of the component say nothing reliable: a component loaded again
// after a restart still holds the pointers of the bridge that is gone.
// The services are released bottom-up, so the logger, the utilities and the
// tracer, which the last lines of a stop need, go last.
struct ComponentRecord {
  bool initialised = false;
  std::unique_ptr<Func_Tracer> tracer;
  std::unique_ptr<Utils> utils;
  std::unique_ptr<Logger> logger;
  std::unique_ptr<Data> localData;
  std::unique_ptr<Mem_Pool> memPool;
  std::unique_ptr<Crypt> crypt;
  std::unique_ptr<Config> config;
  std::unique_ptr<Argv> argv;
};

// The records of one central object, by component address; emptied at stop.
typedef std::map<const void*, ComponentRecord> ComponentBook;

// How the components of one bridge are set up: the shared services, the
// directory their files go under (empty: no files, the configuration lives
// in memory and the logs go to stderr) and the central log's settings.
struct SetupContext {
  SharedServices* shared;
  std::string cfg;
  int logLevel;
  bool logToStdout;
};

// Gives `comp` fresh services of its own, noted in `record` (files named
// after its m_name), and the shared ones, then runs init() on a plug-in
// component; one whose init() fails or throws gets uninit() at once and the
// result says which.
ModuleLoad::Result setupComponent(Interface* comp, ComponentRecord* record, const SetupContext& context);

// Nulls the shared service fields of `central`, the object that owns
// `shared`, and deletes the services in their record's order.
void releaseSharedServices(Interface* central, SharedServices* shared);

// Nulls every service field of `comp`, the shared ones too, so that nothing
// of a stopped bridge stays reachable from the component, and deletes the
// services `record` owns, in its order.
void releaseComponentServices(Interface* comp, ComponentRecord* record);

}  // namespace bg

#endif  // KQBRIDGE_CORE_COMPONENT_SETUP_H_
