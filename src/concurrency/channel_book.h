// What a channel manager shares with the channel ends it made: the exit flag,
// the ends still alive, and the lock over both and over the manager's maps.
#ifndef KQBRIDGE_CONCURRENCY_CHANNEL_BOOK_H_
#define KQBRIDGE_CONCURRENCY_CHANNEL_BOOK_H_

#include <atomic>
#include <mutex>
#include <set>

namespace bg {

class Channel;
class Channel_Mgr;

// Ends hold the book by shared pointer, so it outlives the manager for as
// long as any of its ends lives; `owner` is null once the manager is gone.
struct ChannelBook {
  std::recursive_mutex lock;  // the manager clones recorded ends while it holds it
  std::atomic<bool> exited{false};
  Channel_Mgr* owner = nullptr;  // guarded by lock
  std::set<Channel*> live;       // guarded by lock
};

}  // namespace bg

#endif  // KQBRIDGE_CONCURRENCY_CHANNEL_BOOK_H_
