// Where things live: the per-user folders the Windows names stand for, and
// the running executable. Safe to call from any thread (they read the
// environment, which the caller must not change meanwhile).
#ifndef KQBRIDGE_PLATFORM_FOLDERS_H_
#define KQBRIDGE_PLATFORM_FOLDERS_H_

#include <string>

namespace bg {
namespace platform {

// HOMEPATH when set and not empty, else the user's home (HOME); empty when
// neither is set.
std::string homeFolder();

// Per-user settings: APPDATA when set and not empty, else $XDG_CONFIG_HOME,
// else <HOME>/.config; empty when none is known.
std::string appDataFolder();

// Per-user application data, where each application's configuration
// directory goes first: $XDG_DATA_HOME, else <HOME>/.local/share. Missing
// levels are made (mode 0700) so that the caller can create one directory
// in it; a failure to make them shows when the caller tries. Empty when
// neither variable is set.
std::string localDataFolder();

// The full path of the running executable as the system resolved it; empty
// when the system cannot tell.
std::string executablePath();

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_FOLDERS_H_
