// Environment variables and the system temporary directory.
#ifndef KQBRIDGE_PLATFORM_ENV_H_
#define KQBRIDGE_PLATFORM_ENV_H_

#include <string>

namespace bg {
namespace platform {

// Sets or replaces `name`; 0, or -1 when the name is not acceptable.
int setEnvVar(const char* name, const char* value);
// The runtime's own text, or null when unset.
char* getEnvVar(const char* name);
// TMP, TEMP, TMPDIR (the first that is set and not empty), else /tmp/;
// always ends with a separator.
std::string tempPath();

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_ENV_H_
