#include "kqbridge/share_mem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/shared_memory.h"
#include "support/test_support.h"

namespace {

std::string entryPath(const std::string& name) {
  return "/dev/shm" + bg::platform::sharedMemoryObjectName(name.c_str());
}
// The system's own record of the name: a /dev/shm entry, or on Windows a
// mapping object that can still be opened.
bool entryExists(const std::string& name) {
  if (!kqtest::kOnWindows) return kqtest::fileExists(entryPath(name));
  bg::platform::SharedSegment* probe = bg::platform::openSharedMemory(name.c_str());
  if (probe != nullptr) bg::platform::closeSharedMemory(probe);
  return probe != nullptr;
}

// An opener in another process gets the creator's block whatever size it
// asks for; the name is private to the user and goes with its last holder.
TEST(ShareMem, TwoProcessesShareTheCreatorsBlockAndLeaveNoEntry) {
  std::string name = kqtest::uniqueName("kq-shm");
  bg::Share_Mem parent;
  // Not an assertion: a child on Windows replays this and opens our block.
  EXPECT_EQ(parent.open(name.c_str(), 8192), 1);
  char* view = static_cast<char*>(parent.map());
  ASSERT_NE(view, nullptr);
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
  struct stat st;
  EXPECT_TRUE(kqtest::kOnWindows || (stat(entryPath(name).c_str(), &st) == 0 && (st.st_mode & 0777) == 0600));
  parent.unmap(view);
  EXPECT_NE(parent.close(), 0);
  EXPECT_FALSE(entryExists(name));
}

// The name lives as long as some holder has it open; views outlive it.
TEST(ShareMem, LastHolderRemovesTheName) {
  std::string name = kqtest::uniqueName("kq-shm");
  bg::Share_Mem creator, opener;
  ASSERT_EQ(creator.open(name.c_str(), 256), 1);
  char* view = static_cast<char*>(creator.map());
  ASSERT_EQ(opener.open(name.c_str(), 256), 2);
  EXPECT_NE(creator.close(), 0);
  EXPECT_TRUE(entryExists(name));
  EXPECT_NE(opener.close(), 0);
  EXPECT_FALSE(entryExists(name));
  strcpy(view, "still mapped");
  creator.unmap(view);
  bg::Share_Mem fresh;
  EXPECT_EQ(fresh.open(name.c_str(), 256), 1) << "the name is free again";
  bg::Abstract_ShareMem* made = fresh.create();
  ASSERT_EQ(made->open((name + "-made").c_str(), 32), 1);
  fresh.destroy(made);
  EXPECT_FALSE(entryExists(name + "-made")) << "deleting a holder closes it";
}

TEST(ShareMem, AnyNameMakesItsOwnBlock) {
  if (kqtest::kOnWindows)
    GTEST_SKIP() << "Windows object names take no backslash and stop at MAX_PATH characters";
  std::string base = kqtest::uniqueName("kq-shm");
  const std::string names[] = {base + "/with/slashes",
                               base + "\\with\\backslashes",
                               base + "%2fwith%2fslashes",
                               base + " \xc3\xa9t\xc3\xa9",
                               base + std::string(1000, 'x'),
                               base + std::string(1000, 'x') + "y",
                               base + "/",
                               base + "?with?slashes"};  // '?' is '/' + 16
  const int n = static_cast<int>(std::size(names));
  std::vector<bg::Share_Mem> creators(n);
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(creators[i].open(names[i].c_str(), 16), 1) << i;
    static_cast<char*>(creators[i].map())[0] = static_cast<char>('0' + i);
  }
  for (int i = 0; i < n; ++i) {
    bg::Share_Mem opener;
    ASSERT_EQ(opener.open(names[i].c_str(), 16), 2) << i;
    EXPECT_EQ(static_cast<char*>(opener.map())[0], '0' + i);
  }
  for (int i = 0; i < n; ++i) {
    creators[i].close();
    EXPECT_FALSE(entryExists(names[i])) << i;
  }
}

// Many processes opening and closing one name at once: every one of them
// sees the block, and the name is gone once the last has closed.
TEST(ShareMem, ConcurrentHoldersAcrossProcesses) {
  std::string name = kqtest::uniqueName("kq-shm");
  std::vector<std::unique_ptr<kqtest::Child>> holders;
  for (int i = 0; i < 6; ++i) {
    holders.emplace_back(new kqtest::Child([&, i] {
      for (int round = 0; round < 50; ++round) {
        bg::Share_Mem mem;
        int state = mem.open(name.c_str(), 64);
        char* v = static_cast<char*>(mem.map());
        CHILD_CHECK((state == 1 || state == 2) && v != nullptr);
        v[i] = 1;
        mem.unmap(v);
      }
      return 0;
    }));
  }
  for (auto& holder : holders) EXPECT_EQ(holder->finish(), 0) << holder->err;
  EXPECT_FALSE(entryExists(name));
}

}  // namespace
