// The process's standard error and standard output streams, as the library
// writes its own lines to them. Every such line goes through here, so that a
// test or a host can capture or silence them in one place.
#ifndef KQBRIDGE_PLATFORM_CONSOLE_H_
#define KQBRIDGE_PLATFORM_CONSOLE_H_

#include <cstdarg>

namespace bg {
namespace platform {

#if defined(__GNUC__) || defined(__clang__)
#define KQ_CONSOLE_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define KQ_CONSOLE_FORMAT
#endif

// The values are the streams' descriptor numbers, which a sink receives.
enum class ConsoleStream { kOutput = 1, kError = 2 };

// Formats one message (printf rules) and writes it whole to standard error
// (or standard output), flushed; or hands it to the installed sink. Safe from
// any thread; a message is never split between two writes.
void consoleError(const char* fmt, ...) KQ_CONSOLE_FORMAT;
void consoleOutput(const char* fmt, ...) KQ_CONSOLE_FORMAT;
void consoleWrite(ConsoleStream stream, const char* fmt, va_list ap);

// Receives every message instead of the streams while installed; null puts
// the streams back. `text` is the formatted message, valid during the call.
typedef void (*ConsoleSink)(int stream, const char* text, void* user);
void setConsoleSink(ConsoleSink sink, void* user);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_CONSOLE_H_
