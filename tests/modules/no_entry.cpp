// A library that is not a module: it lacks get_component.
#include <kqbridge/kqbridge.h>

KQ_MODULE_EXPORT int not_a_component() {
  return 1;
}
