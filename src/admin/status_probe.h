// What the admin endpoint reads of the shared services. Each service
// reports under its own lock, briefly, into plain copies; the endpoint
// builds its answer from them with no lock held, so a status never stops
// the host. StatusProbe is a friend of the service classes it reads, and
// safe from any thread while those services live.
#ifndef KQBRIDGE_ADMIN_STATUS_PROBE_H_
#define KQBRIDGE_ADMIN_STATUS_PROBE_H_

#include <string>
#include <vector>

#include "kqbridge/value.h"

namespace bg {

class Data;
class Channel_Mgr;
class Thread_Pool;

struct KeyReport {
  std::string key;
  Value::VT kind;
  long long size;  // see valueSize
  int listeners;
};

struct FilterReport {
  int id;
  const void* code;  // the callback, which tells the module it belongs to
};

struct DataReport {
  std::vector<KeyReport> keys;  // in key order
  std::vector<FilterReport> filters;
};

struct ChannelReport {
  std::string name;
  int queued;          // messages, both directions
  long long bytes;     // of their contents
  int readersWaiting;  // both ends
};

struct PoolReport {
  bool started = false;
  int workers = 0;
  int queued = 0;
  int running = 0;
  unsigned long long completed = 0;
};

// The bytes a value's payload takes: the text of a string, the entries of
// an argument vector, the width of a scalar, the message of an error value.
long long valueSize(const Value& v);

struct StatusProbe {
  // Defined beside the store's own state (config_data/data.cpp).
  static void dataBus(Data* bus, DataReport* out);
  // Every name the manager keeps, the creator's end first.
  static void channels(Channel_Mgr* manager, std::vector<ChannelReport>* out);
  static PoolReport pool(Thread_Pool* pool);
};

}  // namespace bg

#endif  // KQBRIDGE_ADMIN_STATUS_PROBE_H_
