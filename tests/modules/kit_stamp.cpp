// What the module kit adds to a module: the header that stamps it.
#include <kqbridge/bridge.h>
