// What a channel manager shares with the channel ends it made: the exit flag,
// the ends still alive, the manager's names, and the lock over all three.
#ifndef KQBRIDGE_CONCURRENCY_CHANNEL_BOOK_H_
#define KQBRIDGE_CONCURRENCY_CHANNEL_BOOK_H_

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "concurrency/blocking_io.h"
#include "kqbridge/channel.h"
#include "platform/mutex.h"

namespace bg {

// Ends hold the book by shared pointer, so it outlives the manager for as
// long as any of its ends lives; the maps are empty once the manager is gone.
struct ChannelBook {
  typedef std::map<std::string, Abstract_Channel*> Names;

  // Drops every entry that holds `end`.
  void forgetLocked(Abstract_Channel* end) REQUIRES(lock);
  // Raises the exit flag and aborts every live end.
  void abortAllLocked() REQUIRES(lock);

  platform::Mutex lock;
  std::atomic<bool> exited{false};
  std::set<Channel*> live GUARDED_BY(lock);
  Names created GUARDED_BY(lock);  // for each name the first end createChannel made
  Names opened GUARDED_BY(lock);   // for each name the first peer openChannel made
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
  // A new end over `reader` and `writer` that counts among the live ends of
  // `book` (ours): clone() and peer() for a caller that holds its lock.
  Channel* endLocked(ChannelBook& book, Blocking_IO* reader, Blocking_IO* writer) REQUIRES(book.lock);

  const std::shared_ptr<ChannelBook> book = std::make_shared<ChannelBook>();
};

}  // namespace bg

#endif  // KQBRIDGE_CONCURRENCY_CHANNEL_BOOK_H_
