/// \file
/// bg::Data: the keyed store of Values with listeners and filters.
#ifndef KQBRIDGE_DATA_H_
#define KQBRIDGE_DATA_H_

#include <cstdint>
#include <cstdio>

#include "kqbridge/interface.h"
#include "kqbridge/value.h"

/// The record a listener or filter registers with; the registry keeps a copy.
/// The user words and `spare` are pointer-sized so that they can carry pointers.
struct ListenerRecord {
  /// Called with the key, the caller's value and a copy of the registered record.
  void (*callback)(const char* key, const bg::Value* value, ListenerRecord* rec);
  intptr_t user[5];  ///< the registrant's own
  int id;            ///< 0 (or < 100) asks for a new registration; else an earlier id
  intptr_t spare;    ///< unused by the library; the registrant's too
};

namespace bg {

using ::ListenerRecord;

static_assert(sizeof(void*) != 4 || sizeof(ListenerRecord) == 32, "i386 layout of ListenerRecord");
static_assert(sizeof(void*) != 8 || sizeof(ListenerRecord) == 64, "64-bit layout of ListenerRecord");

/// A keyed store of Values with change notification. A Data (the shared data
/// bus included) is safe for concurrent use from any thread without outside
/// locking; its lock is never held while a listener or filter runs.
class KQ_EXPORT Abstract_Datas : public Abstract_Base {
 public:
  /// A copy of the stored value, or of `def`.
  virtual Value getData(const char* key, const Value& def) = 0;
  /// Stores a copy; an existing key is replaced only when `replace`. Never notifies.
  virtual bool setData(const char* key, const Value& v, bool replace) = 0;
  /// False when the key is absent (or null).
  virtual bool removeData(const char* key) = 0;
  /// Whether `key` (not null) holds a value.
  virtual bool hasData(const char* key) = 0;
  /// A listener for `key`, or a filter when `key` is null or empty. Returns
  /// its id: ids count from 101, one counter for listeners and filters, so
  /// registration order is ascending id order. A record whose id (100 or
  /// more) is already registered there is not added again; its id comes back.
  virtual int registListener(const char* key, ListenerRecord* rec) = 0;
  /// Removes the listener `id` of `key` (the filter `id` for a null or empty
  /// key); false when there is none.
  virtual bool unregistListener(const char* key, int id) = 0;
  /// setData, then on success calls the key's listeners in registration order
  /// and then every filter, on this thread, with the caller's value. A
  /// callback may register or unregister listeners and filters, itself
  /// included: one removed before its turn is not called, one added for the
  /// key (or a filter) is called in the same notification.
  virtual bool setDataNotify(const char* key, const Value& v, bool replace) = 0;
  /// Whether `key` has a listener. For a null or empty key: whether any filter exists.
  virtual bool hasListener(const char* key) = 0;
  /// A VT_STR value holding the scrambled, Base64-coded text form of `v`.
  virtual Value encryptValue(const Value& v) = 0;
  /// The value encryptValue coded; an invalid value for text it did not make.
  virtual Value decryptValue(const Value& v) = 0;
  /// "key  -->  text form" per stored value.
  virtual void debug(FILE* fp) = 0;
  /// A new, empty, independent store, owned by the caller until it gives it
  /// to destroy, which deletes it and nulls *pp.
  virtual Abstract_Datas* create() = 0;
  /// Deletes *pp (one create made) and nulls it.
  virtual void destroy(Abstract_Datas** pp) = 0;
};

/// The store behind the shared data bus (m_data) and each component's own m_localData.
class KQ_EXPORT Data : public Abstract_Datas {
 public:
  /// An empty store without listeners.
  Data();
  ~Data() override;
  Data(const Data&) = delete;
  Data& operator=(const Data&) = delete;
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

 private:
  // Reads what the store holds for the admin endpoint (src/admin/).
  friend struct StatusProbe;
  // The values, the listener registry and the lock, defined in src/.
  struct State;
  State* m_state;
};

}  // namespace bg

#endif  // KQBRIDGE_DATA_H_
