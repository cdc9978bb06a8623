/// \file
/// bg::Channel and bg::Channel_Mgr: named two-way message connections in one process.
#ifndef KQBRIDGE_CHANNEL_H_
#define KQBRIDGE_CHANNEL_H_

#include "kqbridge/interface.h"

namespace bg {

class Blocking_IO;

/// One end of a connection: what one end writes, the other reads, as whole
/// messages in order. Reads block until a message arrives or the connection
/// is aborted (then they return 0). Reads, writes and aborts may come from any
/// thread; an end is deleted by one thread once nobody else uses it.
class KQ_EXPORT Abstract_Channel {
 public:
  virtual ~Abstract_Channel();
  /// A second handle on the same end.
  virtual Abstract_Channel* clone() = 0;
  /// A handle on the opposite end.
  virtual Abstract_Channel* peer() = 0;
  /// Queues a copy of `len` bytes as one message for the other end and
  /// returns `len`; never blocks. After an abort the message is dropped.
  virtual int write(const void* data, int len) = 0;
  /// Takes the oldest message, waiting for one: the bytes copied (a message
  /// longer than `size` is cut), or 0 once the connection is aborted.
  virtual int read(void* buf, int size) = 0;
  /// As read(), waiting at most `timeoutMs`; 0 also when the time passed.
  virtual int timedRead(void* buf, int size, unsigned timeoutMs) = 0;
  /// Aborts both directions for every end of the connection.
  virtual void abort() = 0;
  /// Also true (and aborting) once the manager that made the end has exited.
  virtual bool isAborted() = 0;
  /// A new end of a new connection, of no manager; the caller owns it and
  /// gives it to destroy, which deletes it and nulls *pp.
  virtual Abstract_Channel* create() = 0;
  /// Deletes *pp (one create made) and nulls it.
  virtual void destroy(Abstract_Channel** pp) = 0;
};

/// The channel end the channel manager hands out.
class KQ_EXPORT Channel : public Abstract_Channel {
 public:
  /// A new, unconnected end with fresh queues, belonging to no manager.
  Channel();
  /// An end over existing queues, belonging to no manager; each is addRef()ed.
  Channel(Blocking_IO* reader, Blocking_IO* writer);
  ~Channel() override;
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  Abstract_Channel* clone() override;
  Abstract_Channel* peer() override;
  int write(const void* data, int len) override;
  int read(void* buf, int size) override;
  int timedRead(void* buf, int size, unsigned timeoutMs) override;
  void abort() override;
  bool isAborted() override;
  Abstract_Channel* create() override;
  void destroy(Abstract_Channel** pp) override;

 private:
  friend class Channel_Mgr;
  // Reads what the queues hold for the admin endpoint (src/admin/).
  friend struct StatusProbe;
  // The two queues and the manager's book this end is counted in, defined in src/.
  struct State;
  State* m_state;
};

/// Keeps channels by name: the creator of a name and its openers hold
/// opposite ends. Safe for concurrent use from any thread without outside
/// locking, also while ends it made are deleted on other threads.
class KQ_EXPORT Abstract_Channel_Mgr : public Abstract_Base {
 public:
  /// Raises this manager's exit flag (never cleared) and aborts every end it
  /// made that is still alive, so blocked readers return 0. Ends of other
  /// managers are not touched.
  virtual void exit() = 0;
  /// Each end the three calls below return is the caller's, given back with
  /// releaseChannel (or the end's own destroy). This one creates `name`, or
  /// hands out another creator's end when it exists; null for a null name.
  virtual Abstract_Channel* createChannel(const char* name) = 0;
  /// Null when nobody created the name.
  virtual Abstract_Channel* openChannel(const char* name) = 0;
  /// openChannel, else createChannel.
  virtual Abstract_Channel* getChannel(const char* name) = 0;
  /// Drops the name entry that holds this very end, deletes it, nulls *pp.
  virtual void releaseChannel(Abstract_Channel** pp) = 0;
};

/// The shared m_channelMgr of every component.
class KQ_EXPORT Channel_Mgr : public Abstract_Channel_Mgr {
 public:
  /// No channels yet.
  Channel_Mgr();
  /// Aborts every end it made that is alive; those ends outlive it and report themselves aborted.
  ~Channel_Mgr() override;
  Channel_Mgr(const Channel_Mgr&) = delete;
  Channel_Mgr& operator=(const Channel_Mgr&) = delete;
  void exit() override;
  Abstract_Channel* createChannel(const char* name) override;
  Abstract_Channel* openChannel(const char* name) override;
  Abstract_Channel* getChannel(const char* name) override;
  void releaseChannel(Abstract_Channel** pp) override;

 private:
  friend struct StatusProbe;
  // The names and the book shared with the ends made here, defined in src/.
  struct State;
  State* m_state;
};

}  // namespace bg

#endif  // KQBRIDGE_CHANNEL_H_
