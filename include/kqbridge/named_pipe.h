/// \file
/// bg::pi: length-prefixed messages between processes over named pipes.
#ifndef KQBRIDGE_NAMED_PIPE_H_
#define KQBRIDGE_NAMED_PIPE_H_

#include <string>

#include "kqbridge/export.h"

namespace bg {
namespace pi {

/// One endpoint. A message is a 32-bit native-order length and that many
/// bytes. Failures throw std::runtime_error (texts ending in ", GLE=<n>") or
/// std::out_of_range.
class KQ_EXPORT INamedPipe {
 public:
  virtual ~INamedPipe();
  /// Connects a client to the server of its name, or starts serving the
  /// name; 1. A name nobody serves throws at once ("Could not open pipe, GLE=2").
  virtual int Open() = 0;
  /// Reads exactly `size` bytes, waiting for them, and returns `size`; a
  /// peer that closed throws "pipe disconnected, GLE=109".
  virtual int Read(void* buf, int size) = 0;
  /// Reads one message: its length, then that many bytes.
  virtual std::string ReadString() = 0;
  /// Writes `size` bytes as they are (no length in front); 1.
  virtual int Write(const void* buf, int size) = 0;
  /// Writes `msg` as one message, its length in front; an empty one writes nothing (0).
  virtual int WriteString(const std::string& msg) = 0;
  /// 1 while open: what was written is in the system's hands already.
  virtual int Flush() = 0;
  /// Releases the connection or the served name; a closed endpoint may be opened again.
  virtual void Close() = 0;
};

/// Framing and argument checks over the platform's pipe calls.
class KQ_EXPORT AbstractNamedPipe : public INamedPipe {
 public:
  /// An endpoint of `name` (any characters), not yet open.
  AbstractNamedPipe(const std::string& name, bool isServer);
  ~AbstractNamedPipe() override;
  int Open() override;
  int Read(void* buf, int size) override;
  std::string ReadString() override;
  int Write(const void* buf, int size) override;
  int WriteString(const std::string& msg) override;
  int Flush() override;

  ///@{
  /// The platform's calls under Open, Read, Write and Flush, which check the
  /// arguments first; a derived class provides them.
  virtual int OpenClient() = 0;
  virtual int CreateServer() = 0;
  virtual int ReadRaw(void* buf, int size) = 0;
  virtual int WriteRaw(const void* buf, int size) = 0;
  virtual int FlushRaw() = 0;
  ///@}
  /// A connected instance owned by the caller, or null when `timeoutMs` passed.
  virtual AbstractNamedPipe* AsyncWaitForConnection(unsigned timeoutMs) = 0;
  /// The same without a time limit.
  virtual AbstractNamedPipe* WaitForConnection() = 0;

 protected:
  /// Fixed layout: classes derived from this one (ours and a module's) read
  /// the documented fields name and isServer.
  std::string name;  ///< "\\.\pipe\" + the caller's name
  bool isServer;     ///< whether this endpoint serves the name
};

/// The endpoint over the platform's pipe calls (the name is kept on every
/// platform). A client connects to the server of `name`; a server serves
/// `name` and hands out each client as a new connected instance, which reads
/// and writes like a client and whose Close disconnects that client. Close
/// and the destructor release the handle of every kind of endpoint, a plain
/// client's included, so a sender never leaks one. Used by one thread at a
/// time, except CancelWait.
class KQ_EXPORT WinNamedPipe : public AbstractNamedPipe {
 public:
  /// A client or a server endpoint of `name`, not yet open.
  WinNamedPipe(const std::string& name, bool isServer);
  /// Closes the endpoint.
  ~WinNamedPipe() override;
  WinNamedPipe(const WinNamedPipe&) = delete;
  WinNamedPipe& operator=(const WinNamedPipe&) = delete;

  void Close() override;
  int OpenClient() override;
  int CreateServer() override;
  int ReadRaw(void* buf, int size) override;
  int WriteRaw(const void* buf, int size) override;
  int FlushRaw() override;
  /// A connected instance owned by the caller, or null when `timeoutMs`
  /// passed (or CancelWait was called); the server stays ready for the next
  /// wait either way.
  AbstractNamedPipe* AsyncWaitForConnection(unsigned timeoutMs) override;
  /// The same without a time limit; null only after CancelWait.
  AbstractNamedPipe* WaitForConnection() override;

  /// Makes a wait of this server in progress on another thread, or else its
  /// next wait that finds no client waiting, return null at once.
  void CancelWait();

 private:
  // The platform's pipe handle (null when not open) and whether this is a
  // connected instance a wait handed out, defined in src/.
  struct State;
  State* m_state;
};

/// Accepts clients on one thread and hands each to a worker, which passes it
/// to the callback. The callback owns the pipe and releases it with
/// destroy_pipe_client.
class KQ_EXPORT INamedPipeServer {
 public:
  virtual ~INamedPipeServer();
  /// The callback each client is given to, with `user`; set before Start().
  virtual void SetHandler(void (*callback)(INamedPipe* pipe, void* user), void* user);
  /// Serves the name, then starts the workers and the accepting thread;
  /// throws std::runtime_error when the name cannot be served.
  virtual void Start() = 0;
  /// Stops accepting and returns once the callbacks in progress have.
  virtual void Stop() = 0;
};

///@{
/// Each create_… returns an object the caller owns until it gives it to the
/// matching destroy_…, which deletes it (stopping a server first) and nulls
/// the caller's pointer.
KQ_EXPORT INamedPipe* create_pipe_client(const char* name);
KQ_EXPORT INamedPipeServer* create_pipe_server(const char* name, int n);
KQ_EXPORT void destroy_pipe_client(INamedPipe** p);
KQ_EXPORT void destroy_pipe_server(INamedPipeServer** p);
///@}
/// A running server, or null on failure.
/// `n` workers each serve one client at a time; the failure is printed on standard error.
KQ_EXPORT INamedPipeServer* listen_pipe(const char* name, int n, void (*callback)(INamedPipe*, void*),
                                        void* user);
/// Connects, sends `msg` as one message and disconnects; false (with the
/// error on standard error) when nobody serves the name or the write failed.
KQ_EXPORT bool pipe_send_msg(const char* name, const std::string& msg);
/// Sends `msg` to a running instance and ends the process. When none runs, it
/// claims the name for this process in the same step and returns: later
/// instances connect and send at once, and this process's first listen_pipe
/// of the name serves what they sent (so it must serve the name, or end).
KQ_EXPORT void setup_single_app(const char* name, const char* msg);

}  // namespace pi
}  // namespace bg

#endif  // KQBRIDGE_NAMED_PIPE_H_
