// bg::Utils: time texts, directories, text helpers, paths, the writable
// probe and directory listings (the folder opener is a port test).
#include <gtest/gtest.h>
#include <kqbridge/kqbridge.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <set>
#include <string>
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
  EXPECT_NEAR(static_cast<double>(u.getTimeUs()), 1e6 * static_cast<double>(time(nullptr)), 5e6);
}

TEST(UtilsDirectories, TempAppDataAndHomeComeFromTheEnvironment) {
  if (kqtest::kOnWindows) GTEST_SKIP() << "GetTempPathW resolves TMP to a full path with its drive";
  // TMP, TEMP and TMPDIR (null: unset), then the directory they give.
  const char* cases[][4] = {{nullptr, nullptr, nullptr, "/tmp/"},
                            {"", "/t/e/m/p/", "/var", "/t/e/m/p/"},
                            {"/x\\\\y", "/t", "/v", "/x/y/"}};
  bg::Utils u;
  for (const auto& c : cases) {
    kqtest::EnvGuard env;
    const char* names[] = {"TMP", "TEMP", "TMPDIR"};
    for (int i = 0; i < 3; ++i) c[i] ? env.set(names[i], c[i]) : env.unset(names[i]);
    EXPECT_EQ(u.getTempDir(), shownPath(c[3])) << c[3];
  }
  kqtest::EnvGuard env;
  env.set("APPDATA", "/home//me/.config/");
  env.set("HOMEPATH", "\\\\home\\me");
  EXPECT_EQ(bg::getAppDataDir() + " " + bg::getHomeDir(),
            shownPath("/home/me/.config/") + " " + shownPath("/home/me"));
  // An empty variable counts as unset; a relative XDG folder is ignored.
  for (const char* name : {"APPDATA", "HOMEPATH"}) env.set(name, "");
  env.set("XDG_CONFIG_HOME", "cfg");
  env.set("HOME", "/h");
  EXPECT_EQ(bg::getAppDataDir() + " " + bg::getHomeDir(), "/h/.config /h");
}

TEST(UtilsText, FormatSplitRandomStringsPathsTrimsAffixesAndCase) {
  bg::Utils u;
  std::string big(100000, 'q');
  EXPECT_EQ(u.format("<%s>", big.c_str()), "<" + big + ">") << "no length limit";
  const struct {
    std::string s;
    const char* delims;
    bool keepEmpty;
    Texts pieces;
  } splits[] = {{"a,,b", ",", true, {"a", "", "b"}}, {"a,,b", ",", false, {"a", "b"}},
                {",a,", ",", true, {"a"}},           {",,,", ",", true, {}},
                {"", nullptr, false, {""}},          {std::string("a,b\0,c", 6), ",", false, {"a", "b"}}};
  for (const auto& s : splits) EXPECT_EQ(u.split(s.s, s.delims, s.keepEmpty), s.pieces) << s.s;
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) seen.insert(u.randomString(16));
  EXPECT_EQ(seen.size(), 50u) << "calls in the same microsecond still seed differently";
  // Paths: every run of separators becomes one of the system's.
  for (const char* p : {"C:/a//b\\\\c/", "//server//share/x", "", "plain"})
    EXPECT_EQ(u.normalizePath(p), shownPath(p)) << p;
  EXPECT_EQ(u.normalizePath(std::string("a/b\0/c", 6)), shownPath("a/b"));
  // Trimming works in place; a prefix or suffix may be the whole string, and
  // ignoring case means ASCII case.
  EXPECT_EQ(u.trimString(" \t\r\nA b\n\r\t ") + "|" + u.trimString("   ") + "|" + u.trimString("x"),
            "A b||x");
  EXPECT_EQ(u.trimCharsString("-+a-b+-", "+-") + "|" + u.trimCharsString("-", "-"), "a-b|");
  char blanks[] = "   ";
  EXPECT_STREQ(u.rtrim(blanks), " ") << "the first character is never trimmed from the right";
  const struct {
    const char* s;
    const char* affix;
    bool caseSensitive, starts, ends;
  } affixes[] = {{"abc", "abc", true, true, true},     {"ab", "abc", false, false, false},
                 {"AZ.dll", "az", false, true, false}, {"AZ.dll", ".DLL", false, false, true},
                 {"AZ.dll", "az", true, false, false}, {"abc", "", true, true, true},
                 {nullptr, "", true, false, false},    {"a", nullptr, true, false, false}};
  for (const auto& a : affixes) {
    EXPECT_EQ(u.startsWith(a.s, a.affix, a.caseSensitive), a.starts) << "row " << &a - affixes;
    EXPECT_EQ(u.endsWith(a.s, a.affix, a.caseSensitive), a.ends) << "row " << &a - affixes;
  }
  char mixed[] = "MiXed 1";
  EXPECT_STREQ(u.toUpper(mixed), "MIXED 1");
  EXPECT_STREQ(u.toLower(mixed), "mixed 1");
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

TEST(UtilsFiles, ListingsIndentCallBackAndRestoreTheWorkingDirectoryAndTheWritableProbeLeavesNothing) {
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
  testing::internal::CaptureStderr();
  EXPECT_NE(u.listDir(tmp.file("nope").c_str(), nullptr, nullptr, true), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(cwd(), before);
  // The probe that judges a configuration directory leaves nothing behind and
  // fails on what is not a directory.
  kqtest::writeFile(tmp.file("probe"), "keep?");
  EXPECT_TRUE(u.isDirWritable(tmp.path().c_str(), "probe"));
  EXPECT_FALSE(kqtest::fileExists(tmp.file("probe"))) << "the probe is truncated, then removed";
  EXPECT_FALSE(u.isDirWritable(tmp.file("missing").c_str(), "probe"));
  kqtest::writeFile(tmp.file("file"), "");
  EXPECT_FALSE(u.isDirWritable(tmp.file("file").c_str(), "probe") || u.isDirWritable(nullptr, "probe") ||
               u.isDirWritable(tmp.path().c_str(), nullptr));
  EXPECT_EQ(bg::removeFile(tmp.file("file").c_str()), 0);
  EXPECT_EQ(bg::removeFile(tmp.file("file").c_str()), -1);
}

}  // namespace
