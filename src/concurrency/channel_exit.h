// The process-wide channel exit flag: raised once at shutdown, never cleared.
#ifndef KQBRIDGE_CONCURRENCY_CHANNEL_EXIT_H_
#define KQBRIDGE_CONCURRENCY_CHANNEL_EXIT_H_

namespace bg {

void raiseChannelExit();
// Every channel asks this in isAborted() and aborts itself once it is true.
bool channelExitRaised();

}  // namespace bg

#endif  // KQBRIDGE_CONCURRENCY_CHANNEL_EXIT_H_
