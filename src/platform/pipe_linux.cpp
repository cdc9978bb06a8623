#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/last_error.h"
#include "platform/mutex.h"
#include "platform/pipe.h"

namespace bg {
namespace platform {

// A pipe name is a Unix-domain stream socket in a directory only this user
// may enter: $XDG_RUNTIME_DIR/kqbridge/, else /tmp/kqbridge-<uid>/. Names of
// up to 64 plain characters keep their own file name; any other name (long,
// odd characters, "." and "..") becomes "~" and the 16 hex digits of its
// 64-bit FNV-1a hash, so a program in any language can compute where a pipe
// lives and speak its framing.
struct PipeListener {
  int fd;
  int cancelFd;
  std::string dir;
  std::string path;
  dev_t dev;
  ino_t ino;
};

struct PipeConnection {
  int fd;
};

namespace {

const char kPipePrefix[] = "\\\\.\\pipe\\";
const size_t kMaxPlainName = 64;

unsigned pipeError(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ECONNREFUSED:
      return kErrFileNotFound;
    case EACCES:
    case EPERM:
      return kErrAccessDenied;
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN:
      return kErrBrokenPipe;
    case EAGAIN:
    case EADDRINUSE:
      return kErrPipeBusy;
    default:
      return winErrorFromErrno(err);
  }
}

void fail(int err) {
  setLastError(pipeError(err));
}

// On a transfer, EAGAIN is the timeout of pipeSetTimeout running out.
void failTransfer(int err) {
  setLastError(err == EAGAIN || err == EWOULDBLOCK ? kErrTimeout : pipeError(err));
}

bool isPlainChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '-';
}

std::string socketFileName(const std::string& name) {
  bool plain = !name.empty() && name.size() <= kMaxPlainName && name != "." && name != "..";
  for (unsigned char c : name) plain = plain && isPlainChar(c);
  if (plain) return name;
  uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : name) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  char buf[20];
  snprintf(buf, sizeof(buf), "~%016llx", static_cast<unsigned long long>(h));
  return buf;
}

std::string pipeDir(uid_t uid) {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/kqbridge";
  return "/tmp/kqbridge-" + std::to_string(uid);
}

// The directory must be ours and closed to everybody else: a socket planted
// by another user must never be mistaken for one of our pipes.
bool checkDir(const std::string& dir, uid_t uid, bool create) {
  if (create && mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    fail(errno);
    return false;
  }
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) {
    fail(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != uid) {
    setLastError(kErrAccessDenied);
    return false;
  }
  if ((st.st_mode & 077) != 0 && (!create || chmod(dir.c_str(), 0700) != 0)) {
    setLastError(kErrAccessDenied);
    return false;
  }
  return true;
}

bool peerIsSameUser(int fd) {
  struct ucred cred;
  socklen_t len = sizeof(cred);
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == geteuid();
}

// A socket address for `path`. Paths longer than sun_path are reached
// through the directory's descriptor under /proc/self/fd.
class SocketAddress {
 public:
  SocketAddress() : m_len(0), m_dirFd(-1) { memset(&m_addr, 0, sizeof(m_addr)); }
  ~SocketAddress() {
    if (m_dirFd >= 0) close(m_dirFd);
  }
  SocketAddress(const SocketAddress&) = delete;
  SocketAddress& operator=(const SocketAddress&) = delete;

  bool set(const std::string& dir, const std::string& path) {
    m_addr.sun_family = AF_UNIX;
    std::string target = path;
    if (target.size() >= sizeof(m_addr.sun_path)) {
      m_dirFd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (m_dirFd < 0) {
        fail(errno);
        return false;
      }
      target = "/proc/self/fd/" + std::to_string(m_dirFd) + path.substr(dir.size());
    }
    memcpy(m_addr.sun_path, target.c_str(), target.size() + 1);
    m_len = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + target.size() + 1);
    return true;
  }
  const struct sockaddr* get() const { return reinterpret_cast<const struct sockaddr*>(&m_addr); }
  socklen_t size() const { return m_len; }

 private:
  struct sockaddr_un m_addr;
  socklen_t m_len;
  int m_dirFd;
};

bool resolve(const std::string& pipePath, bool create, std::string* dir, std::string* path) {
  std::string name = pipePath;
  if (name.compare(0, sizeof(kPipePrefix) - 1, kPipePrefix) == 0) name.erase(0, sizeof(kPipePrefix) - 1);
  uid_t uid = geteuid();
  *dir = pipeDir(uid);
  if (!checkDir(*dir, uid, create)) return false;
  *path = *dir + "/" + socketFileName(name);
  return true;
}

// With `wait`, a server whose queue of clients is full is waited for, as a
// client waits for a free instance of a busy pipe; without, that reports
// "busy" (EAGAIN). A file left by a killed server refuses at once.
int connectTo(const SocketAddress& addr, bool wait, int* err) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (wait ? 0 : SOCK_NONBLOCK), 0);
  if (fd < 0) {
    *err = errno;
    return -1;
  }
  int rc;
  while ((rc = connect(fd, addr.get(), addr.size())) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    *err = errno;
    close(fd);
    return -1;
  }
  return fd;
}

// The names this process reserved and no listener has taken over yet, by
// socket path. Never destroyed: a reservation may be looked at while the
// process exits. A child made by fork() inherits the map but not the claim.
struct Reservations {
  Mutex lock;
  std::map<std::string, PipeListener*> byPath GUARDED_BY(lock);
  pid_t owner GUARDED_BY(lock) = 0;
};

Reservations& reservations() {
  static Reservations* r = new Reservations;
  return *r;
}

PipeListener* takeReservation(const std::string& path) {
  Reservations& r = reservations();
  MutexLock hold(&r.lock);
  if (r.owner != getpid()) return nullptr;
  auto it = r.byPath.find(path);
  if (it == r.byPath.end()) return nullptr;
  PipeListener* l = it->second;
  r.byPath.erase(it);
  return l;
}

// A process that reserved a name and ends without serving it removes the
// name, as a server does when it stops.
void dropReservations() {
  Reservations& r = reservations();
  MutexLock hold(&r.lock);
  if (r.owner != getpid()) return;
  for (auto& entry : r.byPath) pipeCloseListener(entry.second);
  r.byPath.clear();
}

}  // namespace

PipeConnection* pipeConnect(const std::string& pipePath) {
  std::string dir, path;
  SocketAddress addr;
  if (!resolve(pipePath, false, &dir, &path) || !addr.set(dir, path)) return nullptr;
  int err = 0;
  int fd = connectTo(addr, true, &err);
  if (fd < 0) {
    fail(err);
    return nullptr;
  }
  // The server needs no check of its own: only this user (or root) can
  // have bound a socket in the directory checked above.
  return new PipeConnection{fd};
}

PipeListener* pipeListen(const std::string& pipePath) {
  std::string dir, path;
  SocketAddress addr;
  if (!resolve(pipePath, true, &dir, &path)) return nullptr;
  if (PipeListener* reserved = takeReservation(path)) return reserved;
  if (!addr.set(dir, path)) return nullptr;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    fail(errno);
    return nullptr;
  }
  // Two servers that both find a stale file must not remove each other's
  // fresh one, so the check and the bind happen under a lock on the
  // directory. Probing a live server costs it one empty connection.
  int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) flock(dirFd, LOCK_EX);
  int rc = bind(fd, addr.get(), addr.size());
  if (rc != 0 && errno == EADDRINUSE) {
    int err = 0;
    int probe = connectTo(addr, false, &err);
    if (probe < 0 && err == ECONNREFUSED) {
      unlink(path.c_str());
      rc = bind(fd, addr.get(), addr.size());
    } else {
      if (probe >= 0) close(probe);
      errno = EADDRINUSE;
    }
  }
  if (rc == 0) rc = listen(fd, SOMAXCONN);
  struct stat st;
  if (rc == 0) rc = stat(path.c_str(), &st);
  int err = errno;
  if (dirFd >= 0) close(dirFd);
  if (rc != 0) {
    close(fd);
    fail(err);
    return nullptr;
  }
  int cancelFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (cancelFd < 0) {
    fail(errno);
    unlink(path.c_str());
    close(fd);
    return nullptr;
  }
  return new PipeListener{fd, cancelFd, dir, path, st.st_dev, st.st_ino};
}

// The reservation is a listening socket like any server's: bind() makes
// the claim atomic (a stale file is replaced under the directory lock), and
// clients wait in its queue until the listener takes them.
bool pipeReserve(const std::string& pipePath) {
  PipeListener* l = pipeListen(pipePath);
  if (l == nullptr) return false;
  static std::once_flag atExit;
  std::call_once(atExit, [] { atexit(dropReservations); });
  Reservations& r = reservations();
  MutexLock hold(&r.lock);
  if (r.owner != getpid()) {
    // A parent's, inherited through fork(): the name stays the parent's.
    for (auto& entry : r.byPath) {
      close(entry.second->fd);
      close(entry.second->cancelFd);
      delete entry.second;
    }
    r.byPath.clear();
    r.owner = getpid();
  }
  r.byPath[l->path] = l;
  return true;
}

// A waiting client is taken before anything else, so a busy server makes no
// poll call per connection; the running acceptor stops by its own flag.
AcceptResult pipeAccept(PipeListener* l, int timeoutMs, PipeConnection** out) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int fd = accept4(l->fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      // Another user who reached the socket anyway (root, a loosened
      // directory) is turned away, and we go on waiting.
      if (!peerIsSameUser(fd)) {
        close(fd);
        continue;
      }
      *out = new PipeConnection{fd};
      return AcceptResult::kConnected;
    }
    if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED) {
      fail(errno);
      return AcceptResult::kFailed;
    }
    int wait = -1;
    if (timeoutMs >= 0) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      wait = left.count() < 0 ? 0 : static_cast<int>(left.count());
    }
    struct pollfd fds[2] = {{l->fd, POLLIN, 0}, {l->cancelFd, POLLIN, 0}};
    int n = poll(fds, 2, wait);
    if (n < 0 && errno != EINTR) {
      fail(errno);
      return AcceptResult::kFailed;
    }
    if (n > 0 && fds[1].revents != 0) {
      uint64_t count;
      if (read(l->cancelFd, &count, sizeof(count)) < 0) count = 0;
      return AcceptResult::kTimedOut;
    }
    if (n == 0 && wait == 0) return AcceptResult::kTimedOut;
  }
}

void pipeCancelAccept(PipeListener* l) {
  uint64_t one = 1;
  if (write(l->cancelFd, &one, sizeof(one)) < 0) return;
}

void pipeCloseListener(PipeListener* l) {
  // The name goes with the server, unless someone else serves it by now.
  struct stat st;
  if (stat(l->path.c_str(), &st) == 0 && st.st_dev == l->dev && st.st_ino == l->ino) unlink(l->path.c_str());
  close(l->fd);
  close(l->cancelFd);
  delete l;
}

bool pipeRead(PipeConnection* c, void* buf, size_t size) {
  char* p = static_cast<char*>(buf);
  while (size > 0) {
    ssize_t n = recv(c->fd, p, size, 0);
    if (n > 0) {
      p += n;
      size -= static_cast<size_t>(n);
    } else if (n == 0) {
      setLastError(kErrBrokenPipe);
      return false;
    } else if (errno != EINTR) {
      failTransfer(errno);
      return false;
    }
  }
  return true;
}

bool pipeWrite(PipeConnection* c, const void* buf, size_t size) {
  const char* p = static_cast<const char*>(buf);
  while (size > 0) {
    ssize_t n = send(c->fd, p, size, MSG_NOSIGNAL);
    if (n >= 0) {
      p += n;
      size -= static_cast<size_t>(n);
    } else if (errno != EINTR) {
      failTransfer(errno);
      return false;
    }
  }
  return true;
}

void pipeSetTimeout(PipeConnection* c, int timeoutMs) {
  struct timeval tv;
  tv.tv_sec = timeoutMs / 1000;
  tv.tv_usec = (timeoutMs % 1000) * 1000;
  setsockopt(c->fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  setsockopt(c->fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
}

void pipeCloseConnection(PipeConnection* c) {
  close(c->fd);
  delete c;
}

}  // namespace platform
}  // namespace bg
