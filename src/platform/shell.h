// Handing a folder to the desktop's file manager.
#ifndef KQBRIDGE_PLATFORM_SHELL_H_
#define KQBRIDGE_PLATFORM_SHELL_H_

#include "kqbridge/export.h"

namespace bg {
namespace platform {

// Starts the desktop's opener on `folder` and returns at once. Never
// blocks, reports nothing and leaves no child behind, also when there is
// no opener to start.
KQ_EXPORT void openFolder(const char* folder);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_SHELL_H_
