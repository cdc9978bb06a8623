// bg::Data: the keyed store of Values with listeners and filters.
#ifndef KQBRIDGE_DATA_H_
#define KQBRIDGE_DATA_H_

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <list>
#include <map>
#include <mutex>
#include <string>

#include "kqbridge/interface.h"
#include "kqbridge/value.h"

// The record a listener or filter registers with; the registry keeps a copy.
// The user words and `spare` are pointer-sized so that they can carry pointers.
struct ListenerRecord {
  void (*callback)(const char* key, const bg::Value* value, ListenerRecord* rec);
  intptr_t user[5];  // the registrant's own
  int id;            // 0 (or < 100) asks for a new registration; else an earlier id
  intptr_t spare;
};

namespace bg {

using ::ListenerRecord;

static_assert(sizeof(void*) != 4 || sizeof(ListenerRecord) == 32, "i386 layout of ListenerRecord");

// Listeners by key, kept in registration order within a key, and filters,
// which see every key. Ids count from 101, one counter for both, so within
// a key (and among filters) registration order is also ascending id order.
// The registry of a Data is guarded by that Data's lock.
class KQ_EXPORT ConfigListener {
 public:
  ConfigListener();
  virtual ~ConfigListener();

  std::multimap<std::string, ListenerRecord> m_listeners;
  std::list<ListenerRecord> m_filters;
  int m_lastId;
};

// A keyed store of Values with change notification. A Data (the shared data
// bus included) is safe for concurrent use from any thread without outside
// locking; its lock is never held while a listener or filter runs.
class KQ_EXPORT Abstract_Datas : public Abstract_Base {
 public:
  // A copy of the stored value, or of `def`.
  virtual Value getData(const char* key, const Value& def) = 0;
  // Stores a copy; an existing key is replaced only when `replace`. Never notifies.
  virtual bool setData(const char* key, const Value& v, bool replace) = 0;
  virtual bool removeData(const char* key) = 0;
  virtual bool hasData(const char* key) = 0;
  // A listener for `key`, or a filter when `key` is null or empty. Returns the id.
  virtual int registListener(const char* key, ListenerRecord* rec) = 0;
  virtual bool unregistListener(const char* key, int id) = 0;
  // setData, then on success calls the key's listeners in registration order
  // and then every filter, on this thread, with the caller's value. A
  // callback may register or unregister listeners and filters, itself
  // included: one removed before its turn is not called, one added for the
  // key (or a filter) is called in the same notification.
  virtual bool setDataNotify(const char* key, const Value& v, bool replace) = 0;
  // For a null or empty key: whether any filter exists.
  virtual bool hasListener(const char* key) = 0;
  // A VT_STR value holding the scrambled, Base64-coded text form of `v`.
  virtual Value encryptValue(const Value& v) = 0;
  virtual Value decryptValue(const Value& v) = 0;
  // "key  -->  text form" per stored value.
  virtual void debug(FILE* fp) = 0;
  virtual Abstract_Datas* create() = 0;
  virtual void destroy(Abstract_Datas** pp) = 0;
};

class KQ_EXPORT Data : public Abstract_Datas {
 public:
  Data();
  ~Data() override;
  Value getData(const char* key, const Value& def) override;
  bool setData(const char* key, const Value& v, bool replace) override;
  bool removeData(const char* key) override;
  bool hasData(const char* key) override;
  int registListener(const char* key, ListenerRecord* rec) override;
  bool unregistListener(const char* key, int id) override;
  bool setDataNotify(const char* key, const Value& v, bool replace) override;
  bool hasListener(const char* key) override;
  Value encryptValue(const Value& v) override;
  Value decryptValue(const Value& v) override;
  void debug(FILE* fp) override;
  Abstract_Datas* create() override;
  void destroy(Abstract_Datas** pp) override;

 protected:
  std::map<std::string, Value> m_values;
  ConfigListener* m_registry;

 private:
  using Slot = std::map<std::string, Value>::iterator;

  // Whether `key` is stored; `slot` gets its entry, or the insertion hint
  // when absent. Reuses the search hasData made for the same key in this call.
  bool slotAfterHasData(const char* key, Slot* slot);

  // The next listener of `key` (or filter, for an empty key) after id
  // `after`, copied out under the lock; false when there is none.
  bool nextToNotify(const char* key, int after, ListenerRecord* out);

  // Copies the listeners of `key` and then the filters into `out` (room for
  // `room`) under one lock; `*listeners` tells where the filters start.
  // Returns the registration version, with `*count` -1 when they did not fit.
  unsigned snapshot(const char* key, ListenerRecord* out, int room, int* listeners, int* count);

  // Taken by every operation, and again by the operations they call through
  // the interface; the lookup cache below is written only under it.
  std::recursive_mutex m_lock;
  // The last key hasData looked up, kept so that its text buffer is reused
  // and the operations built on hasData do not search the map twice.
  std::string m_lookupKey;
  Slot m_lookupSlot;
  const char* m_lookupFor;
  // Raised by every registration and removal, so that a notification can
  // tell, without the lock, that its copy of the registrations still holds.
  std::atomic<unsigned> m_version;
};

}  // namespace bg

#endif  // KQBRIDGE_DATA_H_
