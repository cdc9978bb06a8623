// bg::Utils: time texts, directories, trimming and text helpers, paths,
// files, directory listings, text conversions, environment and the explorer.
#include <gtest/gtest.h>
#include <kqbridge/kqbridge.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace {

using kqtest::shownPath;
using Texts = std::vector<std::string>;

std::string cwd() {
  char buf[4096];
  return getcwd(buf, sizeof(buf)) != nullptr ? std::string(buf) : std::string();
}

TEST(UtilsTime, FormatsIntoBoundedPerThreadBuffersFromTheWallClock) {
  kqtest::EnvGuard env;
  env.set("TZ", "UTC");
  tzset();
  bg::Utils u;
  EXPECT_EQ(u.formatTime(0, "%Y-%m-%d %H:%M:%S"), "1970-01-01 00:00:00");
  // Results that do not fit in 64 (getTimeStr) or 128 (formatTime) bytes come back empty.
  EXPECT_STREQ(u.getTimeStr(std::string(70, 'x').c_str()), "");
  EXPECT_EQ(u.formatTime(0, std::string(127, 'y').c_str()), std::string(127, 'y'));
  EXPECT_EQ(u.formatTime(0, std::string(128, 'y').c_str()), "");
  const char* mine = bg::getTimeStr("main");
  std::string other;
  std::thread([&] { other = bg::getTimeStr("other"); }).join();
  EXPECT_STREQ(mine, "main");
  EXPECT_EQ(other, "other");
  EXPECT_NEAR(static_cast<double>(u.getTimeUs()), 1e6 * static_cast<double>(time(nullptr)), 5e6);
}

TEST(UtilsDirectories, MakeRemoveAndFindWithEitherSeparator) {
  kqtest::TempDir tmp;
  bg::Utils u;
  const std::string a = tmp.file("a");
  const std::string ab = tmp.path() + "\\a\\b";
  EXPECT_FALSE(u.mkDir(ab.c_str())) << "parents are never created";
  EXPECT_TRUE(u.mkDir(a.c_str()));
  EXPECT_TRUE(u.mkDir(a.c_str())) << "an existing directory counts as made";
  EXPECT_TRUE(u.mkDir(ab.c_str()));
  EXPECT_TRUE(kqtest::fileExists(a + "/b"));
  EXPECT_FALSE(u.rmDir(a.c_str())) << "a directory with contents stays";
  EXPECT_TRUE(u.rmDir(ab.c_str()) && u.rmDir(a.c_str()));
  EXPECT_FALSE(u.isDirExist(a.c_str()));
  EXPECT_TRUE(u.rmDir(a.c_str())) << "a missing directory counts as removed";
  kqtest::writeFile(tmp.file("plain"), "x");
  EXPECT_FALSE(u.isDirExist(tmp.file("plain").c_str()) || u.mkDir(tmp.file("plain").c_str()));
  EXPECT_FALSE(u.isDirExist("") || u.isDirExist(nullptr));
}

TEST(UtilsDirectories, TempAppDataAndHomeComeFromTheEnvironment) {
  if (kqtest::kOnWindows) GTEST_SKIP() << "GetTempPathW resolves TMP to a full path with its drive";
  const struct {
    const char* tmp;
    const char* temp;
    const char* tmpdir;
    std::string expected;
  } cases[] = {
      {nullptr, nullptr, nullptr, "/tmp/"},
      {"", "/t/e/m/p/", "/var", "/t/e/m/p/"},
      {"/x\\\\y", "/t", "/v", "/x/y/"},
  };
  bg::Utils u;
  for (const auto& c : cases) {
    kqtest::EnvGuard env;
    const char* names[] = {"TMP", "TEMP", "TMPDIR"};
    const char* values[] = {c.tmp, c.temp, c.tmpdir};
    for (int i = 0; i < 3; ++i) values[i] ? env.set(names[i], values[i]) : env.unset(names[i]);
    EXPECT_EQ(u.getTempDir(), shownPath(c.expected)) << c.expected;
  }
  kqtest::EnvGuard env;
  env.set("APPDATA", "/home//me/.config/");
  env.set("HOMEPATH", "\\\\home\\me");
  EXPECT_EQ(bg::getAppDataDir(), shownPath("/home/me/.config/"));
  EXPECT_EQ(bg::getHomeDir(), shownPath("/home/me"));
}

TEST(UtilsText, TrimsOnACopy) {
  bg::Utils u;
  using Trim = std::function<char*(char*)>;
  const struct {
    Trim fn;
    const char* in;
    const char* out;
  } cases[] = {
      {[&](char* s) { return u.trim(s); }, " \t\r\nx y \t\r\n", "x y"},
      {[&](char* s) { return u.trim(s); }, "\vx\f", "\vx\f"},
      {[&](char* s) { return u.ltrim(s); }, "  x  ", "x  "},
      // The first character is never examined by the right trims.
      {[&](char* s) { return u.rtrim(s); }, "   ", " "},
      {[&](char* s) { return u.trimChars(s, "-+"); }, "+-x-", "x"},
  };
  for (const auto& c : cases) {
    std::vector<char> buf(c.in, c.in + strlen(c.in) + 1);
    EXPECT_STREQ(c.fn(buf.data()), c.out) << c.in;
  }
  EXPECT_EQ(u.trimCharsString("**Mixed**", "*"), "Mixed");
}

TEST(UtilsText, AffixesFormatSplitAndRandomStrings) {
  bg::Utils u;
  EXPECT_TRUE(u.startsWith("Hello", "he", false) && u.startsWith("Hello", "", true));
  EXPECT_FALSE(u.startsWith("Hello", "he", true) || u.startsWith("He", "Hello", false));
  EXPECT_FALSE(u.startsWith(nullptr, "he", false) || u.startsWith("Hello", nullptr, false));
  EXPECT_TRUE(u.endsWith("file.TXT", ".txt", false));
  EXPECT_FALSE(u.endsWith("file.TXT", ".txt", true) || u.endsWith("a", "abc", false));
  EXPECT_FALSE(u.startsWith("\xc4x", "\xe4", false)) << "case folding is ASCII only";
  std::string big(100000, 'q');
  EXPECT_EQ(u.format("<%s>", big.c_str()), "<" + big + ">") << "no length limit";
  const struct {
    std::string s;
    const char* delims;
    bool keepEmpty;
    Texts pieces;
  } splits[] = {{"a,,b", ",", true, {"a", "", "b"}},
                {"a,,b", ",", false, {"a", "b"}},
                {",a,", ",", true, {"a"}},
                {"a; ;b", "; ", true, {"a", "", "", "b"}},
                {"a b\tc", " \t", false, {"a", "b", "c"}},
                {",,,", ",", true, {}},
                {"x", "", true, {"x"}},
                {"", nullptr, false, {""}},
                {std::string("a,b\0,c", 6), ",", false, {"a", "b"}}};
  for (const auto& s : splits) EXPECT_EQ(u.split(s.s, s.delims, s.keepEmpty), s.pieces) << s.s;
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) seen.insert(u.randomString(16));
  EXPECT_EQ(seen.size(), 50u) << "calls in the same microsecond still seed differently";
}

TEST(UtilsPaths, NormaliseAndPieces) {
  bg::Utils u;
  for (const char* p : {"C:/a//b\\\\c/", "//server//share/x", "", "plain"})
    EXPECT_EQ(u.normalizePath(p), shownPath(p)) << p;
  EXPECT_EQ(u.normalizePath(std::string("a/b\0/c", 6)), shownPath("a/b"));
  const struct {
    const char* path;
    const char* base;
    const char* file;
    const char* dir;
  } cases[] = {{"C:/d.ir/file.tar.gz", "file", "file.tar.gz", "C:/d.ir/"},
               {"a\\b/c.txt", "c", "c.txt", "a\\b/"},
               {".profile", "", ".profile", ""},
               {"dir/", "", "", "dir/"},
               {"noext", "noext", "noext", ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(u.getBaseName(c.path), c.base) << c.path;
    EXPECT_EQ(u.getFileName(c.path), c.file) << c.path;
    EXPECT_EQ(u.getDirName(c.path), c.dir) << c.path;
  }
}

TEST(UtilsFiles, OpenExamineRemoveAndProbe) {
  kqtest::TempDir tmp;
  bg::Utils u;
  const std::string path = tmp.path() + "\\data.bin";
  FILE* f = u.openFile(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite("0123456789", 1, 10, f);
  fclose(f);
  EXPECT_EQ(u.getFileSize(path.c_str()), 10);
  EXPECT_TRUE(S_ISREG(u.getFileStat(path.c_str()).st_mode));
  EXPECT_EQ(u.removeFile(path.c_str()), 0);
  EXPECT_NE(u.removeFile(path.c_str()), 0);
  EXPECT_EQ(u.openFile(path.c_str(), "rb"), nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(u.getFileSize(path.c_str()), 0);
  EXPECT_EQ(u.getFileStat(path.c_str()).st_size, 0);
  testing::internal::GetCapturedStderr();
  f = u.openFile(tmp.file("\xc3\xbc\xe2\x82\xac.txt").c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  kqtest::writeFile(tmp.file("probe"), "keep?");
  EXPECT_TRUE(u.isDirWritable(tmp.path().c_str(), "probe"));
  EXPECT_FALSE(kqtest::fileExists(tmp.file("probe"))) << "the probe is truncated, then removed";
  EXPECT_FALSE(u.isDirWritable(tmp.file("missing").c_str(), "probe"));
  EXPECT_FALSE(u.isDirWritable(tmp.file("\xc3\xbc\xe2\x82\xac.txt").c_str(), "probe"));
}

struct Seen {
  Texts names;
  Texts contents;
};

void remember(void* user, const char* name) {
  auto* seen = static_cast<Seen*>(user);
  seen->names.push_back(name);
  // The working directory is the one that holds the entry.
  seen->contents.push_back(kqtest::readFile(name));
}

TEST(UtilsListDir, IndentsNamesCallsBackFromEachDirectoryAndRestoresTheWorkingDirectory) {
  kqtest::TempDir tmp;
  for (const char* d : {"root", "root/sub", "root/sub/deeper", "root/empty"})
    mkdir(tmp.file(d).c_str(), 0700);
  for (const char* f : {"root/a", "root/sub/b", "root/sub/deeper/c", "root/sub/deeper/d"})
    kqtest::writeFile(tmp.file(f), f);
  bg::Utils u;
  const std::string before = cwd();
  Seen seen;
  testing::internal::CaptureStdout();
  EXPECT_EQ(u.listDir(tmp.file("root").c_str(), remember, &seen, true), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(cwd(), before);
  for (size_t i = 0; i < seen.names.size(); ++i)
    EXPECT_TRUE(kqtest::contains(seen.contents[i], "/" + seen.names[i])) << seen.names[i];
  std::sort(seen.names.begin(), seen.names.end());
  EXPECT_EQ(seen.names, (Texts{"a", "b", "c", "d"}));
  std::multiset<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.insert(out.substr(start, nl - start));
  EXPECT_EQ(lines, (std::multiset<std::string>{"a", "sub/", "    b", "    deeper/", "        c", "        d",
                                               "empty/"}));
  EXPECT_LT(out.find("    deeper/\n"), out.find("        c\n"))
      << "a directory's line comes before its contents";
  ASSERT_EQ(chdir(tmp.path().c_str()), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(u.listDir("root\\sub\\deeper", nullptr, nullptr, false), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(cwd(), tmp.path());
  testing::internal::CaptureStderr();
  EXPECT_NE(u.listDir("nope", nullptr, nullptr, true), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(cwd(), tmp.path());
  ASSERT_EQ(chdir(before.c_str()), 0);
}

TEST(UtilsEnvironment, SetAlwaysReplacesAndPointersRoundTrip) {
  kqtest::EnvGuard env;
  env.unset("KQ_PTR");
  bg::Utils u;
  EXPECT_EQ(u.setEnv("KQ_PTR", "one", 0), 0);
  EXPECT_EQ(u.setEnv("KQ_PTR", "two", 0), 0);
  EXPECT_STREQ(u.getEnv("KQ_PTR"), "two");
  EXPECT_EQ(u.setEnv("A=B", "x", 1), -1);
  int target = 0;
  void* p = nullptr;
  EXPECT_EQ(u.setEnvPtr("KQ_PTR", &target), 0);
  u.getEnvPtr("KQ_PTR", &p);
  EXPECT_EQ(p, &target);
}

TEST(UtilsExplorer, OpensExistingFoldersWithoutWaitingAndIgnoresTheRestQuietly) {
  if (kqtest::kOnWindows) GTEST_SKIP() << "the folder opener is the Explorer (ShellExecuteW), not xdg-open";
  kqtest::TempDir tmp;
  const std::string bin = tmp.file("bin");
  mkdir(bin.c_str(), 0700);
  mkdir(tmp.file("docs").c_str(), 0700);
  kqtest::writeFile(bin + "/xdg-open", "#!/bin/sh\necho \"$1\" >> \"$(dirname \"$0\")/opened\"\n");
  chmod((bin + "/xdg-open").c_str(), 0700);
  kqtest::EnvGuard env;
  bg::Utils u;
  testing::internal::CaptureStderr();
  env.set("PATH", tmp.path());
  u.showInExplorer(tmp.file("docs/report.txt").c_str());
  env.set("PATH", bin + ":/usr/bin:/bin");
  u.showInExplorer(tmp.file("gone/report.txt").c_str());
  u.showInExplorer(nullptr);
  auto start = std::chrono::steady_clock::now();
  u.showInExplorer((tmp.path() + "\\docs\\report.txt").c_str());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_TRUE(kqtest::waitFor([&] { return kqtest::contains(kqtest::readFile(bin + "/opened"), "\n"); }));
  EXPECT_EQ(kqtest::readFile(bin + "/opened"), tmp.path() + "/docs/\n");
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "no child is left to reap";
}

}  // namespace
