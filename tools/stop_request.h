// The requests that stop kqbridge-host: SIGINT and SIGTERM on POSIX systems,
// Ctrl-C, Ctrl-Break and closing the console on Windows.
#ifndef KQBRIDGE_TOOLS_STOP_REQUEST_H_
#define KQBRIDGE_TOOLS_STOP_REQUEST_H_

#include <string>

// Holds the requests back from the default handling that would end the
// process. REQUIRES: called once, before any thread starts, so that every
// thread inherits the setting.
void holdStopRequests();

// Blocks until a stop request arrives; returns its name for the log.
std::string waitForStopRequest();

#endif  // KQBRIDGE_TOOLS_STOP_REQUEST_H_
