/// \file
/// bg::Config: one component's settings file.
#ifndef KQBRIDGE_CONFIG_H_
#define KQBRIDGE_CONFIG_H_

#include "kqbridge/interface.h"

namespace bg {

/// Text keys with text values, loaded from one file when the object is made
/// and written back ("#Bridge Config (#note)" then "key : value" lines in key
/// order) on save() or deletion when they changed. A save writes "<path>.tmp"
/// and renames it over the file, so an interrupted save leaves the old file
/// whole. One thread at a time: each component has its own Config.
class KQ_EXPORT Abstract_Config : public Abstract_Base {
 public:
  /// A null value removes the key. Storing the same text does not mark the store dirty.
  /// False for a null key.
  virtual bool setValue(const char* key, const char* value) = 0;
  /// False when the key is absent (or null).
  virtual bool removeValue(const char* key) = 0;
  /// A pointer into the store (valid until the entry changes), or `def`.
  virtual const char* getValue(const char* key, const char* def) = 0;
  /// strncpy of the text into `dst`; false when the key is absent.
  virtual bool getValueBuf(const char* key, char* dst, int len) = 0;
  /// getValue; an absent key is stored with a copy of `def` (and `def` returned).
  virtual const char* getOrSetValue(const char* key, const char* def) = 0;
  /// Whether `key` (not null) has an entry.
  virtual bool hasKey(const char* key) = 0;
  /// Writes the file when dirty. When it cannot be written, one line naming
  /// it goes to stderr and the store stays dirty, so the next save tries again.
  virtual void save() = 0;
  /// The file's path as given to the constructor; "" for a store without a file.
  virtual const char* getPath() = 0;
  /// False: nothing distinguishes a developer set-up yet.
  virtual bool isDeveloperMode() = 0;
  /// Removes every entry (marking the store dirty when it held any).
  virtual void clear() = 0;
  /// The number of entries.
  virtual int size() = 0;
  /// Whether the store holds no entry.
  virtual bool isEmpty() = 0;
  /// Calls `cb` per entry in key order; `cb` must not change the store.
  virtual void travell(void (*cb)(const char* key, const char* value, void* user), void* user) = 0;
  /// A new store of the file `path`, owned by the caller until it gives it to
  /// destroy, which saves it when changed, deletes it and nulls *pp.
  virtual Abstract_Config* create(const char* path) = 0;
  /// Deletes *pp (one create made, saving it when changed) and nulls it.
  virtual void destroy(Abstract_Config** pp) = 0;
};

/// The settings file behind each component's own m_config, `conf/<component>.conf`.
class KQ_EXPORT Config : public Abstract_Config {
 public:
  /// Loads `path` (which must not be null) when it can be opened. An empty
  /// path names no file: nothing is loaded or written.
  explicit Config(const char* path);
  /// Saves the store when it changed.
  ~Config() override;
  Config(const Config&) = delete;
  Config& operator=(const Config&) = delete;
  bool setValue(const char* key, const char* value) override;
  bool removeValue(const char* key) override;
  const char* getValue(const char* key, const char* def) override;
  bool getValueBuf(const char* key, char* dst, int len) override;
  const char* getOrSetValue(const char* key, const char* def) override;
  bool hasKey(const char* key) override;
  void save() override;
  const char* getPath() override;
  bool isDeveloperMode() override;
  void clear() override;
  int size() override;
  bool isEmpty() override;
  void travell(void (*cb)(const char* key, const char* value, void* user), void* user) override;
  Abstract_Config* create(const char* path) override;
  void destroy(Abstract_Config** pp) override;

 private:
  // The entries, the path and the dirty mark, defined in src/.
  struct State;
  State* m_state;
};

}  // namespace bg

#endif  // KQBRIDGE_CONFIG_H_
