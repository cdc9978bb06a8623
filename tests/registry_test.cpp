// The process-wide instance registry.
#include <gtest/gtest.h>
#include <kqbridge/registry.h>

#include <string>
#include <utility>
#include <vector>

namespace {

struct Visited {
  std::vector<std::pair<std::string, void*>> entries;
};

void record(const char* name, void* inst, void* user) {
  static_cast<Visited*>(user)->entries.emplace_back(name, inst);
}

void eraseSelf(const char* name, void* /*inst*/, void* user) {
  // The name belongs to the entry: record it before the entry goes.
  static_cast<Visited*>(user)->entries.emplace_back(name, nullptr);
  bg::eraseInstance(name);
}

class Registry : public testing::Test {
 protected:
  void SetUp() override { bg::clearInstance(); }
  void TearDown() override { bg::clearInstance(); }
  int a_ = 0, b_ = 0;
};

TEST_F(Registry, NamesMapToOnePointer) {
  EXPECT_EQ(bg::getInstance("x"), nullptr);
  EXPECT_EQ(bg::eraseInstance("x"), 0);
  bg::setInstance("x", &a_);
  bg::setInstance("x", &b_);
  EXPECT_EQ(bg::getInstanceCount(), 1);
  EXPECT_EQ(bg::getInstance("x"), &b_);
  EXPECT_EQ(bg::eraseInstance("x"), 1);
  EXPECT_EQ(bg::eraseInstance("x"), 0);
  EXPECT_EQ(bg::getInstanceCount(), 0);
}

TEST_F(Registry, NullPointersAreEntriesToo) {
  bg::setInstance("null", nullptr);
  EXPECT_EQ(bg::getInstanceCount(), 1);
  EXPECT_EQ(bg::getInstance("null"), nullptr);
  Visited v;
  bg::travellInstance(record, &v);
  ASSERT_EQ(v.entries.size(), 1u);
  EXPECT_EQ(v.entries[0].first, "null");
}

TEST_F(Registry, TypeKeysShareTheNameSpace) {
  bg::setInstance(typeid(Registry), &a_);
  EXPECT_EQ(bg::getInstance(typeid(Registry).name()), &a_);
  bg::setInstance(typeid(int).name(), &b_);
  EXPECT_EQ(bg::getInstance(typeid(int)), &b_);
  EXPECT_EQ(bg::getInstanceCount(), 2);
}

TEST_F(Registry, WalksInByteOrderAndMayEraseTheCurrentEntry) {
  for (const char* n : {"b", "Admin", "a", "_x", "B"}) bg::setInstance(n, &a_);
  Visited v;
  bg::travellInstance(record, &v);
  std::vector<std::string> names;
  for (auto& e : v.entries) names.push_back(e.first);
  EXPECT_EQ(names, (std::vector<std::string>{"Admin", "B", "_x", "a", "b"}));

  Visited erased;
  bg::travellInstance(eraseSelf, &erased);
  EXPECT_EQ(erased.entries.size(), 5u);
  EXPECT_EQ(bg::getInstanceCount(), 0);

  bg::setInstance("z", &a_);
  bg::clearInstance();
  Visited none;
  bg::travellInstance(record, &none);
  EXPECT_TRUE(none.entries.empty());
}

TEST_F(Registry, ShowAllInstanceIsSilentWithoutTheCentralObject) {
  bg::setInstance("quiet", &a_);
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  bg::showAllInstance();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(bg::getInstanceCount(), 1);
}

}  // namespace
