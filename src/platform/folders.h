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

// The file name of the configuration directory application `name` keeps
// beside its executable when no per-user folder can take it: "<name>.d"
// where the executable itself is "<name>", "<name>" beside "<name>.exe".
std::string besideExecutableName(const std::string& name);

// The last resort for the files of application `name`: a folder of this
// user's own in the temporary directory, made (mode 0700) when missing. Empty,
// with the reason (naming the folder) in `why`, when it cannot be made or its
// name is taken by a link, by something other than a directory or by another
// user's folder.
std::string privateTempFolder(const std::string& name, std::string* why);

// The full path of the running executable as the system resolved it; empty
// when the system cannot tell.
std::string executablePath();

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_FOLDERS_H_
