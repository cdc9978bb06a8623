#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "stop_request.h"

namespace {

HANDLE g_stopped = nullptr;
std::atomic<int> g_requests{0};
std::atomic<DWORD> g_first{CTRL_C_EVENT};
std::atomic<const char*> g_program{nullptr};
std::atomic<ULONGLONG> g_firstAt{0};
const ULONGLONG kSameRequestMs = 1000;

const char* nameOf(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return "Ctrl-C";
    case CTRL_BREAK_EVENT:
      return "Ctrl-Break";
    default:
      return "console closed";
  }
}

// Runs on a thread the system starts for each console event. After a close
// event the process ends as soon as the handler returns, so it gives the
// main thread a moment to stop the components first. A second event within
// a second of the first is the same request.
BOOL WINAPI onConsoleEvent(DWORD event) {
  if (g_requests++ == 0) {
    g_first = event;
    g_firstAt = GetTickCount64();
    SetEvent(g_stopped);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(5000);
    return TRUE;
  }
  const char* program = g_program.load();
  // Zero: the first event's handler has not noted its time yet, so this one came at once.
  ULONGLONG firstAt = g_firstAt.load();
  if (firstAt == 0 || GetTickCount64() - firstAt < kSameRequestMs) {
    fprintf(stderr, "%s: %s within a second of the first, taken as the same request\n",
            program != nullptr ? program : "", nameOf(event));
    fflush(stderr);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(5000);
    return TRUE;
  }
  fprintf(stderr, "%s: %s again, a second or more after the first, while stopping; exiting at once\n",
          program != nullptr ? program : "", nameOf(event));
  fflush(stderr);
  _exit(128 + (event == CTRL_C_EVENT ? SIGINT : SIGTERM));
}

}  // namespace

// A console process started with Ctrl-C ignored gets it back too.
void holdStopRequests() {
  g_stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

std::string waitForStopRequest(const char* program) {
  g_program = program;
  WaitForSingleObject(g_stopped, INFINITE);
  return nameOf(g_first);
}
