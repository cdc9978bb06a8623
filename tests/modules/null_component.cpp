// A module that breaks the contract: get_component gives no component.
#include <kqbridge/kqbridge.h>

KQ_MODULE_EXPORT bg::Interface* get_component(bg::Interface* /*cd*/) {
  return nullptr;
}
