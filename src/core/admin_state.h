// What the central object holds besides the fields every component has.
#ifndef KQBRIDGE_CORE_ADMIN_STATE_H_
#define KQBRIDGE_CORE_ADMIN_STATE_H_

#include <memory>

#include "admin/admin_endpoint.h"
#include "core/component_roster.h"
#include "core/component_setup.h"
#include "kqbridge/bridge.h"

namespace bg {

struct Admin::State {
  // The shared services, made when the central object is (component_setup.h
  // tells the order).
  SharedServices shared;
  bool (*handler)(void*) = nullptr;
  // Our own services, given by init() like any component's.
  ComponentRecord own;
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
