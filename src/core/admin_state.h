// What the central object holds besides the fields every component has.
#ifndef KQBRIDGE_CORE_ADMIN_STATE_H_
#define KQBRIDGE_CORE_ADMIN_STATE_H_

#include <memory>

#include "admin/admin_endpoint.h"
#include "core/component_roster.h"
#include "core/component_setup.h"
#include "kqbridge/app.h"
#include "kqbridge/bridge.h"
#include "kqbridge/channel.h"
#include "kqbridge/data.h"
#include "kqbridge/share_mem.h"
#include "kqbridge/thread_pool.h"

namespace bg {

// The shared services are made in this order and handed to every component.
struct Admin::State {
  App* sharedApp = new App();
  Data* sharedData = new Data();
  bool (*handler)(void*) = nullptr;
  Thread_Pool* sharedThreadPool = new Thread_Pool();
  Share_Mem* sharedShareMem = new Share_Mem();
  Channel_Mgr* sharedChannelMgr = new Channel_Mgr();
  // The components this object set up, with the services it made for them.
  // Walks of the registry skip entries other code registered there.
  ComponentBook components;
  // What the admin endpoint shows of them, and the endpoint itself (null
  // when it is off or could not be served).
  ComponentRoster roster;
  std::unique_ptr<AdminEndpoint> endpoint;
};

}  // namespace bg

#endif  // KQBRIDGE_CORE_ADMIN_STATE_H_
