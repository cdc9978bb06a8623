#include "kqbridge/share_mem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/shared_memory.h"
#include "support/test_support.h"

namespace {

std::string shmEntry(const std::string& name) {
  return "/dev/shm" + bg::platform::sharedMemoryObjectName(name.c_str());
}

TEST(ShareMem, CreatorAndOpenerShareOneBlockOfTheCreatorsSize) {
  std::string name = kqtest::uniqueName("kq-shm");
  bg::Share_Mem first;
  bg::Share_Mem second;
  EXPECT_EQ(first.state(), 0);
  ASSERT_EQ(first.open(name.c_str(), 4096), 1);
  EXPECT_EQ(first.state(), 1);
  char* a = static_cast<char*>(first.map());
  ASSERT_NE(a, nullptr);
  memset(a, 0, 4096);
  strcpy(a, "hello");

  ASSERT_EQ(second.open(name.c_str(), 100), 2);
  EXPECT_EQ(second.state(), 2);
  char* b = static_cast<char*>(second.map());
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(b, "hello");
  b[4095] = 'z';
  EXPECT_EQ(a[4095], 'z');

  first.unmap(a);
  second.unmap(b);
}

TEST(ShareMem, SecondOpenReportsTheHeldState) {
  std::string name = kqtest::uniqueName("kq-shm");
  bg::Share_Mem creator;
  bg::Share_Mem opener;
  ASSERT_EQ(creator.open(name.c_str(), 64), 1);
  ASSERT_EQ(opener.open(name.c_str(), 64), 2);

  testing::internal::CaptureStderr();
  EXPECT_EQ(creator.open(name.c_str(), 64), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[share men]: already created.\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(opener.open("some-other-name", 64), 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[share men]: already opened.\n");
}

TEST(ShareMem, CloseAndMapWithoutAMapping) {
  std::string name = kqtest::uniqueName("kq-shm");
  bg::Share_Mem mem;
  EXPECT_EQ(mem.close(), 0);
  EXPECT_EQ(mem.map(), nullptr);
  mem.unmap(nullptr);

  ASSERT_EQ(mem.open(name.c_str(), 128), 1);
  EXPECT_NE(mem.close(), 0);
  EXPECT_EQ(mem.state(), 0);
  EXPECT_EQ(mem.map(), nullptr);
  EXPECT_EQ(mem.close(), 0);
  EXPECT_EQ(mem.open(name.c_str(), 128), 1);
}

TEST(ShareMem, ZeroSizedBlockCannotBeCreated) {
  std::string name = kqtest::uniqueName("kq-shm");
  bg::Share_Mem mem;
  EXPECT_EQ(mem.open(name.c_str(), 0), 0);
  EXPECT_EQ(mem.state(), 0);
  EXPECT_FALSE(kqtest::fileExists(shmEntry(name)));
  EXPECT_EQ(mem.open(nullptr, 16), 0);
}

TEST(ShareMem, BlockIsPrivateToTheUser) {
  std::string name = kqtest::uniqueName("kq-shm");
  bg::Share_Mem mem;
  ASSERT_EQ(mem.open(name.c_str(), 16), 1);
  struct stat st;
  ASSERT_EQ(stat(shmEntry(name).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// The name lives as long as some holder has it open; views outlive it.
TEST(ShareMem, LastHolderRemovesTheName) {
  std::string name = kqtest::uniqueName("kq-shm");
  bg::Share_Mem creator;
  bg::Share_Mem opener;
  ASSERT_EQ(creator.open(name.c_str(), 256), 1);
  char* view = static_cast<char*>(creator.map());
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(opener.open(name.c_str(), 256), 2);
  EXPECT_NE(creator.close(), 0);
  EXPECT_TRUE(kqtest::fileExists(shmEntry(name)));

  bg::Share_Mem late;
  EXPECT_EQ(late.open(name.c_str(), 256), 2);
  EXPECT_NE(late.close(), 0);
  EXPECT_NE(opener.close(), 0);
  EXPECT_FALSE(kqtest::fileExists(shmEntry(name)));

  strcpy(view, "still mapped");
  EXPECT_STREQ(view, "still mapped");
  creator.unmap(view);

  // The name is free again: a new, independent block.
  bg::Share_Mem fresh;
  EXPECT_EQ(fresh.open(name.c_str(), 256), 1);
}

TEST(ShareMem, DestructorClosesAndDestroyDeletes) {
  std::string name = kqtest::uniqueName("kq-shm");
  bg::Share_Mem factory;
  bg::Abstract_ShareMem* mem = factory.create();
  ASSERT_NE(mem, nullptr);
  EXPECT_EQ(mem->state(), 0);
  ASSERT_EQ(mem->open(name.c_str(), 32), 1);
  EXPECT_TRUE(kqtest::fileExists(shmEntry(name)));
  factory.destroy(mem);
  EXPECT_FALSE(kqtest::fileExists(shmEntry(name)));
  factory.destroy(nullptr);
}

// Names of any characters and length make valid, distinct blocks.
TEST(ShareMem, AnyNameWorks) {
  std::string base = kqtest::uniqueName("kq-shm");
  const std::string names[] = {base + "/with/slashes",
                               base + "\\with\\backslashes",
                               base + " spaces %2f",
                               base + "%2fwith%2fslashes",
                               base + "-\xc3\xa9t\xc3\xa9",
                               base + std::string(1000, 'x'),
                               base + std::string(1000, 'x') + "y"};
  bg::Share_Mem creators[7];
  for (int i = 0; i < 7; ++i) {
    ASSERT_EQ(creators[i].open(names[i].c_str(), 16), 1) << i;
    static_cast<char*>(creators[i].map())[0] = static_cast<char>('0' + i);
  }
  for (int i = 0; i < 7; ++i) {
    bg::Share_Mem opener;
    ASSERT_EQ(opener.open(names[i].c_str(), 16), 2) << i;
    char* view = static_cast<char*>(opener.map());
    EXPECT_EQ(view[0], '0' + i);
    opener.unmap(view);
  }
  for (int i = 0; i < 7; ++i) {
    creators[i].close();
    EXPECT_FALSE(kqtest::fileExists(shmEntry(names[i]))) << i;
  }
}

TEST(ShareMem, TwoProcessesShareTheBytesAndLeaveNoEntry) {
  std::string name = kqtest::uniqueName("kq-shm");
  bg::Share_Mem parent;
  ASSERT_EQ(parent.open(name.c_str(), 8192), 1);
  char* view = static_cast<char*>(parent.map());
  ASSERT_NE(view, nullptr);
  strcpy(view, "from parent");

  int rc = kqtest::runInChild([&] {
    bg::Share_Mem child;
    if (child.open(name.c_str(), 1) != 2) return 10;
    char* v = static_cast<char*>(child.map());
    if (v == nullptr) return 11;
    if (strcmp(v, "from parent") != 0) return 12;
    strcpy(v + 8000, "from child");
    child.unmap(v);
    return child.close() != 0 ? 0 : 13;
  });
  ASSERT_EQ(rc, 0);
  EXPECT_STREQ(view + 8000, "from child");
  EXPECT_TRUE(kqtest::fileExists(shmEntry(name)));
  parent.unmap(view);
  EXPECT_NE(parent.close(), 0);
  EXPECT_FALSE(kqtest::fileExists(shmEntry(name)));
}

// Many processes opening and closing one name at once: every one of them
// sees the block, and the name is gone once the last has closed.
TEST(ShareMem, ConcurrentHoldersAcrossProcesses) {
  std::string name = kqtest::uniqueName("kq-shm");
  const int kChildren = 6;
  pid_t pids[kChildren];
  for (int i = 0; i < kChildren; ++i) {
    pids[i] = fork();
    ASSERT_GE(pids[i], 0);
    if (pids[i] == 0) {
      int bad = 0;
      for (int round = 0; round < 50; ++round) {
        bg::Share_Mem mem;
        int state = mem.open(name.c_str(), 64);
        if (state != 1 && state != 2) bad = 1;
        char* v = static_cast<char*>(mem.map());
        if (v == nullptr) {
          bad = 1;
        } else {
          v[i] = 1;
          mem.unmap(v);
        }
      }
      _exit(bad);
    }
  }
  for (int i = 0; i < kChildren; ++i) {
    int status = 0;
    ASSERT_EQ(waitpid(pids[i], &status, 0), pids[i]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << i;
  }
  EXPECT_FALSE(kqtest::fileExists(shmEntry(name)));
}

}  // namespace
