// bg::Channel and bg::Channel_Mgr: named two-way message connections in one process.
#ifndef KQBRIDGE_CHANNEL_H_
#define KQBRIDGE_CHANNEL_H_

#include <map>
#include <string>

#include "kqbridge/interface.h"

namespace bg {

class Blocking_IO;
class Channel_Mgr;

// One end of a connection: what one end writes, the other reads, as whole
// messages in order. Reads block until a message arrives or the connection
// is aborted (then they return 0).
class KQ_EXPORT Abstract_Channel {
 public:
  virtual ~Abstract_Channel();
  // A second handle on the same end.
  virtual Abstract_Channel* clone() = 0;
  // A handle on the opposite end.
  virtual Abstract_Channel* peer() = 0;
  virtual int write(const void* data, int len) = 0;
  virtual int read(void* buf, int size) = 0;
  virtual int timedRead(void* buf, int size, unsigned timeoutMs) = 0;
  // Aborts both directions for every end of the connection.
  virtual void abort() = 0;
  // Also true (and aborting) once the process-wide channel exit flag is set.
  virtual bool isAborted() = 0;
  virtual Abstract_Channel* create() = 0;
  virtual void destroy(Abstract_Channel** pp) = 0;
};

class KQ_EXPORT Channel : public Abstract_Channel {
 public:
  // A new, unconnected end with fresh queues.
  Channel();
  // An end over existing queues; each is addRef()ed.
  Channel(Blocking_IO* reader, Blocking_IO* writer);
  ~Channel() override;
  Abstract_Channel* clone() override;
  Abstract_Channel* peer() override;
  int write(const void* data, int len) override;
  int read(void* buf, int size) override;
  int timedRead(void* buf, int size, unsigned timeoutMs) override;
  void abort() override;
  bool isAborted() override;
  Abstract_Channel* create() override;
  void destroy(Abstract_Channel** pp) override;

 protected:
  Blocking_IO* m_reader;
  Blocking_IO* m_writer;

 private:
  friend class Channel_Mgr;
  // The manager that records this end under a name, if any.
  Channel_Mgr* m_recordedBy;
};

// Keeps channels by name: the creator of a name and its openers hold
// opposite ends. Not synchronised: one thread at a time, and deleting an end
// the manager records (which drops its entry) counts as a call on it.
class KQ_EXPORT Abstract_Channel_Mgr : public Abstract_Base {
 public:
  // Sets the process-wide channel exit flag (never cleared).
  virtual void exit() = 0;
  virtual Abstract_Channel* createChannel(const char* name) = 0;
  // Null when nobody created the name.
  virtual Abstract_Channel* openChannel(const char* name) = 0;
  virtual Abstract_Channel* getChannel(const char* name) = 0;
  // Drops the name entry that holds this very end, deletes it, nulls *pp.
  virtual void releaseChannel(Abstract_Channel** pp) = 0;
};

class KQ_EXPORT Channel_Mgr : public Abstract_Channel_Mgr {
 public:
  Channel_Mgr();
  ~Channel_Mgr() override;
  void exit() override;
  Abstract_Channel* createChannel(const char* name) override;
  Abstract_Channel* openChannel(const char* name) override;
  Abstract_Channel* getChannel(const char* name) override;
  void releaseChannel(Abstract_Channel** pp) override;

 protected:
  std::map<std::string, Abstract_Channel*> m_created;
  std::map<std::string, Abstract_Channel*> m_opened;

 private:
  friend class Channel;
  Abstract_Channel* record(std::map<std::string, Abstract_Channel*>* names, const char* name,
                           Abstract_Channel* end);
  // Drops every entry that holds `end`.
  void forget(Abstract_Channel* end);
};

}  // namespace bg

#endif  // KQBRIDGE_CHANNEL_H_
