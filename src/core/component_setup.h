// Where a component's files live, and how a component gets its services.
#ifndef KQBRIDGE_CORE_COMPONENT_SETUP_H_
#define KQBRIDGE_CORE_COMPONENT_SETUP_H_

#include <map>
#include <string>

#include "kqbridge/bridge.h"
#include "kqbridge/interface.h"

namespace bg {

// The configuration directory of application `name`: the first of
// <local data>/name, <home>/name, <appdata>/name and the directory beside the
// executable (name.d; name on Windows) that can be created and written, else
// a private folder in the temporary directory (with a warning), reported on
// stderr and cached in g_configDir for the life of the process. Empty (and
// searched again next time) when none can: then no file is named at all.
std::string findConfigDir(const std::string& name);

// What the central object knows of one component it set up: the services it
// made for it and whether its init() succeeded. The pointer fields of the
// component say nothing reliable: a component loaded again after a restart
// still holds the pointers of the bridge that is gone.
struct ComponentRecord {
  bool initialised = false;
  Argv* argv = nullptr;
  Logger* logger = nullptr;
  Config* config = nullptr;
  Func_Tracer* tracer = nullptr;
  Utils* utils = nullptr;
  Crypt* crypt = nullptr;
  Mem_Pool* memPool = nullptr;
  Data* localData = nullptr;
};

// The records of one central object, by component address; emptied at stop.
typedef std::map<const void*, ComponentRecord> ComponentBook;

// Gives `comp` fresh services of its own (files under `cfg` named after
// `name`, noted in `record`; with an empty `cfg` no files: the configuration
// lives in memory and the logs go to stderr) and the shared ones, then runs
// init() on a plug-in component; one whose init() fails or throws gets
// uninit() at once and the result says which.
ModuleLoad::Result setupComponent(Interface* comp, ComponentRecord* record, const char* name, App* app,
                                  Data* data, Thread_Pool* pool, Share_Mem* shm, Channel_Mgr* chm,
                                  const std::string& cfg, int logLevel, bool logToStdout);

// Deletes the services `record` notes, in the order the component got them
// released, and nulls every service field of `comp`, the shared ones too, so
// that nothing of a stopped bridge stays reachable from the component.
void releaseComponentServices(Interface* comp, ComponentRecord* record);

}  // namespace bg

#endif  // KQBRIDGE_CORE_COMPONENT_SETUP_H_
