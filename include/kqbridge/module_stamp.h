/// \file
/// The ABI version of the library and the stamp that carries it into every
/// module built against these headers.
#ifndef KQBRIDGE_MODULE_STAMP_H_
#define KQBRIDGE_MODULE_STAMP_H_

#include <cstdint>

#include "kqbridge/export.h"

/// The library's SOVERSION. It goes up, together with the project's major
/// version, with every change that breaks modules built before it; additions
/// leave it alone.
#define KQ_ABI_VERSION 0

/// \def KQ_DEBUG_RUNTIME
/// 1 for code built against the debug C runtime (which keeps a heap of its
/// own, so memory cannot cross between it and the release runtime), else 0.
#if defined(_DEBUG)
#define KQ_DEBUG_RUNTIME 1
#else
#define KQ_DEBUG_RUNTIME 0
#endif

namespace bg {

/// What a module says it was built for, exported under the C name
/// kqbridge_module_abi. The loader reads it before it calls get_component and
/// refuses a module built for another ABI version or C runtime. Its layout
/// never changes, so every version of the loader can read every stamp.
struct ModuleStamp {
  int32_t abiVersion;    ///< KQ_ABI_VERSION of the headers the module was built with
  int32_t debugRuntime;  ///< KQ_DEBUG_RUNTIME of the module's build
};

static_assert(sizeof(ModuleStamp) == 8, "fixed layout: the stamp is two 32-bit words");

}  // namespace bg

#endif  // KQBRIDGE_MODULE_STAMP_H_
