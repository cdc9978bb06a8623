// Replacing a file's contents so that a crash leaves either the old or the
// new contents, never a mix or an empty file.
#ifndef KQBRIDGE_PLATFORM_FILE_REPLACE_H_
#define KQBRIDGE_PLATFORM_FILE_REPLACE_H_

#include <cstdio>

namespace bg {
namespace platform {

// Pushes everything written to `f` down to the storage device; false when
// the data may not have arrived. `f` stays open.
bool flushToDisk(FILE* f);
// Puts `from` in the place of `to` in one step (replacing any file there);
// false, with the last error set, when it could not.
bool replaceFile(const char* from, const char* to);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_FILE_REPLACE_H_
