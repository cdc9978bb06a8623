// Waiting on the socket of a network library whose loop we drive ourselves.
// Inline, so that a module of its own (remote.dll) needs nothing of the
// library for it.
#ifndef KQBRIDGE_PLATFORM_SOCKET_WAIT_H_
#define KQBRIDGE_PLATFORM_SOCKET_WAIT_H_

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <poll.h>
#endif

#include <cerrno>

namespace bg {
namespace platform {

enum SocketReady { kSocketIdle = 0, kSocketReadable = 1, kSocketWritable = 2 };

// Waits up to `timeoutMs` until `sock` can be read (data, end or an error to
// report) or, when `wantWrite`, written. Returns the kSocket... bits that
// hold, 0 on the timeout or an interruption, -1 on a failure of the wait.
inline int waitSocket(int sock, bool wantWrite, int timeoutMs) {
#if defined(_WIN32)
  WSAPOLLFD p = {static_cast<SOCKET>(sock), static_cast<SHORT>(POLLRDNORM | (wantWrite ? POLLWRNORM : 0)), 0};
  int n = WSAPoll(&p, 1, timeoutMs);
  if (n < 0) return -1;
  const SHORT readable = POLLRDNORM | POLLHUP | POLLERR | POLLNVAL;
  const SHORT writable = POLLWRNORM;
#else
  pollfd p = {sock, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0};
  int n = poll(&p, 1, timeoutMs);
  if (n < 0) return errno == EINTR ? 0 : -1;
  const short readable = POLLIN | POLLHUP | POLLERR | POLLNVAL;
  const short writable = POLLOUT;
#endif
  return ((p.revents & readable) != 0 ? kSocketReadable : 0) |
         ((p.revents & writable) != 0 ? kSocketWritable : 0);
}

}  // namespace platform
}  // namespace bg

#endif  // KQBRIDGE_PLATFORM_SOCKET_WAIT_H_
