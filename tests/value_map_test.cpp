// bg::ValueMap: lookups that never fail loudly, copies and key order.
#include <gtest/gtest.h>
#include <kqbridge/value_map.h>

#include <string>
#include <vector>

namespace {

using bg::Value;
using bg::ValueMap;

TEST(ValueMap, NewMapIsAValidValueButAnEmptyMap) {
  ValueMap m;
  EXPECT_EQ(m.type(), Value::VT_MAP);
  EXPECT_TRUE(m.Value::isValid());
  EXPECT_FALSE(m.isValid());
  EXPECT_FALSE(m.isEmpty());
  EXPECT_TRUE(m.insert_data("k", Value(1), false));
  EXPECT_TRUE(m.isEmpty());
  EXPECT_TRUE(m.isValid());
  m.clear();
  EXPECT_FALSE(m.isValid());
  EXPECT_EQ(m.type(), Value::VT_MAP);
}

TEST(ValueMap, MissingKeys) {
  ValueMap m;
  m["present"] = Value(5);
  // The non-const form grows the map by one invalid entry.
  Value& grown = m["absent"];
  EXPECT_FALSE(grown.isValid());
  EXPECT_EQ(m.vmap().size(), 2u);

  // The const form reports on stderr and leaves the map alone.
  const ValueMap& cm = m;
  testing::internal::CaptureStderr();
  const Value& missing = cm["nowhere"];
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "== invalid, key = nowhere\n");
  EXPECT_FALSE(missing.isValid());
  EXPECT_STREQ(missing.errorMsg(), "<invalid>");
  EXPECT_EQ(m.vmap().size(), 2u);
  EXPECT_EQ(cm["present"].toInt(), 5);

  Value fromInvalidDefault = m.get_data("nowhere", Value());
  EXPECT_FALSE(fromInvalidDefault.isValid());
  EXPECT_STREQ(fromInvalidDefault.errorMsg(), "'key' not exist ...");
  EXPECT_EQ(m.get_data("nowhere", Value("dflt")).toStdString(), "dflt");
  EXPECT_EQ(m.get_data("present", Value(9)).toInt(), 5);

  EXPECT_FALSE(m.isContains(nullptr));
  EXPECT_FALSE(m.isContains("nowhere"));
  EXPECT_TRUE(m.isContains("absent"));
}

TEST(ValueMap, InsertReplacesOnlyWhenAsked) {
  ValueMap m;
  EXPECT_TRUE(m.insert_data("k", Value("first"), false));
  EXPECT_FALSE(m.insert_data("k", Value("second"), false));
  EXPECT_EQ(m["k"].toStdString(), "first");
  EXPECT_TRUE(m.insert_data("k", Value("third"), true));
  EXPECT_EQ(m["k"].toStdString(), "third");
}

TEST(ValueMap, CopiesAreDeep) {
  ValueMap a;
  a["s"] = Value("text");
  ValueMap b(a);
  ValueMap c;
  c["old"] = Value(1);
  c = a;
  a["s"] = Value("changed");
  EXPECT_EQ(b["s"].toStdString(), "text");
  EXPECT_EQ(c["s"].toStdString(), "text");
  EXPECT_FALSE(c.isContains("old"));
  c = c;
  EXPECT_EQ(c["s"].toStdString(), "text");

  ValueMap::Map raw = {{"x", Value(1)}};
  ValueMap fromMap(raw);
  EXPECT_EQ(fromMap.type(), Value::VT_MAP);
  EXPECT_EQ(fromMap["x"].toInt(), 1);

  // A plain Value made from a map keeps the kind but not the entries.
  Value plain = a;
  EXPECT_EQ(plain.type(), Value::VT_MAP);
  EXPECT_TRUE(plain.isValid());
  EXPECT_EQ(plain.write(), "<null>");
}

TEST(ValueMap, IteratesInByteOrder) {
  ValueMap m;
  for (const char* k : {"b", "a", "B", "ab", "a\xff", "_"}) m[k] = Value(1);
  std::vector<std::string> keys;
  for (const auto& entry : m) keys.push_back(entry.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"B", "_", "a", "ab", "a\xff", "b"}));
  const ValueMap& cm = m;
  EXPECT_EQ(cm.begin()->first, "B");
}

}  // namespace
