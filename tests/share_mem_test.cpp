#include "kqbridge/share_mem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/shared_memory.h"
#include "support/test_support.h"

namespace {

// The system's own record of the name: a /dev/shm entry, or on Windows a
// mapping object that can still be opened.
bool entryExists(const std::string& name) {
  if (!kqtest::kOnWindows) return kqtest::fileExists("/dev/shm" + bg::platform::sharedMemoryObjectName(name.c_str()));
  bg::platform::SharedSegment* probe = bg::platform::openSharedMemory(name.c_str());
  if (probe != nullptr) bg::platform::closeSharedMemory(probe);
  return probe != nullptr;
}

TEST(ShareMem, CreatorAndOpenerShareOneBlockOfTheCreatorsSize) {
  std::string name = kqtest::uniqueName("kq-shm");
  bg::Share_Mem first;
  bg::Share_Mem second;
  EXPECT_EQ(first.state(), 0);
  ASSERT_EQ(first.open(name.c_str(), 4096), 1);
  char* a = static_cast<char*>(first.map());
  ASSERT_NE(a, nullptr);
  strcpy(a, "hello");
  ASSERT_EQ(second.open(name.c_str(), 100), 2);
  char* b = static_cast<char*>(second.map());
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(b, "hello");
  b[4095] = 'z';
  EXPECT_EQ(a[4095], 'z');
  testing::internal::CaptureStderr();
  EXPECT_EQ(first.open(name.c_str(), 64), 1) << "a second open reports the held state";
  EXPECT_EQ(second.open("some-other-name", 64), 2);
  testing::internal::GetCapturedStderr();
  first.unmap(a);
  second.unmap(b);
  if (kqtest::kOnWindows) return;  // the mapping's security is the system's default there
  struct stat st;
  ASSERT_EQ(stat(("/dev/shm" + bg::platform::sharedMemoryObjectName(name.c_str())).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "private to the user";
}

TEST(ShareMem, NothingToCloseOrMapAndNothingMadeOfSizeZero) {
  std::string name = kqtest::uniqueName("kq-shm");
  bg::Share_Mem mem;
  EXPECT_EQ(mem.close(), 0);
  EXPECT_EQ(mem.map(), nullptr);
  mem.unmap(nullptr);
  EXPECT_EQ(mem.open(name.c_str(), 0), 0);
  EXPECT_EQ(mem.open(nullptr, 16), 0);
  EXPECT_FALSE(entryExists(name));
  ASSERT_EQ(mem.open(name.c_str(), 128), 1);
  EXPECT_NE(mem.close(), 0);
  EXPECT_EQ(mem.state(), 0);
  EXPECT_EQ(mem.map(), nullptr);
  EXPECT_EQ(mem.close(), 0);
}

// The name lives as long as some holder has it open; views outlive it.
TEST(ShareMem, LastHolderRemovesTheName) {
  std::string name = kqtest::uniqueName("kq-shm");
  bg::Share_Mem creator;
  bg::Share_Mem opener;
  ASSERT_EQ(creator.open(name.c_str(), 256), 1);
  char* view = static_cast<char*>(creator.map());
  ASSERT_EQ(opener.open(name.c_str(), 256), 2);
  EXPECT_NE(creator.close(), 0);
  EXPECT_TRUE(entryExists(name));
  EXPECT_NE(opener.close(), 0);
  EXPECT_FALSE(entryExists(name));
  strcpy(view, "still mapped");
  EXPECT_STREQ(view, "still mapped");
  creator.unmap(view);
  bg::Share_Mem fresh;
  EXPECT_EQ(fresh.open(name.c_str(), 256), 1) << "the name is free again";
  bg::Share_Mem factory;
  bg::Abstract_ShareMem* made = factory.create();
  ASSERT_EQ(made->open((name + "-made").c_str(), 32), 1);
  factory.destroy(made);
  EXPECT_FALSE(entryExists(name + "-made")) << "deleting a holder closes it";
}

TEST(ShareMem, AnyNameMakesItsOwnBlock) {
  if (kqtest::kOnWindows) GTEST_SKIP() << "Windows object names take no backslash and stop at MAX_PATH characters";
  std::string base = kqtest::uniqueName("kq-shm");
  const std::string names[] = {base + "/with/slashes",
                               base + "\\with\\backslashes",
                               base + "%2fwith%2fslashes",
                               base + " \xc3\xa9t\xc3\xa9",
                               base + std::string(1000, 'x'),
                               base + std::string(1000, 'x') + "y",
                               base + "/"};
  bg::Share_Mem creators[7];
  for (int i = 0; i < 7; ++i) {
    ASSERT_EQ(creators[i].open(names[i].c_str(), 16), 1) << i;
    static_cast<char*>(creators[i].map())[0] = static_cast<char>('0' + i);
  }
  for (int i = 0; i < 7; ++i) {
    bg::Share_Mem opener;
    ASSERT_EQ(opener.open(names[i].c_str(), 16), 2) << i;
    EXPECT_EQ(static_cast<char*>(opener.map())[0], '0' + i);
  }
  for (int i = 0; i < 7; ++i) {
    creators[i].close();
    EXPECT_FALSE(entryExists(names[i])) << i;
  }
}

TEST(ShareMem, TwoProcessesShareTheBytesAndLeaveNoEntry) {
  if (kqtest::kOnWindows) GTEST_SKIP() << "the child replays the test and would find the block already made";
  std::string name = kqtest::uniqueName("kq-shm");
  bg::Share_Mem parent;
  ASSERT_EQ(parent.open(name.c_str(), 8192), 1);
  char* view = static_cast<char*>(parent.map());
  strcpy(view, "from parent");
  kqtest::ChildResult run = kqtest::runChild([&] {
    bg::Share_Mem child;
    CHILD_CHECK(child.open(name.c_str(), 1) == 2);
    char* v = static_cast<char*>(child.map());
    CHILD_CHECK(v != nullptr && strcmp(v, "from parent") == 0);
    strcpy(v + 8000, "from child");
    child.unmap(v);
    CHILD_CHECK(child.close() != 0);
    return 0;
  });
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_STREQ(view + 8000, "from child");
  EXPECT_TRUE(entryExists(name));
  parent.unmap(view);
  EXPECT_NE(parent.close(), 0);
  EXPECT_FALSE(entryExists(name));
}

// Many processes opening and closing one name at once: every one of them
// sees the block, and the name is gone once the last has closed.
TEST(ShareMem, ConcurrentHoldersAcrossProcesses) {
  std::string name = kqtest::uniqueName("kq-shm");
  std::vector<std::unique_ptr<kqtest::Child>> children;
  for (int i = 0; i < 6; ++i) {
    children.push_back(std::make_unique<kqtest::Child>([&name, i] {
      int bad = 0;
      for (int round = 0; round < 50; ++round) {
        bg::Share_Mem mem;
        int state = mem.open(name.c_str(), 64);
        char* v = static_cast<char*>(mem.map());
        bad |= (state != 1 && state != 2) || v == nullptr;
        if (v != nullptr) {
          v[i] = 1;
          mem.unmap(v);
        }
      }
      return bad;
    }));
  }
  for (auto& child : children) EXPECT_EQ(child->finish(), 0) << child->err;
  EXPECT_FALSE(entryExists(name));
}

}  // namespace
