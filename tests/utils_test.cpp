#include <gtest/gtest.h>
#include <kqbridge/kqbridge.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

std::unique_ptr<bg::Abstract_Utils> makeUtils() {
  return std::unique_ptr<bg::Abstract_Utils>(new bg::Utils());
}

std::string cwd() {
  char buf[4096];
  return getcwd(buf, sizeof(buf)) != nullptr ? std::string(buf) : std::string();
}

// Calls `fn` on a writable copy of `text` and returns what the result points at.
template <typename Fn>
std::string onCopy(const char* text, Fn fn) {
  std::vector<char> buf(text, text + strlen(text) + 1);
  return std::string(fn(buf.data()));
}

TEST(UtilsTime, FormatsLocalTimeIntoBoundedBuffers) {
  setenv("TZ", "UTC", 1);
  tzset();
  auto u = makeUtils();
  EXPECT_EQ(u->formatTime(0, "%Y-%m-%d %H:%M:%S"), "1970-01-01 00:00:00");
  EXPECT_EQ(u->formatTime(86400 * 365, "%Y"), "1971");

  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  char year[8];
  strftime(year, sizeof(year), "%Y", &local);
  EXPECT_EQ(std::string(u->getTimeStr("%Y")), year);

  // Results that do not fit in 64 (getTimeStr) or 128 (formatTime) bytes come back empty.
  std::string longFormat(70, 'x');
  EXPECT_STREQ(u->getTimeStr(longFormat.c_str()), "");
  EXPECT_EQ(u->formatTime(0, std::string(127, 'y').c_str()), std::string(127, 'y'));
  EXPECT_EQ(u->formatTime(0, std::string(128, 'y').c_str()), "");
}

TEST(UtilsTime, TimeStampBufferIsPerThread) {
  const char* mine = bg::getTimeStr("main");
  std::string other;
  std::thread t([&] { other = bg::getTimeStr("other"); });
  t.join();
  EXPECT_STREQ(mine, "main");
  EXPECT_EQ(other, "other");
}

TEST(UtilsTime, MicrosecondsFollowTheWallClock) {
  auto u = makeUtils();
  int64_t before = std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  int64_t us = u->getTimeUs();
  struct timeval tv;
  EXPECT_EQ(bg::gettimeofday(&tv, nullptr), 0);
  EXPECT_GE(us, before);
  EXPECT_LT(us - before, 5 * 1000000);
  EXPECT_GE(static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec, us);
  EXPECT_LT(tv.tv_usec, 1000000);
}

TEST(UtilsDirectories, MakeRemoveAndFind) {
  kqtest::TempDir tmp;
  auto u = makeUtils();
  const std::string a = tmp.file("a");
  EXPECT_FALSE(u->isDirExist(a.c_str()));
  EXPECT_FALSE(u->mkDir((a + "/b").c_str())) << "parents are never created";
  EXPECT_TRUE(u->mkDir(a.c_str()));
  EXPECT_TRUE(u->isDirExist(a.c_str()));
  EXPECT_TRUE(u->mkDir(a.c_str())) << "an existing directory counts as made";

  // Backslashes separate too.
  const std::string backslashed = tmp.path() + "\\a\\b";
  EXPECT_TRUE(u->mkDir(backslashed.c_str()));
  EXPECT_TRUE(kqtest::fileExists(a + "/b"));
  EXPECT_TRUE(u->isDirExist(backslashed.c_str()));

  EXPECT_FALSE(u->rmDir(a.c_str())) << "a directory with contents stays";
  EXPECT_TRUE(u->rmDir(backslashed.c_str()));
  EXPECT_TRUE(u->rmDir(a.c_str()));
  EXPECT_FALSE(kqtest::fileExists(a));
  EXPECT_TRUE(u->rmDir(a.c_str())) << "a missing directory counts as removed";

  kqtest::writeFile(tmp.file("plain"), "x");
  EXPECT_FALSE(u->isDirExist(tmp.file("plain").c_str()));
  EXPECT_FALSE(u->mkDir(tmp.file("plain").c_str()));
  EXPECT_FALSE(u->isDirExist(""));
  EXPECT_FALSE(u->isDirExist(nullptr));
}

TEST(UtilsDirectories, TempDirTakesTmpThenTempThenTmpdir) {
  auto u = makeUtils();
  unsetenv("TMP");
  unsetenv("TEMP");
  unsetenv("TMPDIR");
  EXPECT_EQ(u->getTempDir(), "/tmp/");
  setenv("TMPDIR", "/var//spool", 1);
  EXPECT_EQ(u->getTempDir(), "/var/spool/");
  setenv("TEMP", "/t/e/m/p/", 1);
  EXPECT_EQ(u->getTempDir(), "/t/e/m/p/");
  setenv("TMP", "", 1);
  EXPECT_EQ(u->getTempDir(), "/t/e/m/p/") << "an empty value is skipped";
  setenv("TMP", "/x\\\\y", 1);
  EXPECT_EQ(u->getTempDir(), "/x/y/");

  // The text is meant for the file routines, which take either separator.
  kqtest::TempDir tmp;
  setenv("TMP", tmp.path().c_str(), 1);
  std::string probe = u->getTempDir() + "probe.txt";
  FILE* f = u->openFile(probe.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_TRUE(kqtest::fileExists(tmp.file("probe.txt")));
}

TEST(UtilsDirectories, AppDataAndHomeAreNormalisedVariables) {
  setenv("APPDATA", "/home//me/.config/", 1);
  setenv("HOMEPATH", "\\\\home\\me", 1);
  EXPECT_EQ(bg::getAppDataDir(), "/home/me/.config/");
  EXPECT_EQ(bg::getHomeDir(), "/home/me");
}

TEST(UtilsTrim, BlanksAreSpaceTabCarriageReturnAndLineFeed) {
  auto u = makeUtils();
  auto ltrim = [&](char* s) { return u->ltrim(s); };
  auto rtrim = [&](char* s) { return u->rtrim(s); };
  auto trim = [&](char* s) { return u->trim(s); };
  EXPECT_EQ(onCopy(" \t\r\nx y \t\r\n", trim), "x y");
  EXPECT_EQ(onCopy("  x  ", trim), "x");
  EXPECT_EQ(onCopy("   ", trim), "");
  EXPECT_EQ(onCopy("\vx\f", trim), "\vx\f") << "other control characters are not blank";
  EXPECT_EQ(onCopy("  x  ", ltrim), "x  ");
  EXPECT_EQ(onCopy("  x  ", rtrim), "  x");
  // The first character is never examined by the right trims.
  EXPECT_EQ(onCopy(" ", rtrim), " ");
  EXPECT_EQ(onCopy("   ", rtrim), " ");
  EXPECT_EQ(onCopy("", rtrim), "");

  char s[] = "  ab";
  EXPECT_EQ(u->ltrim(s), s + 2);
  EXPECT_STREQ(s, "  ab") << "ltrim writes nothing";
  char t[] = "ab  ";
  EXPECT_EQ(u->rtrim(t), t);
  EXPECT_EQ(memcmp(t, "ab\0 ", 5), 0) << "rtrim writes one terminator";
}

TEST(UtilsTrim, CharacterSets) {
  auto u = makeUtils();
  auto trimDash = [&](char* s) { return u->trimChars(s, "-"); };
  auto ltrimSet = [&](char* s) { return u->ltrimChars(s, "-+"); };
  auto rtrimEmpty = [&](char* s) { return u->rtrimChars(s, ""); };
  EXPECT_EQ(onCopy("--x--", trimDash), "x");
  EXPECT_EQ(onCopy("----", trimDash), "");
  EXPECT_EQ(onCopy("+-+x-", ltrimSet), "x-");
  EXPECT_EQ(onCopy("--x--", rtrimEmpty), "--x--");
  char s[] = "ab--";
  u->rtrimChars(s, "-");
  EXPECT_EQ(memcmp(s, "ab\0\0", 5), 0) << "every removed character is overwritten";
  char one[] = "-";
  EXPECT_STREQ(u->rtrimChars(one, "-"), "-");
}

// The string forms trim through this object's own trim and trimChars.
class ShoutingUtils : public bg::Utils {
 public:
  char* trim(char* s) override { return toUpper(bg::Utils::trim(s)); }
  char* trimChars(char* s, const char* set) override { return toLower(bg::Utils::trimChars(s, set)); }
};

TEST(UtilsTrim, StringFormsGoThroughTheObjectsOwnSlots) {
  bg::Utils plain;
  EXPECT_EQ(plain.trimString("  Mixed Case \n"), "Mixed Case");
  EXPECT_EQ(plain.trimCharsString("**Mixed**", "*"), "Mixed");
  ShoutingUtils shouting;
  bg::Abstract_Utils* u = &shouting;
  EXPECT_EQ(u->trimString("  Mixed Case \n"), "MIXED CASE");
  EXPECT_EQ(u->trimCharsString("**Mixed**", "*"), "mixed");
}

TEST(UtilsText, AffixesWithAndWithoutCase) {
  auto u = makeUtils();
  EXPECT_TRUE(u->startsWith("Hello", "he", false));
  EXPECT_FALSE(u->startsWith("Hello", "he", true));
  EXPECT_TRUE(u->startsWith("Hello", "He", true));
  EXPECT_TRUE(u->startsWith("Hello", "", true));
  EXPECT_FALSE(u->startsWith(nullptr, "he", false));
  EXPECT_FALSE(u->startsWith("Hello", nullptr, false));
  EXPECT_FALSE(u->startsWith("He", "Hello", false));
  EXPECT_TRUE(u->endsWith("file.TXT", ".txt", false));
  EXPECT_FALSE(u->endsWith("file.TXT", ".txt", true));
  EXPECT_FALSE(u->endsWith("a", "abc", false));
  EXPECT_TRUE(u->endsWith("abc", "", true));
  EXPECT_FALSE(u->endsWith(nullptr, "", true));
  EXPECT_FALSE(u->startsWith("\xc4x", "\xe4", false)) << "case folding is ASCII only";
}

TEST(UtilsText, CaseMappingInPlace) {
  auto u = makeUtils();
  char s[] = "MiXeD 123 _";
  EXPECT_EQ(u->toLower(s), s);
  EXPECT_STREQ(s, "mixed 123 _");
  EXPECT_STREQ(u->toUpper(s), "MIXED 123 _");
}

TEST(UtilsText, FormatHasNoLengthLimit) {
  auto u = makeUtils();
  EXPECT_EQ(u->format("%d-%s-%.2f", 42, "x", 1.5), "42-x-1.50");
  EXPECT_EQ(u->format("%s", ""), "");
  std::string big(100000, 'q');
  EXPECT_EQ(u->format("<%s>", big.c_str()), "<" + big + ">");
  EXPECT_EQ(bg::format("%05d", 7), "00007");
}

TEST(UtilsText, SplitKeepsInnerEmptyFieldsOnRequest) {
  auto u = makeUtils();
  typedef std::vector<std::string> V;
  EXPECT_EQ(u->split("a,,b", ",", true), (V{"a", "", "b"}));
  EXPECT_EQ(u->split("a,,b", ",", false), (V{"a", "b"}));
  EXPECT_EQ(u->split("a,,,b", ",", true), (V{"a", "", "", "b"}));
  EXPECT_EQ(u->split(",a,", ",", true), (V{"a"}));
  EXPECT_EQ(u->split(",,a,,", ",", false), (V{"a"}));
  EXPECT_EQ(u->split("a b\tc", " \t", false), (V{"a", "b", "c"}));
  EXPECT_EQ(u->split("a; ;b", "; ", true), (V{"a", "", "", "b"}));
  EXPECT_EQ(u->split("", ",", true), V{});
  EXPECT_EQ(u->split(",,,", ",", true), V{});
  EXPECT_EQ(u->split("x", "", true), V{"x"});
  EXPECT_EQ(u->split("", nullptr, false), V{""});
  EXPECT_EQ(u->split(std::string("a,b\0,c", 6), ",", false), (V{"a", "b"}))
      << "the text ends at its first NUL";
}

TEST(UtilsText, RandomStringsUseTheAlphabetAndDiffer) {
  auto u = makeUtils();
  EXPECT_EQ(u->randomString(0), "");
  EXPECT_EQ(u->randomString(-5), "");
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    std::string s = u->randomString(16);
    ASSERT_EQ(s.size(), 16u);
    for (char c : s) ASSERT_TRUE(isalnum(static_cast<unsigned char>(c))) << s;
    seen.insert(s);
  }
  EXPECT_EQ(seen.size(), 50u) << "calls in the same microsecond still seed differently";
}

TEST(UtilsPaths, NormaliseCollapsesSeparatorRuns) {
  auto u = makeUtils();
  EXPECT_EQ(u->normalizePath("C:/a//b\\\\c/"), "C:/a/b/c/");
  EXPECT_EQ(u->normalizePath("//server//share/x"), "/server/share/x");
  EXPECT_EQ(u->normalizePath(""), "");
  EXPECT_EQ(u->normalizePath("plain"), "plain");
  EXPECT_EQ(u->normalizePath(std::string("a/b\0/c", 6)), "a/b");
}

TEST(UtilsPaths, Pieces) {
  auto u = makeUtils();
  EXPECT_EQ(u->getBaseName("C:/d.ir/file.tar.gz"), "file");
  EXPECT_EQ(u->getBaseName("dir\\archive.tar.gz"), "archive");
  EXPECT_EQ(u->getBaseName("noext"), "noext");
  EXPECT_EQ(u->getBaseName(".profile"), "");
  EXPECT_EQ(u->getFileName("dir/"), "");
  EXPECT_EQ(u->getFileName("a\\b/c.txt"), "c.txt");
  EXPECT_EQ(u->getFileName("c.txt"), "c.txt");
  EXPECT_EQ(u->getDirName("a/b/c.txt"), "a/b/");
  EXPECT_EQ(u->getDirName("a\\b\\c.txt"), "a\\b\\");
  EXPECT_EQ(u->getDirName("file"), "");
}

TEST(UtilsFiles, OpenRemoveAndExamine) {
  kqtest::TempDir tmp;
  auto u = makeUtils();
  const std::string path = tmp.path() + "\\data.bin";
  FILE* f = u->openFile(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite("0123456789", 1, 10, f);
  fclose(f);
  EXPECT_EQ(kqtest::readFile(tmp.file("data.bin")), "0123456789");
  EXPECT_EQ(u->getFileSize(path.c_str()), 10);
  bg::FileStat st = u->getFileStat(path.c_str());
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_GT(st.st_mtime, 0);
  EXPECT_EQ(u->removeFile(path.c_str()), 0);
  EXPECT_FALSE(kqtest::fileExists(tmp.file("data.bin")));
  EXPECT_NE(u->removeFile(path.c_str()), 0);
  EXPECT_EQ(u->openFile(path.c_str(), "rb"), nullptr);

  const std::string utf8 = tmp.file("\xc3\xbc\xe2\x82\xac.txt");
  f = u->openFile(utf8.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_TRUE(kqtest::fileExists(utf8));
}

TEST(UtilsFiles, StatOfAMissingPathIsZeroAndSaysSoOnce) {
  kqtest::TempDir tmp;
  auto u = makeUtils();
  const std::string missing = tmp.file("missing");
  CaptureStderr();
  int64_t size = u->getFileSize(missing.c_str());
  std::string err = GetCapturedStderr();
  EXPECT_EQ(size, 0);
  EXPECT_EQ(err, "bg: [Error] _wstat64(..) < 0, path=" + missing + "\n");

  CaptureStderr();
  bg::FileStat st = u->getFileStat(missing.c_str());
  err = GetCapturedStderr();
  bg::FileStat zero;
  memset(&zero, 0, sizeof(zero));
  EXPECT_EQ(memcmp(&st, &zero, sizeof(st)), 0);
  EXPECT_EQ(err, "bg: [Error] _wstat64(..) < 0, path=" + missing + "\n");
}

TEST(UtilsFiles, DirWritableProbesAndCleansUp) {
  kqtest::TempDir tmp;
  auto u = makeUtils();
  kqtest::writeFile(tmp.file("probe"), "keep?");
  EXPECT_TRUE(u->isDirWritable(tmp.path().c_str(), "probe"));
  EXPECT_FALSE(kqtest::fileExists(tmp.file("probe"))) << "the probe is truncated, then removed";
  EXPECT_FALSE(u->isDirWritable(tmp.file("missing").c_str(), "probe"));
  kqtest::writeFile(tmp.file("file"), "x");
  EXPECT_FALSE(u->isDirWritable(tmp.file("file").c_str(), "probe"));
}

// A small tree whose every directory holds one entry, so that the listing
// order does not depend on the file system.
struct ChainTree {
  kqtest::TempDir tmp;
  ChainTree() {
    mkdir(tmp.file("root").c_str(), 0700);
    mkdir(tmp.file("root/d1").c_str(), 0700);
    mkdir(tmp.file("root/d1/d2").c_str(), 0700);
    kqtest::writeFile(tmp.file("root/d1/d2/leaf.txt"), "leaf");
  }
};

TEST(UtilsListDir, PrintsIndentedNamesAndRestoresTheWorkingDirectory) {
  ChainTree tree;
  auto u = makeUtils();
  const std::string before = cwd();
  CaptureStdout();
  int rc = u->listDir(tree.tmp.file("root").c_str(), nullptr, nullptr, true);
  std::string out = GetCapturedStdout();
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out, "d1/\n    d2/\n        leaf.txt\n");
  EXPECT_EQ(cwd(), before);

  // Relative, with several components, and in backslash form.
  ASSERT_EQ(chdir(tree.tmp.path().c_str()), 0);
  const std::string relativeStart = cwd();
  CaptureStdout();
  rc = u->listDir("root\\d1", nullptr, nullptr, true);
  out = GetCapturedStdout();
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out, "d2/\n    leaf.txt\n");
  EXPECT_EQ(cwd(), relativeStart);
  CaptureStdout();
  rc = u->listDir("root/d1/d2", nullptr, nullptr, false);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(cwd(), relativeStart);
  ASSERT_EQ(chdir(before.c_str()), 0);
}

struct Seen {
  std::vector<std::string> names;
  std::vector<std::string> contents;
};

void remember(void* user, const char* name) {
  Seen* seen = static_cast<Seen*>(user);
  seen->names.push_back(name);
  // The working directory is the one that holds the entry.
  seen->contents.push_back(kqtest::readFile(name));
}

TEST(UtilsListDir, CallsBackForFilesOnlyFromTheirOwnDirectory) {
  kqtest::TempDir tmp;
  const std::string root = tmp.file("root");
  mkdir(root.c_str(), 0700);
  mkdir((root + "/sub").c_str(), 0700);
  mkdir((root + "/sub/deeper").c_str(), 0700);
  mkdir((root + "/empty").c_str(), 0700);
  kqtest::writeFile(root + "/a.txt", "A");
  kqtest::writeFile(root + "/sub/b.txt", "B");
  kqtest::writeFile(root + "/sub/deeper/c.txt", "C");
  kqtest::writeFile(root + "/sub/deeper/d.txt", "D");

  auto u = makeUtils();
  Seen seen;
  CaptureStdout();
  EXPECT_EQ(u->listDir(root.c_str(), remember, &seen, true), 0);
  std::string out = GetCapturedStdout();

  std::vector<std::string> names = seen.names;
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "d.txt"}));
  for (size_t i = 0; i < seen.names.size(); ++i) {
    EXPECT_EQ(seen.contents[i], std::string(1, static_cast<char>(toupper(seen.names[i][0]))))
        << seen.names[i];
  }

  std::multiset<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.insert(out.substr(start, nl - start));
  }
  EXPECT_EQ(start, out.size()) << "every line ends with a line feed";
  EXPECT_EQ(lines, (std::multiset<std::string>{"a.txt", "sub/", "    b.txt", "    deeper/", "        c.txt",
                                               "        d.txt", "empty/"}));
  // A directory's line comes before its contents.
  EXPECT_LT(out.find("sub/\n"), out.find("    b.txt\n"));
  EXPECT_LT(out.find("    deeper/\n"), out.find("        c.txt\n"));
}

TEST(UtilsListDir, MissingDirectoryIsReported) {
  kqtest::TempDir tmp;
  auto u = makeUtils();
  const std::string missing = tmp.file("nope");
  const std::string before = cwd();
  CaptureStdout();
  CaptureStderr();
  int rc = u->listDir(missing.c_str(), nullptr, nullptr, true);
  std::string err = GetCapturedStderr();
  std::string out = GetCapturedStdout();
  EXPECT_NE(rc, 0);
  EXPECT_EQ(err, "cannot open directory: " + missing + "\n");
  EXPECT_EQ(out, "");
  EXPECT_EQ(cwd(), before);
}

TEST(UtilsConversions, Utf8ToWideAndBack) {
  auto u = makeUtils();
  const char* utf8 = "h\xc3\xa9llo \xe2\x82\xac \xf0\x9f\x98\x80";
  EXPECT_EQ(u->utf8ToWString(utf8), std::wstring(L"h\u00e9llo \u20ac \U0001F600"));
  EXPECT_EQ(u->utf8ToWString(""), L"");
  EXPECT_EQ(u->utf8ToWString(nullptr), L"");
  EXPECT_EQ(u->utf8ToWString("a\xff"
                             "b\xc3"),
            std::wstring(L"a\uFFFDb\uFFFD"))
      << "malformed bytes";
  EXPECT_EQ(u->wideToAnsiString(L"h\u00e9llo \u20ac \U0001F600"), utf8);
  EXPECT_EQ(u->wideToAnsiString(L""), "");

  wchar_t wide[8];
  std::fill(wide, wide + 8, L'#');
  EXPECT_EQ(u->utf8ToWide("\xc3\xa9t\xc3\xa9", wide, 8), wide);
  EXPECT_EQ(std::wstring(wide), L"\u00e9t\u00e9");
  EXPECT_EQ(wide[4], L'#');
  std::fill(wide, wide + 8, L'#');
  u->utf8ToWide("abcdef", wide, 3);
  EXPECT_EQ(wide[3], L'#') << "never past outLen";

  char narrow[8];
  memset(narrow, '#', sizeof(narrow));
  EXPECT_EQ(u->wideToAnsi(L"\u00e9t", narrow, 8), narrow);
  EXPECT_EQ(std::string(narrow, 4), "\xc3\xa9t#") << "no terminator is written";
  memset(narrow, '#', sizeof(narrow));
  u->wideToAnsi(L"\u20ac\u20ac", narrow, 4);
  EXPECT_EQ(std::string(narrow + 3, 5), "#####") << "only whole characters that fit";
}

TEST(UtilsEnvironment, SetAlwaysReplaces) {
  auto u = makeUtils();
  const std::string name = "KQ_UTILS_" + std::to_string(getpid());
  EXPECT_EQ(u->getEnv(name.c_str()), nullptr);
  EXPECT_EQ(u->setEnv(name.c_str(), "one", 0), 0);
  EXPECT_STREQ(u->getEnv(name.c_str()), "one");
  EXPECT_EQ(u->setEnv(name.c_str(), "two", 0), 0);
  EXPECT_STREQ(u->getEnv(name.c_str()), "two");
  EXPECT_STREQ(getenv(name.c_str()), "two");
  EXPECT_EQ(u->setEnv("", "x", 1), -1);
  EXPECT_EQ(u->setEnv("A=B", "x", 1), -1);
}

TEST(UtilsEnvironment, PointersRoundTrip) {
  auto u = makeUtils();
  int target = 0;
  void* p = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(u->setEnvPtr("KQ_PTR", &target), 0);
  u->getEnvPtr("KQ_PTR", &p);
  EXPECT_EQ(p, &target);
  setenv("KQ_PTR", "not a pointer", 1);
  u->getEnvPtr("KQ_PTR", &p);
  EXPECT_EQ(p, nullptr);
  p = &target;
  u->getEnvPtr("KQ_PTR_UNSET", &p);
  EXPECT_EQ(p, nullptr);
  u->getEnvPtr("KQ_PTR", nullptr);
  EXPECT_EQ(u->setEnvPtr("KQ_PTR", nullptr), 0);
  p = &target;
  u->getEnvPtr("KQ_PTR", &p);
  EXPECT_EQ(p, nullptr);
}

// A stand-in opener that records the folder it was asked to open.
std::string installFakeOpener(const kqtest::TempDir& tmp) {
  const std::string bin = tmp.file("bin");
  mkdir(bin.c_str(), 0700);
  kqtest::writeFile(bin + "/xdg-open",
                    "#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/opened.tmp\"\nmv \"$(dirname "
                    "\"$0\")/opened.tmp\" \"$(dirname \"$0\")/opened\"\n");
  chmod((bin + "/xdg-open").c_str(), 0700);
  setenv("PATH", (bin + ":/usr/bin:/bin").c_str(), 1);
  return bin + "/opened";
}

bool waitForFile(const std::string& path) {
  for (int i = 0; i < 1000 && !kqtest::fileExists(path); ++i) usleep(10000);
  return kqtest::fileExists(path);
}

TEST(UtilsExplorer, OpensTheFolderOfThePathWithoutWaiting) {
  kqtest::TempDir tmp;
  const std::string opened = installFakeOpener(tmp);
  mkdir(tmp.file("docs").c_str(), 0700);
  auto u = makeUtils();
  auto start = std::chrono::steady_clock::now();
  u->showInExplorer((tmp.path() + "\\docs\\report.txt").c_str());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ASSERT_TRUE(waitForFile(opened));
  EXPECT_EQ(kqtest::readFile(opened), tmp.path() + "/docs/");
  siginfo_t info;  // the opener is reaped for us soon after it ends; we only look
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  errno = 0;
  while (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         std::chrono::steady_clock::now() < until)
    usleep(10000);
  EXPECT_EQ(errno, ECHILD) << "no child is left to reap";
}

TEST(UtilsExplorer, AMissingFolderOrOpenerIsIgnoredQuietly) {
  kqtest::TempDir tmp;
  const std::string opened = installFakeOpener(tmp);
  auto u = makeUtils();
  CaptureStderr();
  CaptureStdout();
  u->showInExplorer(tmp.file("gone/report.txt").c_str());
  setenv("PATH", tmp.path().c_str(), 1);
  mkdir(tmp.file("docs").c_str(), 0700);
  u->showInExplorer(tmp.file("docs/report.txt").c_str());
  u->showInExplorer(nullptr);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(GetCapturedStderr(), "");
  usleep(200000);
  EXPECT_FALSE(kqtest::fileExists(opened));
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

}  // namespace
