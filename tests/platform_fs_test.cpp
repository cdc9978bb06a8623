#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "platform/dir_stream.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/last_error.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace {

namespace pf = bg::platform;

TEST(PlatformFiles, BackslashesSeparateInEveryCall) {
  kqtest::TempDir tmp;
  const std::string dir = tmp.path() + "\\d";
  EXPECT_EQ(pf::makeDir(dir.c_str()), 0);
  FILE* f = pf::fileOpen((dir + "\\f.txt").c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("abc", f);
  fclose(f);
  EXPECT_EQ(kqtest::readFile(tmp.file("d/f.txt")), "abc");

  pf::FileStat st;
  EXPECT_EQ(pf::fileStat((dir + "\\f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 3);
  EXPECT_FALSE(pf::isDirectory(st));
  EXPECT_EQ(pf::fileStat(dir.c_str(), &st), 0);
  EXPECT_TRUE(pf::isDirectory(st));

  const std::string before = pf::currentDir();
  EXPECT_EQ(pf::changeDir(dir.c_str()), 0);
  EXPECT_EQ(pf::currentDir(), tmp.file("d"));
  EXPECT_EQ(pf::changeDir(before.c_str()), 0);

  EXPECT_EQ(pf::fileRemove((dir + "\\f.txt").c_str()), 0);
  EXPECT_EQ(pf::removeDir(dir.c_str()), 0);
  EXPECT_FALSE(kqtest::fileExists(tmp.file("d")));
}

TEST(PlatformFiles, FailuresLeaveWindowsNumbers) {
  kqtest::TempDir tmp;
  pf::setLastError(0);
  EXPECT_EQ(pf::fileOpen(tmp.file("missing").c_str(), "r"), nullptr);
  EXPECT_EQ(pf::getLastError(), 2u);
  kqtest::writeFile(tmp.file("file"), "x");
  pf::setLastError(0);
  EXPECT_EQ(pf::makeDir(tmp.file("file/sub").c_str()), -1);
  EXPECT_EQ(pf::getLastError(), 267u);
  pf::setLastError(0);
  EXPECT_EQ(pf::fileRemove(tmp.file("missing").c_str()), -1);
  EXPECT_EQ(pf::getLastError(), 2u);
  pf::FileStat st;
  EXPECT_EQ(pf::fileStat(nullptr, &st), -1);
  EXPECT_EQ(pf::removeDir(tmp.file("missing").c_str()), -1);
  EXPECT_EQ(pf::changeDir(tmp.file("missing").c_str()), -1);
}

TEST(PlatformFiles, WideTwinsTakeTheSameFiles) {
  kqtest::TempDir tmp;
  std::wstring dir;
  {
    wchar_t buf[512];
    ASSERT_GT(pf::utf8ToWideChars(tmp.path().c_str(), buf, 512), 0);
    dir = buf;
  }
  const std::wstring sub = dir + L"\\\u00fc";
  EXPECT_EQ(pf::makeDirW(sub.c_str()), 0);
  EXPECT_TRUE(kqtest::fileExists(tmp.file("\xc3\xbc")));
  FILE* f = pf::fileOpenW((sub + L"\\\u20ac.txt").c_str(), L"wb");
  ASSERT_NE(f, nullptr);
  fputs("wide", f);
  fclose(f);
  EXPECT_EQ(kqtest::readFile(tmp.file("\xc3\xbc/\xe2\x82\xac.txt")), "wide");
  pf::FileStat st;
  EXPECT_EQ(pf::fileStatW((sub + L"/\u20ac.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 4);
  EXPECT_EQ(pf::fileRemoveW((sub + L"/\u20ac.txt").c_str()), 0);
  EXPECT_EQ(pf::removeDirW(sub.c_str()), 0);
  EXPECT_FALSE(kqtest::fileExists(tmp.file("\xc3\xbc")));
  EXPECT_EQ(pf::fileOpenW(nullptr, L"r"), nullptr);
}

TEST(PlatformDirStream, ListsEveryEntryWithItsKindThenStaysAtTheEnd) {
  kqtest::TempDir tmp;
  mkdir(tmp.file("sub").c_str(), 0700);
  kqtest::writeFile(tmp.file("f.txt"), "x");
  pf::DirStream* dir = pf::openDir((tmp.path() + "\\").c_str());
  ASSERT_NE(dir, nullptr);
  std::map<std::string, pf::DirEntryKind> seen;
  pf::DirEntry entry;
  while (pf::readDir(dir, &entry)) seen[entry.name] = entry.kind;
  EXPECT_FALSE(pf::readDir(dir, &entry));
  EXPECT_FALSE(pf::readDir(dir, &entry));
  EXPECT_EQ(pf::closeDir(dir), 0);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen.count("."), 1u);
  EXPECT_EQ(seen.count(".."), 1u);
  // Some file systems cannot tell the kind while listing.
  EXPECT_TRUE(seen["sub"] == pf::kEntryDirectory || seen["sub"] == pf::kEntryUnknown);
  EXPECT_TRUE(seen["f.txt"] == pf::kEntryRegular || seen["f.txt"] == pf::kEntryUnknown);
}

TEST(PlatformDirStream, BadNamesAndStreams) {
  kqtest::TempDir tmp;
  errno = 0;
  EXPECT_EQ(pf::openDir(nullptr), nullptr);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(pf::openDir(""), nullptr);
  EXPECT_EQ(errno, ENOENT);
  kqtest::writeFile(tmp.file("file"), "x");
  errno = 0;
  EXPECT_EQ(pf::openDir(tmp.file("file").c_str()), nullptr);
  EXPECT_EQ(errno, ENOTDIR);
  errno = 0;
  EXPECT_EQ(pf::closeDir(nullptr), -1);
  EXPECT_EQ(errno, EBADF);
  pf::DirEntry entry;
  EXPECT_FALSE(pf::readDir(nullptr, &entry));
  pf::DirStream* dir = pf::openDirW(L"/");
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(pf::closeDir(dir), 0);
}

TEST(PlatformText, BufferRulesOfTheConversions) {
  const char* utf8 = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
  EXPECT_EQ(pf::utf8ToWideChars(utf8, nullptr, 0), 5) << "terminator included";
  wchar_t wide[5];
  EXPECT_EQ(pf::utf8ToWideChars(utf8, wide, 5), 5);
  EXPECT_EQ(std::wstring(wide), L"a\u00e9\u20ac\U0001F600");
  EXPECT_EQ(pf::utf8ToWideChars(utf8, wide, 4), 0) << "no room for the terminator";
  EXPECT_EQ(pf::utf8ToWideChars(nullptr, wide, 5), 0);
  EXPECT_EQ(pf::utf8ToWideChars("x", wide, -1), 0);

  // Overlong forms, surrogates and stray continuation bytes all decode to U+FFFD.
  wchar_t many[16];
  ASSERT_EQ(pf::utf8ToWideChars("\xc0\xaf|\xed\xa0\x80|\x80", many, 16), 9);
  EXPECT_EQ(std::wstring(many), L"\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD|\uFFFD");

  const wchar_t* w = L"a\u00e9\u20ac\U0001F600";
  EXPECT_EQ(pf::wideToAnsiBytes(w, 4, nullptr, 0), 10);
  char narrow[10];
  EXPECT_EQ(pf::wideToAnsiBytes(w, 4, narrow, 10), 10);
  EXPECT_EQ(std::string(narrow, 10), utf8);
  EXPECT_EQ(pf::wideToAnsiBytes(w, 4, narrow, 9), 0);
  EXPECT_EQ(pf::wideToAnsiBytes(w, 0, narrow, 9), 0);
  const wchar_t bad[] = {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000), 0};
  EXPECT_EQ(pf::wideToUtf8(bad), "\xef\xbf\xbd\xef\xbf\xbd");
  EXPECT_EQ(pf::wideToUtf8(nullptr), "");
}

TEST(PlatformEnv, TempPathKeepsAnExistingTrailingSeparator) {
  setenv("TMP", "/a\\", 1);
  EXPECT_EQ(pf::tempPath(), "/a\\");
  setenv("TMP", "/a", 1);
  EXPECT_EQ(pf::tempPath(), "/a/");
  EXPECT_EQ(pf::getEnvVar(nullptr), nullptr);
  EXPECT_EQ(pf::setEnvVar(nullptr, "v"), -1);
}

}  // namespace
