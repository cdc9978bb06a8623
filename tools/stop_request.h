// The requests that stop a tool: SIGINT and SIGTERM on POSIX systems,
// Ctrl-C, Ctrl-Break and closing the console on Windows.
#ifndef KQBRIDGE_TOOLS_STOP_REQUEST_H_
#define KQBRIDGE_TOOLS_STOP_REQUEST_H_

#include <string>

// Takes the requests away from the handling that would end the process (also
// when the shell started us with them ignored) and keeps them for
// waitForStopRequest. REQUIRES: called once, on the main thread, before any
// other thread starts, so that every thread inherits the setting.
void holdStopRequests();

// Blocks until a stop request arrives and returns its name. One interrupt
// may arrive twice (sent to the process and to its process group, as
// `timeout` does), so a request within a second of the first is the same
// one. A request a second or more later means the stop itself is stuck (a
// component that does not return, say): it ends the process at once with
// status 128 + the signal number, after a line that says so.
std::string waitForStopRequest(const char* program);

#endif  // KQBRIDGE_TOOLS_STOP_REQUEST_H_
