// Where a component's files live, and how a component gets its services.
#ifndef KQBRIDGE_CORE_COMPONENT_SETUP_H_
#define KQBRIDGE_CORE_COMPONENT_SETUP_H_

#include <string>

#include "kqbridge/interface.h"

namespace bg {

// The configuration directory of application `name`: the first of
// <local data>/name, <home>/name, <appdata>/name and <exe dir>/name that can
// be created and written, reported on stderr and cached in g_configDir for
// the life of the process. Empty (and searched again next time) when none can.
std::string findConfigDir(const std::string& name);

// Gives `comp` its own services (files under `cfg` named after `name`) and the
// shared ones, then runs init() on a plug-in component; one whose init()
// fails gets uninit() at once and the result is false. An object that has
// its data bus already is left as it is.
bool setupComponent(Interface* comp, const char* name, App* app, Data* data, Thread_Pool* pool,
                    Share_Mem* shm, Channel_Mgr* chm, const std::string& cfg, int logLevel, bool logToStdout);

// Deletes and nulls the component's own services; the shared ones stay.
void releaseComponentServices(Interface* comp);

}  // namespace bg

#endif  // KQBRIDGE_CORE_COMPONENT_SETUP_H_
