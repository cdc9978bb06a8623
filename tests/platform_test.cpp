// The platform layer: Windows-numbered last error, the wide twins of the file
// calls and text conversions (the narrow calls are proven through Utils).
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/dir_stream.h"
#include "platform/fs.h"
#include "platform/last_error.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace {

namespace pf = bg::platform;

TEST(PlatformFiles, WideTwinsTakeTheSameFilesAndFailuresSetAPerThreadWindowsNumber) {
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
  pf::DirStream* dir = pf::openDirW(sub.c_str());
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(pf::closeDir(dir), 0);
  EXPECT_EQ(pf::fileRemoveW((sub + L"/\u20ac.txt").c_str()), 0);
  EXPECT_EQ(pf::removeDirW(sub.c_str()), 0);
  EXPECT_FALSE(kqtest::fileExists(tmp.file("\xc3\xbc")));
  EXPECT_EQ(pf::fileOpenW(nullptr, L"r"), nullptr);
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
  kqtest::writeFile(tmp.file("file"), "x");
  EXPECT_EQ(pf::fileOpen(tmp.file("missing").c_str(), "r"), nullptr);
  EXPECT_EQ(pf::getLastError(), 2u);
  EXPECT_EQ(pf::makeDir(tmp.file("file/sub").c_str()), -1);
  // Windows names the missing directory on the way (3) rather than the file in it.
  EXPECT_EQ(pf::getLastError(), kqtest::kOnWindows ? 3u : 267u);
}

TEST(PlatformText, ConversionsKeepToTheirBuffersAndReplaceBadSequences) {
  if (kqtest::kOnWindows)
    GTEST_SKIP() << "wchar_t is UTF-16 there, and the system decides the replacement characters";
  // The first and last code point of each length and around the surrogates, both ways.
  const std::string edges =
      "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf";
  const std::wstring wideEdges = L"\x7f\x80\u07ff\u0800\ud7ff\ue000\uffff\U00010000\U0010ffff";
  wchar_t wide[32];
  EXPECT_EQ(pf::utf8ToWideChars(edges.c_str(), nullptr, 0), 10) << "terminator included";
  EXPECT_EQ(pf::utf8ToWideChars(edges.c_str(), wide, 9), 0) << "no room for the terminator";
  EXPECT_EQ(pf::utf8ToWideChars(edges.c_str(), wide, 10), 10);
  EXPECT_EQ(std::wstring(wide), wideEdges);
  EXPECT_EQ(pf::wideToUtf8(wideEdges.c_str()), edges);
  // Overlong, surrogate, too big, stray or cut short: each byte that starts no character is one U+FFFD.
  ASSERT_EQ(
      pf::utf8ToWideChars(
          "\xc0\xaf|\xe0\x9f\xbf|\xed\xa0\x80|\xed\xbf\xbf|\xf4\x90\x80\x80|\x80\xf8|\xe2\x82", wide, 32),
      26);
  EXPECT_EQ(std::wstring(wide),
            L"\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD|"
            L"\uFFFD\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD|\uFFFD\uFFFD");
  EXPECT_EQ(pf::wideToAnsiBytes(wideEdges.c_str(), 9, nullptr, 0), 25);
  char narrow[25];
  EXPECT_EQ(pf::wideToAnsiBytes(wideEdges.c_str(), 9, narrow, 24), 0);
  EXPECT_EQ(pf::wideToAnsiBytes(wideEdges.c_str(), 9, narrow, 25), 25);
  EXPECT_EQ(std::string(narrow, 25), edges);
  const wchar_t bad[] = {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0xDFFF),
                         static_cast<wchar_t>(0x110000), 0};
  EXPECT_EQ(pf::wideToUtf8(bad), "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");
}

}  // namespace
