#include <windows.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/last_error.h"
#include "platform/mutex.h"
#include "platform/pipe.h"

namespace bg {
namespace platform {

// One pipe instance waits for the next client at any time; each client that
// connects takes the instance with it, and a fresh one replaces it.
struct PipeListener {
  std::string name;
  HANDLE instance;
  HANDLE cancel;  // auto-reset: one cancel ends one wait
};

struct PipeConnection {
  HANDLE pipe;
  HANDLE ioDone;
  bool serverSide;
  DWORD timeoutMs = INFINITE;
};

namespace {

const char kPipePrefix[] = "\\\\.\\pipe\\";
const DWORD kBufferSize = 5120;

std::string fullName(const std::string& pipePath) {
  return pipePath.compare(0, sizeof(kPipePrefix) - 1, kPipePrefix) == 0 ? pipePath : kPipePrefix + pipePath;
}

HANDLE newInstance(const std::string& name, DWORD extraFlags = 0) {
  return CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | extraFlags,
                          PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                          kBufferSize, kBufferSize, 0, nullptr);
}

PipeListener* newListener(const std::string& name, HANDLE instance) {
  HANDLE cancel = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (cancel == nullptr) {
    DWORD error = GetLastError();
    CloseHandle(instance);
    SetLastError(error);
    return nullptr;
  }
  return new PipeListener{name, instance, cancel};
}

// The names this process reserved and no listener has taken over yet, each
// with the claim file that guards it until then. Never destroyed: a
// reservation may be looked at while the process exits.
struct Reservation {
  PipeListener* listener;
  HANDLE claim;
};

struct Reservations {
  Mutex lock;
  std::map<std::string, Reservation> byName GUARDED_BY(lock);
};

Reservations& reservations() {
  static Reservations* r = new Reservations;
  return *r;
}

// Once its listener exists the name is served: nobody needs the claim any more.
PipeListener* takeReservation(const std::string& name) {
  Reservations& r = reservations();
  MutexLock hold(&r.lock);
  auto it = r.byName.find(name);
  if (it == r.byName.end()) return nullptr;
  Reservation taken = it->second;
  r.byName.erase(it);
  CloseHandle(taken.claim);
  return taken.listener;
}

// The claim on a pipe name, held while its holder checks that nobody serves
// the name and until it serves it: a file in the temporary directory opened
// without sharing, so one process at a time holds it, and deleted when its
// handle closes, also when the holder dies. (The system would refuse a
// second first instance itself, FILE_FLAG_FIRST_PIPE_INSTANCE, but Wine
// does not, and the tests run there.) Pipe names ignore case.
HANDLE claimName(const std::string& name) {
  char dir[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof(dir), dir);
  if (n == 0 || n > MAX_PATH) return INVALID_HANDLE_VALUE;
  uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : name) h = (h ^ static_cast<unsigned char>(tolower(c))) * 0x100000001b3ULL;
  char file[40];
  snprintf(file, sizeof(file), "kqbridge-claim-%016llx", static_cast<unsigned long long>(h));
  return CreateFileA((std::string(dir) + file).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

PipeConnection* newConnection(HANDLE pipe, bool serverSide) {
  HANDLE ioDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (ioDone == nullptr) {
    DWORD error = GetLastError();
    if (serverSide) DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
    SetLastError(error);
    return nullptr;
  }
  return new PipeConnection{pipe, ioDone, serverSide};
}

// The handles are opened for overlapped use, so each transfer waits for its
// own completion; a transfer that moves fewer bytes than asked goes on
// until all of them have moved or the pipe fails.
template <typename Transfer>
bool transferAll(PipeConnection* c, size_t size, Transfer transfer) {
  size_t done = 0;
  while (done < size) {
    OVERLAPPED ov = {};
    ov.hEvent = c->ioDone;
    DWORD chunk = size - done > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size - done);
    DWORD moved = 0;
    if (!transfer(done, chunk, &ov) && GetLastError() != ERROR_IO_PENDING) return false;
    // A transfer that outlasts the timeout is cancelled, and waited for, so
    // that it never completes into a record that is gone.
    if (WaitForSingleObject(c->ioDone, c->timeoutMs) == WAIT_TIMEOUT) {
      CancelIoEx(c->pipe, &ov);
      GetOverlappedResult(c->pipe, &ov, &moved, TRUE);
      SetLastError(kErrTimeout);
      return false;
    }
    if (!GetOverlappedResult(c->pipe, &ov, &moved, TRUE)) return false;
    if (moved == 0) {
      SetLastError(ERROR_BROKEN_PIPE);
      return false;
    }
    done += moved;
  }
  return true;
}

}  // namespace

// Pipes are objects of the system's own name space: the path is the name.
std::string pipeSocketPath(const std::string& pipePath, bool /*create*/) {
  return fullName(pipePath);
}

// A busy pipe (every instance taken) answers 231; the caller tries again
// after WaitNamedPipeA has seen an instance free up.
PipeConnection* pipeConnect(const std::string& pipePath) {
  std::string name = fullName(pipePath);
  WaitNamedPipeA(name.c_str(), NMPWAIT_WAIT_FOREVER);
  HANDLE pipe = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return nullptr;
  DWORD mode = PIPE_READMODE_BYTE;
  if (!SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) {
    DWORD error = GetLastError();
    CloseHandle(pipe);
    SetLastError(error);
    return nullptr;
  }
  return newConnection(pipe, false);
}

PipeListener* pipeListen(const std::string& pipePath) {
  std::string name = fullName(pipePath);
  if (PipeListener* reserved = takeReservation(name)) return reserved;
  HANDLE instance = newInstance(name);
  if (instance == INVALID_HANDLE_VALUE) return nullptr;
  return newListener(name, instance);
}

// Holding the claim, the name is ours unless a server got there first. A
// client that connects to the reserved instance before the listener takes
// it over is accepted then, with what it sent.
bool pipeReserve(const std::string& pipePath) {
  std::string name = fullName(pipePath);
  Reservations& r = reservations();
  {
    MutexLock hold(&r.lock);
    if (r.byName.count(name) != 0) return true;
  }
  HANDLE claim = claimName(name);
  if (claim == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_PIPE_BUSY);
    return false;
  }
  bool served = WaitNamedPipeA(name.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND;
  HANDLE instance = served ? INVALID_HANDLE_VALUE : newInstance(name, FILE_FLAG_FIRST_PIPE_INSTANCE);
  PipeListener* l = instance == INVALID_HANDLE_VALUE ? nullptr : newListener(name, instance);
  if (l == nullptr) {
    DWORD error = served || GetLastError() == ERROR_ACCESS_DENIED ? ERROR_PIPE_BUSY : GetLastError();
    CloseHandle(claim);
    SetLastError(error);
    return false;
  }
  MutexLock hold(&r.lock);
  r.byName[name] = Reservation{l, claim};
  return true;
}

// The connect runs overlapped with its own event, set when the wait
// starts so that a client already connected is seen at once. When the wait
// ends without a client, the pending connect is cancelled and its
// completion awaited before the record goes away: a client connecting in
// that moment is taken, not lost.
AcceptResult pipeAccept(PipeListener* listener, int timeoutMs, PipeConnection** out) {
  *out = nullptr;
  HANDLE connected = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  if (connected == nullptr) return AcceptResult::kFailed;
  OVERLAPPED ov = {};
  ov.hEvent = connected;
  if (ConnectNamedPipe(listener->instance, &ov)) {
    CloseHandle(connected);
    return AcceptResult::kFailed;
  }
  DWORD error = GetLastError();
  bool isConnected = false;
  // A client that came and already went (ERROR_NO_DATA) may have left a
  // message: it is handed out like any other, and its reader finds the
  // bytes and then the disconnect. Freeing the instance would drop them.
  if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) {
    isConnected = true;
  } else if (error == ERROR_IO_PENDING) {
    HANDLE events[2] = {connected, listener->cancel};
    DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    if (WaitForMultipleObjects(2, events, FALSE, limit) != WAIT_OBJECT_0) CancelIoEx(listener->instance, &ov);
    DWORD ignored = 0;
    isConnected = GetOverlappedResult(listener->instance, &ov, &ignored, TRUE) != 0;
  } else {
    CloseHandle(connected);
    SetLastError(error);
    return AcceptResult::kFailed;
  }
  CloseHandle(connected);
  if (!isConnected) return AcceptResult::kTimedOut;

  HANDLE fresh = newInstance(listener->name);
  if (fresh == INVALID_HANDLE_VALUE) {
    // The client keeps its place; the listener can no longer wait.
    DWORD error = GetLastError();
    DisconnectNamedPipe(listener->instance);
    SetLastError(error);
    return AcceptResult::kFailed;
  }
  HANDLE taken = listener->instance;
  listener->instance = fresh;
  *out = newConnection(taken, true);
  return *out != nullptr ? AcceptResult::kConnected : AcceptResult::kFailed;
}

void pipeCancelAccept(PipeListener* listener) {
  SetEvent(listener->cancel);
}

void pipeCloseListener(PipeListener* listener) {
  if (listener == nullptr) return;
  DisconnectNamedPipe(listener->instance);
  CloseHandle(listener->instance);
  CloseHandle(listener->cancel);
  delete listener;
}

bool pipeRead(PipeConnection* c, void* buf, size_t size) {
  char* bytes = static_cast<char*>(buf);
  return transferAll(c, size, [&](size_t done, DWORD chunk, OVERLAPPED* ov) {
    return ReadFile(c->pipe, bytes + done, chunk, nullptr, ov) != 0;
  });
}

bool pipeWrite(PipeConnection* c, const void* buf, size_t size) {
  const char* bytes = static_cast<const char*>(buf);
  return transferAll(c, size, [&](size_t done, DWORD chunk, OVERLAPPED* ov) {
    return WriteFile(c->pipe, bytes + done, chunk, nullptr, ov) != 0;
  });
}

void pipeSetTimeout(PipeConnection* c, int timeoutMs) {
  c->timeoutMs = static_cast<DWORD>(timeoutMs);
}

// The server side waits until the client has read what it was sent, then
// disconnects; a client simply lets go of its handle.
void pipeCloseConnection(PipeConnection* c) {
  if (c == nullptr) return;
  if (c->serverSide) {
    FlushFileBuffers(c->pipe);
    DisconnectNamedPipe(c->pipe);
  }
  CloseHandle(c->pipe);
  CloseHandle(c->ioDone);
  delete c;
}

}  // namespace platform
}  // namespace bg
