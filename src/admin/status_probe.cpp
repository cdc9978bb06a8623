#include "admin/status_probe.h"

#include <cstring>

#include "concurrency/channel_book.h"
#include "concurrency/thread_pool_record.h"
#include "kqbridge/thread_pool.h"

namespace bg {

namespace {

long long textSize(const char* text, int capacity) {
  if (text == nullptr || capacity <= 0) return 0;
  const void* end = memchr(text, '\0', static_cast<size_t>(capacity));
  return end != nullptr ? static_cast<const char*>(end) - text : capacity;
}

void addCounts(Blocking_IO* queue, ChannelReport* report) {
  Blocking_IO::Counts c = queue->counts();
  report->queued += c.messages;
  report->bytes += c.bytes;
  report->readersWaiting += c.readersWaiting;
}

}  // namespace

long long valueSize(const Value& v) {
  switch (v.type()) {
    case Value::VT_INT:
    case Value::VT_UINT:
      return sizeof(int);
    case Value::VT_FLOAT:
      return sizeof(float);
    case Value::VT_DOUBLE:
      return sizeof(double);
    case Value::VT_INT64:
      return sizeof(long long);
    case Value::VT_VOID:
      return sizeof(void*);
    case Value::VT_BOOL:
      return 1;
    case Value::VT_ARGV: {
      char** entries = nullptr;
      long long total = 0;
      for (int i = 0, n = v.get_argv(&entries); i < n; ++i)
        total += entries[i] != nullptr ? static_cast<long long>(strlen(entries[i])) : 0;
      return total;
    }
    default:
      return textSize(v.toString(), v.get_nbytes());
  }
}

// The book's lock is held across the queue locks, the order exit() takes
// them in too; a name whose creator's end was released is shown through
// its opener's end.
void StatusProbe::channels(Channel_Mgr* manager, std::vector<ChannelReport>* out) {
  ChannelBook& book = *manager->m_state->book;
  platform::MutexLock hold(&book.lock);
  out->reserve(book.created.size() + book.opened.size());
  auto created = book.created.begin();
  auto opened = book.opened.begin();
  while (created != book.created.end() || opened != book.opened.end()) {
    bool fromCreated =
        opened == book.opened.end() || (created != book.created.end() && created->first <= opened->first);
    auto& it = fromCreated ? created : opened;
    ChannelReport report = {it->first, 0, 0, 0};
    // The queues of this end are those of every end of its connection.
    Channel::State* end = static_cast<Channel*>(it->second)->m_state;
    addCounts(end->reader, &report);
    addCounts(end->writer, &report);
    if (fromCreated && opened != book.opened.end() && opened->first == created->first) ++opened;
    ++it;
    out->push_back(std::move(report));
  }
}

PoolReport StatusProbe::pool(Thread_Pool* pool) {
  PoolReport report;
  ThreadPoolRecord* record = pool->m_pool;
  if (record == nullptr || record->joined) return report;
  PoolCounts c = poolCounts(record);
  report.started = true;
  report.workers = c.workers;
  report.queued = c.queued;
  report.running = c.running;
  report.completed = c.completed;
  return report;
}

}  // namespace bg
