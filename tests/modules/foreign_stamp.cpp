// The stamp of a module built for another ABI version, KQ_TEST_ABI.
#include <kqbridge/module_stamp.h>

extern "C" KQ_MODULE_VISIBLE const bg::ModuleStamp kqbridge_module_abi = {KQ_TEST_ABI, KQ_DEBUG_RUNTIME};
