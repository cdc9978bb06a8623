#include <sstream>
#include <stdexcept>

#include "kqbridge/named_pipe.h"
#include "platform/last_error.h"
#include "platform/pipe.h"

namespace bg {
namespace pi {

namespace {

// ReadFile, WriteFile and ConnectNamedPipe on a handle that was never
// opened fail with this number.
const unsigned kErrInvalidHandle = 6;

// The number is taken first: building the text may make system calls that
// set the system's last error anew.
[[noreturn]] void throwWithLastError(const char* what) {
  unsigned error = platform::getLastError();
  std::ostringstream os;
  os << what << ", GLE=" << error;
  throw std::runtime_error(os.str());
}

platform::PipeListener* listenerOf(void* handle) {
  return static_cast<platform::PipeListener*>(handle);
}

platform::PipeConnection* connectionOf(void* handle) {
  return static_cast<platform::PipeConnection*>(handle);
}

}  // namespace

struct WinNamedPipe::State {
  // A connected instance owned by the caller, for the first client that
  // comes to `server` within `timeoutMs` (-1: no limit); null when the time
  // passed or the wait was cancelled.
  AbstractNamedPipe* takeConnection(const WinNamedPipe& server, const char* failure, int timeoutMs);

  void* handle = nullptr;
  bool isConnectedInstance = false;
};

WinNamedPipe::WinNamedPipe(const std::string& name, bool isServer)
    : AbstractNamedPipe(name, isServer), m_state(new State()) {}

WinNamedPipe::~WinNamedPipe() {
  Close();
  delete m_state;
  m_state = nullptr;
}

// A plain client closes its connection too: keeping it until the process
// ends would leak one descriptor per message sent and leave the server
// waiting for a disconnect that never comes.
void WinNamedPipe::Close() {
  if (m_state->handle == nullptr) return;
  if (isServer) {
    platform::pipeCloseListener(listenerOf(m_state->handle));
  } else {
    platform::pipeCloseConnection(connectionOf(m_state->handle));
  }
  m_state->handle = nullptr;
}

int WinNamedPipe::OpenClient() {
  Close();
  // The platform's connect already waits while every "instance" is busy.
  m_state->handle = platform::pipeConnect(name);
  if (m_state->handle == nullptr) throwWithLastError("Could not open pipe");
  // Sockets carry bytes only, so there is no read mode left to set.
  return 1;
}

// One listening socket serves every client of the name, so there is always
// a fresh "instance" waiting once it exists: a second call keeps it.
int WinNamedPipe::CreateServer() {
  if (m_state->handle != nullptr) return 1;
  m_state->handle = platform::pipeListen(name);
  if (m_state->handle == nullptr) throwWithLastError("CreateNamedPipe failed");
  return 1;
}

int WinNamedPipe::ReadRaw(void* buf, int size) {
  if (m_state->handle == nullptr) platform::setLastError(kErrInvalidHandle);
  if (m_state->handle == nullptr || size <= 0 ||
      !platform::pipeRead(connectionOf(m_state->handle), buf, static_cast<size_t>(size))) {
    if (platform::getLastError() == platform::kErrBrokenPipe) throwWithLastError("pipe disconnected");
    throwWithLastError("read failed");
  }
  return size;
}

int WinNamedPipe::WriteRaw(const void* buf, int size) {
  if (m_state->handle == nullptr) platform::setLastError(kErrInvalidHandle);
  if (m_state->handle == nullptr || size <= 0 ||
      !platform::pipeWrite(connectionOf(m_state->handle), buf, static_cast<size_t>(size))) {
    throwWithLastError("WriteFile failed");
  }
  return 1;
}

// Whatever was written is in the kernel's hands already; there is no user
// buffer to push out.
int WinNamedPipe::FlushRaw() {
  if (m_state->handle != nullptr) return 1;
  platform::setLastError(kErrInvalidHandle);
  return 0;
}

AbstractNamedPipe* WinNamedPipe::State::takeConnection(const WinNamedPipe& server, const char* failure,
                                                       int timeoutMs) {
  if (!server.isServer) throw std::runtime_error("WaitForConnection is not supported on client pipe\n");
  if (handle == nullptr) {
    platform::setLastError(kErrInvalidHandle);
    throwWithLastError(failure);
  }
  platform::PipeConnection* c = nullptr;
  switch (platform::pipeAccept(listenerOf(handle), timeoutMs, &c)) {
    case platform::AcceptResult::kTimedOut:
      return nullptr;
    case platform::AcceptResult::kFailed:
      throwWithLastError(failure);
    case platform::AcceptResult::kConnected:
      break;
  }
  WinNamedPipe* instance = new WinNamedPipe(std::string(), false);
  instance->name.clear();
  instance->m_state->handle = c;
  instance->m_state->isConnectedInstance = true;
  return instance;
}

AbstractNamedPipe* WinNamedPipe::AsyncWaitForConnection(unsigned timeoutMs) {
  int wait = timeoutMs > static_cast<unsigned>(INT32_MAX) ? -1 : static_cast<int>(timeoutMs);
  return m_state->takeConnection(*this, "AsyncWaitForConnection failed", wait);
}

AbstractNamedPipe* WinNamedPipe::WaitForConnection() {
  return m_state->takeConnection(*this, "WaitForConnection failed", -1);
}

void WinNamedPipe::CancelWait() {
  if (isServer && m_state->handle != nullptr) platform::pipeCancelAccept(listenerOf(m_state->handle));
}

}  // namespace pi
}  // namespace bg
