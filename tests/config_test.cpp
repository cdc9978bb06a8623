// bg::Config: what a file loads into, what a save writes, and when it writes.
#include <gtest/gtest.h>
#include <kqbridge/config.h>
#include <sys/stat.h>

#include <cstring>
#include <map>
#include <random>
#include <string>

#include "support/test_support.h"

namespace {

using kqtest::readFile;
using kqtest::writeFile;
using Entries = std::map<std::string, std::string>;

const std::string kHeader = "#Bridge Config (#note)\n";

Entries entriesOf(bg::Config& config) {
  Entries entries;
  config.travell(
      [](const char* key, const char* value, void* user) { (*static_cast<Entries*>(user))[key] = value; },
      &entries);
  return entries;
}

TEST(ConfigLoad, LinesBecomeTrimmedKeyValuePairs) {
  kqtest::TempDir dir;
  const std::string path = dir.file("a.conf");
  const struct {
    std::string content;
    Entries entries;
  } cases[] = {
      {"# a : comment\n  a : b : c  \nno colon here\na : second\n", {{"a", "b : c"}}},
      {"\t key with blanks \t:\t value with blanks \r\n", {{"key with blanks", "value with blanks"}}},
      {"empty :\n : no key\n:\nx:y", {{"empty", ""}, {"x", "y"}}},
      {std::string(1023, 'k') + " : long key kept\n" + std::string(1024, 'K') + " : too long a key\n",
       {{std::string(1023, 'k'), "long key kept"}}},
      {"big : " + std::string(200 * 1024, 'x') + "\nlast : no line end",
       {{"big", std::string(102399 - 6, 'x')}, {"last", "no line end"}}},
  };
  for (const auto& c : cases) {
    writeFile(path, c.content);
    bg::Config config(path.c_str());
    EXPECT_EQ(entriesOf(config), c.entries) << c.content.substr(0, 40);
  }
}

// The saved file is read by people and by the next start: a header, then
// "key : value" lines in byte order of the keys.
TEST(ConfigSave, WritesHeaderAndSortedEntriesOnlyWhenDirty) {
  kqtest::TempDir dir;
  const std::string path = dir.file("s.conf");
  {
    bg::Config missing(dir.file("none.conf").c_str());
    EXPECT_TRUE(missing.isEmpty());
  }
  EXPECT_FALSE(kqtest::fileExists(dir.file("none.conf"))) << "a store that never changed writes nothing";
  writeFile(path, "b : 2\na : 1\n");
  bg::Config config(path.c_str());
  EXPECT_TRUE(config.setValue("a", "1"));
  config.save();
  EXPECT_EQ(readFile(path), "b : 2\na : 1\n") << "nothing changed, nothing written";
  config.setValue("c", "3");
  config.setValue("B", "upper sorts first");
  config.setValue("_", "x");
  config.save();
  EXPECT_EQ(readFile(path), kHeader + "B : upper sorts first\n_ : x\na : 1\nb : 2\nc : 3\n");
  writeFile(path, "untouched\n");
  config.save();
  EXPECT_EQ(readFile(path), "untouched\n") << "a save clears the dirty mark";
  EXPECT_TRUE(config.setValue("a", nullptr));
  EXPECT_FALSE(config.hasKey("a"));
  config.clear();
  config.save();
  EXPECT_EQ(readFile(path), kHeader);
}

TEST(ConfigSave, DeletionSavesAChangedStoreAndAFailedSaveKeepsTheChange) {
  kqtest::TempDir dir;
  auto* config = new bg::Config(dir.file("d.conf").c_str());
  bg::Abstract_Config* made = config->create(dir.file("other.conf").c_str());
  made->setValue("k", "v");
  config->destroy(&made);
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(readFile(dir.file("other.conf")), kHeader + "k : v\n");
  config->setValue("LogLevel", "5");
  delete config;
  EXPECT_EQ(readFile(dir.file("d.conf")), kHeader + "LogLevel : 5\n");
  {
    bg::Config later(dir.file("later/x.conf").c_str());
    later.setValue("k", "v");
    testing::internal::CaptureStderr();
    later.save();
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(kqtest::contains(said, dir.file("later/x.conf")) && said.find('\n') == said.size() - 1)
        << said;
    ASSERT_EQ(mkdir(dir.file("later").c_str(), 0700), 0);
  }
  EXPECT_EQ(readFile(dir.file("later/x.conf")), kHeader + "k : v\n");
}

// Keys without ':' that do not begin with '#' or a blank, and values without
// line ends and outer blanks, come back from a saved file.
TEST(ConfigRoundTrip, RandomEntriesSurviveSaveAndLoad) {
  if (kqtest::kOnWindows)
    GTEST_SKIP() << "the store is a text file, and Windows text mode ends a file at Ctrl-Z (0x1a)";
  kqtest::TempDir dir;
  const std::string path = dir.file("r.conf");
  std::mt19937 rng(12345);
  auto clean = [](std::string s, bool key) {
    for (char& c : s)
      if (c == '\n' || c == '\r' || (key && c == ':')) c = '.';
    const char* blanks = " \t";
    while (!s.empty() && strchr(blanks, s.back()) != nullptr) s.pop_back();
    while (!s.empty() && strchr(blanks, s.front()) != nullptr) s.erase(0, 1);
    if (key && !s.empty() && s[0] == '#') s[0] = 'h';
    return s;
  };
  for (int round = 0; round < 20; ++round) {
    Entries expected;
    {
      bg::Config config(path.c_str());
      config.clear();
      for (int i = 0; i < 50; ++i) {
        std::string key = clean(kqtest::randomText(rng, 40, " \t:#"), true);
        if (key.empty()) continue;
        std::string value = clean(kqtest::randomText(rng, 60, " \t:\r\n"), false);
        config.setValue(key.c_str(), value.c_str());
        expected[key] = value;
      }
    }
    bg::Config reloaded(path.c_str());
    ASSERT_EQ(entriesOf(reloaded), expected) << "round " << round;
  }
}

}  // namespace
