// Named pipes between processes of one user: a served name, the connections
// it accepts, and client connections to it. A pipe path is "\\.\pipe\NAME"
// (or just NAME). On failure the calls leave the Windows-numbered cause in
// the thread's last error: 2 nobody serves the name, 5 access denied, 109
// the peer has gone, 231 the name is served by another live server.
//
// A listener and a connection are each used by one thread at a time, except
// pipeCancelAccept, which any thread may call while the listener is open.
#ifndef KQBRIDGE_PLATFORM_PIPE_H_
#define KQBRIDGE_PLATFORM_PIPE_H_

#include <cstddef>
#include <string>

namespace bg {
namespace platform {

struct PipeListener;
struct PipeConnection;

enum class AcceptResult { kConnected, kTimedOut, kFailed };

// Connects to the server of `pipePath`, waiting while its queue of clients
// is full. Null on failure.
PipeConnection* pipeConnect(const std::string& pipePath);

// Starts serving `pipePath`, or takes over this process's reservation of
// it. One listener accepts any number of clients. Null on failure (231 when
// another live server holds the name; Windows lets a second server add
// instances of the same pipe instead).
PipeListener* pipeListen(const std::string& pipePath);
// Serves `pipePath` for this process ahead of its server, in one atomic
// step: clients may connect and send from now on, and the first
// pipeListen of the name in this process takes the reservation over. False
// when another live process serves or reserved the name (231), or on any
// other failure. A reservation nobody took over ends with the process.
bool pipeReserve(const std::string& pipePath);
// Waits up to `timeoutMs` (forever when negative) for a client of this user.
// A cancel, or the time running out, gives kTimedOut.
AcceptResult pipeAccept(PipeListener* listener, int timeoutMs, PipeConnection** out);
// Makes the wait in progress, or else the next one that finds no client
// waiting, end with kTimedOut.
void pipeCancelAccept(PipeListener* listener);
// Stops serving and removes the name.
void pipeCloseListener(PipeListener* listener);

// Reads or writes exactly `size` bytes, or fails; never a partial result.
bool pipeRead(PipeConnection* c, void* buf, size_t size);
bool pipeWrite(PipeConnection* c, const void* buf, size_t size);
// From now on a read or write of `c` that moves no byte for `timeoutMs`
// fails with 1460 (timed out); a peer that stalls then costs its server that
// long at most. Without it they wait as long as the peer stays connected.
void pipeSetTimeout(PipeConnection* c, int timeoutMs);
void pipeCloseConnection(PipeConnection* c);

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_PIPE_H_
