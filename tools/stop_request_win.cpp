#include <windows.h>

#include <atomic>

#include "stop_request.h"

namespace {

HANDLE g_stopped = nullptr;
std::atomic<DWORD> g_request{CTRL_C_EVENT};

// Runs on a thread the system starts for the console event. Returning
// after a close event ends the process, so the handler waits a moment for
// the main thread to stop the components first.
BOOL WINAPI onConsoleEvent(DWORD event) {
  g_request = event;
  SetEvent(g_stopped);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) Sleep(5000);
  return TRUE;
}

}  // namespace

void holdStopRequests() {
  g_stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
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
