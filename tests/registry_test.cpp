// The process-wide instance registry.
#include <gtest/gtest.h>
#include <kqbridge/registry.h>

#include <string>
#include <typeinfo>
#include <vector>

namespace {

using Names = std::vector<std::string>;

void record(const char* name, void*, void* user) {
  static_cast<Names*>(user)->push_back(name);
}

void eraseSelf(const char* name, void*, void* user) {
  // The name belongs to the entry: record it before the entry goes.
  static_cast<Names*>(user)->push_back(name);
  bg::eraseInstance(name);
}

class Registry : public testing::Test {
 protected:
  void SetUp() override { bg::clearInstance(); }
  void TearDown() override { bg::clearInstance(); }
  int a_ = 0;
};

TEST_F(Registry, WalksInByteOrderAndMayEraseTheCurrentEntry) {
  for (const char* n : {"b", "Admin", "a", "_x", "B"}) bg::setInstance(n, &a_);
  Names names;
  bg::travellInstance(record, &names);
  EXPECT_EQ(names, (Names{"Admin", "B", "_x", "a", "b"}));
  Names erased;
  bg::travellInstance(eraseSelf, &erased);
  EXPECT_EQ(erased, names);
  EXPECT_EQ(bg::getInstanceCount(), 0);
  bg::setInstance(typeid(Registry), &a_);  // a type names its entry too
  EXPECT_EQ(bg::getInstance(typeid(Registry)), &a_);
}

}  // namespace
