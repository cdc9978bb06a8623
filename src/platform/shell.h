// Handing a folder to the desktop's file manager.
#ifndef KQBRIDGE_PLATFORM_SHELL_H_
#define KQBRIDGE_PLATFORM_SHELL_H_

namespace bg {
namespace platform {

// Starts the desktop's opener (xdg-open from PATH) on `folder` and returns
// at once. The opener runs in a session of its own, with every signal
// unblocked and at its default action, its standard streams on /dev/null
// and none of our descriptors. Never blocks, reports nothing and leaves no
// zombie behind, also when there is no opener to start.
void openFolder(const char* folder);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_SHELL_H_
