/// \file
/// bg::ValueMap: a Value of kind VT_MAP carrying an ordered map of Values.
#ifndef KQBRIDGE_VALUE_MAP_H_
#define KQBRIDGE_VALUE_MAP_H_

#include <map>
#include <string>

#include "kqbridge/value.h"

namespace bg {

/// Keys order byte-wise. Lookups never fail loudly: a missing key yields an
/// inserted invalid entry, m_invalid, a default or an error value. Like Value,
/// one ValueMap is used by one thread at a time.
class KQ_EXPORT ValueMap : public Value {
 public:
  typedef std::map<std::string, Value> Map;  ///< fixed layout: the documented map of a ValueMap

  /// An empty map.
  ValueMap();
  /// A copy of every entry.
  ValueMap(const ValueMap& o);
  /// A map holding copies of the entries of `m`.
  ValueMap(const Map& m);
  /// Frees every entry.
  virtual ~ValueMap();

  /// Replaces the entries with copies of those of `o`.
  ValueMap& operator=(const ValueMap& o);

  /// The entry under `key`, inserted as an invalid Value when missing.
  Value& operator[](const char* key);
  /// The entry under `key`; a missing key prints "== invalid, key = ..." to
  /// standard error and answers m_invalid.
  const Value& operator[](const char* key) const;
  /// A copy of the entry; else `def` when valid, else the error value
  /// "'key' not exist ...".
  Value get_data(const char* key, const Value& def);
  /// Inserts a copy of `v`; an existing entry is replaced only when `replace`.
  bool insert_data(const char* key, const Value& v, bool replace);
  /// Whether `key` (not null) has an entry.
  bool isContains(const char* key);
  /// True when the map holds at least one entry (the reverse of its name).
  bool isEmpty() const;
  /// True when the map holds at least one entry.
  bool isValid() const;
  /// Removes every entry.
  void clear();

  ///@{
  /// The entries in key order.
  Map::iterator begin();
  Map::iterator end();
  Map::const_iterator begin() const;
  Map::const_iterator end() const;
  const Map& vmap() const;
  ///@}

 protected:
  /// Replaces the entries with copies of those of `m`.
  void setmap(const Map& m);

  Map m_map;  ///< the entries

 private:
  static const Value m_invalid;
};

}  // namespace bg

#endif  // KQBRIDGE_VALUE_MAP_H_
