// The platform layer: Windows-numbered last error, the wide twins of the file
// calls and text conversions (the narrow calls are proven through Utils).
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/fs.h"
#include "platform/last_error.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace {

namespace pf = bg::platform;

TEST(PlatformLastError, IsPerThreadAndUsesWindowsNumbers) {
  pf::setLastError(pf::kErrModNotFound);
  unsigned seenByOther = 12345;
  std::thread([&] {
    seenByOther = pf::getLastError();
    pf::setLastError(pf::kErrPipeBusy);
  }).join();
  EXPECT_EQ(seenByOther, 0u);
  // The system's own number on Windows does not outlive the calls that join.
  if (!kqtest::kOnWindows) {
    EXPECT_EQ(pf::getLastError(), 126u);
  }
  kqtest::TempDir tmp;
  kqtest::writeFile(tmp.file("file"), "x");
  EXPECT_EQ(pf::fileOpen(tmp.file("missing").c_str(), "r"), nullptr);
  EXPECT_EQ(pf::getLastError(), 2u);
  EXPECT_EQ(pf::makeDir(tmp.file("file/sub").c_str()), -1);
  // Windows names the missing directory on the way (3) rather than the file in it.
  EXPECT_EQ(pf::getLastError(), kqtest::kOnWindows ? 3u : 267u);
}

TEST(PlatformFiles, WideTwinsTakeTheSameFiles) {
  kqtest::TempDir tmp;
  wchar_t buf[512];
  ASSERT_GT(pf::utf8ToWideChars(tmp.path().c_str(), buf, 512), 0);
  const std::wstring sub = std::wstring(buf) + L"\\\u00fc";
  EXPECT_EQ(pf::makeDirW(sub.c_str()), 0);
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

TEST(PlatformText, ConversionsKeepToTheirBuffersAndReplaceBadSequences) {
  if (kqtest::kOnWindows)
    GTEST_SKIP() << "wchar_t is UTF-16 there, and the system decides the replacement characters";
  const char* utf8 = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
  EXPECT_EQ(pf::utf8ToWideChars(utf8, nullptr, 0), 5) << "terminator included";
  wchar_t wide[16];
  EXPECT_EQ(pf::utf8ToWideChars(utf8, wide, 4), 0) << "no room for the terminator";
  EXPECT_EQ(pf::utf8ToWideChars(utf8, wide, 5), 5);
  EXPECT_EQ(std::wstring(wide), L"a\u00e9\u20ac\U0001F600");
  // Overlong forms, surrogates and stray continuation bytes all decode to U+FFFD.
  ASSERT_EQ(pf::utf8ToWideChars("\xc0\xaf|\xed\xa0\x80|\x80", wide, 16), 9);
  EXPECT_EQ(std::wstring(wide), L"\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD|\uFFFD");
  const wchar_t* w = L"a\u00e9\u20ac\U0001F600";
  EXPECT_EQ(pf::wideToAnsiBytes(w, 4, nullptr, 0), 10);
  char narrow[10];
  EXPECT_EQ(pf::wideToAnsiBytes(w, 4, narrow, 9), 0);
  EXPECT_EQ(pf::wideToAnsiBytes(w, 4, narrow, 10), 10);
  EXPECT_EQ(std::string(narrow, 10), utf8);
  const wchar_t bad[] = {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000), 0};
  EXPECT_EQ(pf::wideToUtf8(bad), "\xef\xbf\xbd\xef\xbf\xbd");
}

}  // namespace
