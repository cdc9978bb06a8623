// What a channel manager shares with the channel ends it made: the exit flag,
// the ends still alive, the manager's names, and the lock over all three.
#ifndef KQBRIDGE_CONCURRENCY_CHANNEL_BOOK_H_
#define KQBRIDGE_CONCURRENCY_CHANNEL_BOOK_H_

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "concurrency/blocking_io.h"
#include "kqbridge/channel.h"

namespace bg {

// Ends hold the book by shared pointer, so it outlives the manager for as
// long as any of its ends lives; the maps are empty once the manager is gone.
struct ChannelBook {
  typedef std::map<std::string, Abstract_Channel*> Names;

  // Drops every entry that holds `end`. REQUIRES: lock held.
  void forget(Abstract_Channel* end);

  std::recursive_mutex lock;  // the manager clones recorded ends while it holds it
  std::atomic<bool> exited{false};
  std::set<Channel*> live;  // guarded by lock
  Names created;            // for each name the first end createChannel made; guarded by lock
  Names opened;             // for each name the first peer openChannel made; guarded by lock
};

struct Channel::State {
  State(Blocking_IO* reader, Blocking_IO* writer) : reader(reader), writer(writer) {}

  Blocking_IO* reader;
  Blocking_IO* writer;
  // Shared with the manager that made this end (or the end it was cloned
  // from); null for an end of no manager.
  std::shared_ptr<ChannelBook> book;
  // Whether a manager's map holds this very end; guarded by the book's lock.
  bool recorded = false;
};

struct Channel_Mgr::State {
  std::shared_ptr<ChannelBook> book = std::make_shared<ChannelBook>();
};

}  // namespace bg

#endif  // KQBRIDGE_CONCURRENCY_CHANNEL_BOOK_H_
