// What the soak host and its load generator module agree on.
#ifndef KQBRIDGE_TOOLS_SOAK_SOAK_H_
#define KQBRIDGE_TOOLS_SOAK_SOAK_H_

namespace soak {

// The load generator's component name.
constexpr const char* kComponent = "soakload";
// The environment variable that names the pipe the load generator serves and
// the host's sender process writes to.
constexpr const char* kPipeVariable = "KQ_SOAK_PIPE";
// Asks the load generator for "<operations> <failures> <pipe messages in
// this run of the bridge> <first failure, if any>".
constexpr int kCmdReport = 100;
// What every message from outside starts with.
constexpr const char* kPipeGreeting = "soak ";

}  // namespace soak

#endif  // KQBRIDGE_TOOLS_SOAK_SOAK_H_
