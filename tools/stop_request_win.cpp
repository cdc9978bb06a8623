#include <windows.h>

#include <atomic>

#include "stop_request.h"

namespace {

HANDLE g_stopped = nullptr;
std::atomic<DWORD> g_request{CTRL_C_EVENT};

// Runs on a thread the system starts for the console event. After a close
// event the process ends as soon as the handler returns, so it gives the
// main thread a moment to stop the components first.
BOOL WINAPI onConsoleEvent(DWORD event) {
  g_request = event;
  SetEvent(g_stopped);
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(5000);
  return TRUE;
}

}  // namespace

// A console process started with Ctrl-C ignored gets it back too.
void holdStopRequests() {
  g_stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

std::string waitForStopRequest() {
  WaitForSingleObject(g_stopped, INFINITE);
  switch (g_request.load()) {
    case CTRL_C_EVENT:
      return "Ctrl-C";
    case CTRL_BREAK_EVENT:
      return "Ctrl-Break";
    default:
      return "console closed";
  }
}

void releaseStopRequests() {
  SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}
