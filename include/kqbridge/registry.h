/// \file
/// The process-wide registry of named instances.
#ifndef KQBRIDGE_REGISTRY_H_
#define KQBRIDGE_REGISTRY_H_

#include <typeinfo>

#include "kqbridge/export.h"

namespace bg {

///@{
/// One table for the whole process, name -> pointer, ordered byte-wise by
/// name. Pointers are not owned. Every function is safe to call from any
/// thread without outside locking. Registering by type uses
/// type_info::name() as the name.
KQ_EXPORT void setInstance(const char* name, void* inst);
KQ_EXPORT void setInstance(const std::type_info& type, void* inst);
///@}
///@{
/// Null when there is no entry (or the entry holds null).
KQ_EXPORT void* getInstance(const char* name);
KQ_EXPORT void* getInstance(const std::type_info& type);
///@}
/// The number of entries removed: 1 or 0.
KQ_EXPORT int eraseInstance(const char* name);
/// Removes every entry.
KQ_EXPORT void clearInstance();
/// The number of entries.
KQ_EXPORT int getInstanceCount();
/// Calls `cb` per entry in ascending name order, without holding the table's
/// lock: `cb` may add or erase entries (an added name after the current one is
/// visited, an erased one not yet visited is skipped).
KQ_EXPORT void travellInstance(void (*cb)(const char* name, void* inst, void* user), void* user);
/// Lists the table in the central log at DEBUG level (nothing while CD is null).
KQ_EXPORT void showAllInstance();

}  // namespace bg

#endif  // KQBRIDGE_REGISTRY_H_
