// bg::Config: what a file loads into, what a save writes, and when it writes.
#include <gtest/gtest.h>
#include <kqbridge/config.h>
#include <sys/stat.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace {

using kqtest::readFile;
using kqtest::writeFile;

const char kHeader[] = "#Bridge Config (#note)\n";

std::map<std::string, std::string> entriesOf(bg::Config& config) {
  std::map<std::string, std::string> entries;
  config.travell([](const char* key, const char* value,
                    void* user) { (*static_cast<std::map<std::string, std::string>*>(user))[key] = value; },
                 &entries);
  return entries;
}

std::map<std::string, std::string> load(const std::string& path, const std::string& content) {
  writeFile(path, content);
  bg::Config config(path.c_str());
  return entriesOf(config);
}

TEST(ConfigLoad, CommentsLinesWithoutColonAndRepeatedKeys) {
  kqtest::TempDir dir;
  const std::string path = dir.file("a.conf");
  using Entries = std::map<std::string, std::string>;
  EXPECT_EQ(load(path, "# a : comment\n  a : b : c  \nno colon here\na : second\n"),
            (Entries{{"a", "b : c"}}));
  EXPECT_EQ(load(path, "   # k : v\n"), (Entries{{"# k", "v"}})) << "only a # in the first column comments";
  EXPECT_EQ(load(path, "\t key with blanks \t:\t value with blanks \r\n"),
            (Entries{{"key with blanks", "value with blanks"}}));
  EXPECT_EQ(load(path, "empty :\n : no key\n:\nx:y"), (Entries{{"empty", ""}, {"x", "y"}}));
}

TEST(ConfigLoad, BadInputKeepsEveryWellFormedEntry) {
  kqtest::TempDir dir;
  const std::string path = dir.file("bad.conf");
  std::string junk;
  std::mt19937 rng(7);
  for (int i = 0; i < 4096; ++i) junk += static_cast<char>(rng() % 256);
  std::string content = "first : 1\r\n";
  content += junk + "\n";
  content += "big : " + std::string(200 * 1024, 'x') + "\n";
  content += std::string(1023, 'k') + " : long key kept\n";
  content += std::string(1024, 'K') + " : too long a key\n";
  content += "bin\x01\x02 : \x7f\xff\n";
  content += "last : no line end";
  writeFile(path, content);

  bg::Config config(path.c_str());
  auto entries = entriesOf(config);
  EXPECT_EQ(entries["first"], "1");
  EXPECT_EQ(entries["big"], std::string(102399 - 6, 'x')) << "a line arrives in pieces of 102399 characters";
  EXPECT_EQ(entries[std::string(1023, 'k')], "long key kept");
  EXPECT_EQ(entries.count(std::string(1024, 'K')), 0u);
  EXPECT_EQ(entries["bin\x01\x02"], "\x7f\xff");
  EXPECT_EQ(entries["last"], "no line end");
}

TEST(ConfigLoad, MissingFileGivesAnEmptyStoreAndNoFile) {
  kqtest::TempDir dir;
  const std::string path = dir.file("none.conf");
  {
    bg::Config config(path.c_str());
    EXPECT_TRUE(config.isEmpty());
    EXPECT_EQ(config.size(), 0);
    EXPECT_STREQ(config.getPath(), path.c_str());
    EXPECT_FALSE(config.isDeveloperMode());
  }
  EXPECT_FALSE(kqtest::fileExists(path)) << "a store that never changed writes nothing";
}

TEST(ConfigSave, WritesHeaderAndSortedEntriesOnlyWhenDirty) {
  kqtest::TempDir dir;
  const std::string path = dir.file("s.conf");
  writeFile(path, "b : 2\na : 1\n");
  bg::Config config(path.c_str());
  EXPECT_TRUE(config.setValue("a", "1"));
  config.save();
  EXPECT_EQ(readFile(path), "b : 2\na : 1\n") << "the same text does not make the store dirty";

  EXPECT_TRUE(config.setValue("c", "3"));
  EXPECT_TRUE(config.setValue("B", "upper sorts first"));
  config.save();
  EXPECT_EQ(readFile(path), std::string(kHeader) + "B : upper sorts first\na : 1\nb : 2\nc : 3\n");

  writeFile(path, "untouched\n");
  config.save();
  EXPECT_EQ(readFile(path), "untouched\n") << "a save clears the dirty mark";
}

TEST(ConfigSave, DeletionSavesAChangedStore) {
  kqtest::TempDir dir;
  const std::string path = dir.file("d.conf");
  auto* config = new bg::Config(path.c_str());
  config->setValue("LogLevel", "5");
  bg::Abstract_Config* made = config->create(dir.file("other.conf").c_str());
  made->setValue("k", "v");
  config->destroy(&made);
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(readFile(dir.file("other.conf")), std::string(kHeader) + "k : v\n");
  bg::Abstract_Config* self = config;
  config->destroy(&self);
  EXPECT_EQ(readFile(path), std::string(kHeader) + "LogLevel : 5\n");
}

TEST(ConfigSave, AFailedSaveDropsTheDirtyMark) {
  kqtest::TempDir dir;
  const std::string path = dir.file("later/x.conf");
  {
    bg::Config config(path.c_str());
    config.setValue("k", "v");
    config.save();
    ASSERT_EQ(mkdir(dir.file("later").c_str(), 0700), 0);
  }
  EXPECT_FALSE(kqtest::fileExists(path));
}

TEST(ConfigEntries, SetRemoveAndClearTrackChanges) {
  kqtest::TempDir dir;
  const std::string path = dir.file("e.conf");
  writeFile(path, "a : 1\n");
  {
    bg::Config config(path.c_str());
    EXPECT_FALSE(config.setValue("absent", nullptr));
    EXPECT_FALSE(config.removeValue("absent"));
    config.save();
    EXPECT_EQ(readFile(path), "a : 1\n");

    EXPECT_TRUE(config.setValue("a", "2"));
    EXPECT_STREQ(config.getValue("a", "def"), "2");
    EXPECT_TRUE(config.setValue("a", nullptr));
    EXPECT_FALSE(config.hasKey("a"));
    config.save();
    EXPECT_EQ(readFile(path), kHeader);

    config.clear();
    config.save();
    writeFile(path, "marker\n");
    config.clear();
    config.save();
    EXPECT_EQ(readFile(path), "marker\n") << "clearing an empty store changes nothing";

    config.setValue("x", "1");
    config.save();
    config.clear();
    EXPECT_TRUE(config.isEmpty());
  }
  EXPECT_EQ(readFile(path), kHeader) << "a cleared store saves only the header";
}

TEST(ConfigEntries, GetOrSetStoresACopyOfTheDefault) {
  kqtest::TempDir dir;
  bg::Config config(dir.file("g.conf").c_str());
  char def[] = "80";
  const char* first = config.getOrSetValue("port", def);
  EXPECT_EQ(first, def) << "an absent key answers the caller's own pointer";
  def[0] = '9';
  const char* second = config.getOrSetValue("port", "other");
  EXPECT_NE(second, def);
  EXPECT_STREQ(second, "80");
  EXPECT_STREQ(config.getValue("missing", nullptr), nullptr);
  config.save();
  EXPECT_EQ(readFile(dir.file("g.conf")), std::string(kHeader) + "port : 80\n");
}

TEST(ConfigEntries, GetValueBufCopiesLikeStrncpy) {
  kqtest::TempDir dir;
  bg::Config config(dir.file("b.conf").c_str());
  config.setValue("k", "abc");
  char buf[8];
  memset(buf, '*', sizeof(buf));
  EXPECT_FALSE(config.getValueBuf("none", buf, 8));
  EXPECT_EQ(buf[0], '*');
  EXPECT_TRUE(config.getValueBuf("k", buf, 6));
  EXPECT_EQ(std::string(buf, 8), std::string("abc\0\0\0**", 8));
  memset(buf, '*', sizeof(buf));
  EXPECT_TRUE(config.getValueBuf("k", buf, 2));
  EXPECT_EQ(std::string(buf, 4), "ab**") << "no terminator when the text does not fit";
}

TEST(ConfigEntries, TravellVisitsInByteOrder) {
  kqtest::TempDir dir;
  bg::Config config(dir.file("t.conf").c_str());
  for (const char* key : {"b", "a", "B", "_", "aa"}) config.setValue(key, key);
  std::vector<std::string> seen;
  config.travell([](const char* key, const char*,
                    void* user) { static_cast<std::vector<std::string>*>(user)->push_back(key); },
                 &seen);
  EXPECT_EQ(seen, (std::vector<std::string>{"B", "_", "a", "aa", "b"}));
}

// Keys without ':' that do not begin with '#' or white space, and values
// without line ends and outer white space, come back from a saved file.
TEST(ConfigRoundTrip, RandomEntriesSurviveSaveAndLoad) {
  kqtest::TempDir dir;
  const std::string path = dir.file("r.conf");
  std::mt19937 rng(12345);
  auto randomText = [&](size_t maxLen, bool key) {
    std::string s;
    size_t len = (key ? 1 : 0) + rng() % maxLen;
    while (s.size() < len) {
      char c = static_cast<char>(1 + rng() % 255);
      if (c == '\n' || c == '\r' || (key && c == ':')) continue;
      s += c;
    }
    const char* blanks = " \t\r\n";
    while (!s.empty() && strchr(blanks, s.back()) != nullptr) s.pop_back();
    while (!s.empty() && strchr(blanks, s.front()) != nullptr) s.erase(0, 1);
    if (key && !s.empty() && s[0] == '#') s[0] = 'h';
    return s;
  };
  for (int round = 0; round < 20; ++round) {
    std::map<std::string, std::string> expected;
    {
      bg::Config config(path.c_str());
      config.clear();
      for (int i = 0; i < 50; ++i) {
        std::string key = randomText(40, true);
        if (key.empty()) continue;
        std::string value = randomText(60, false);
        config.setValue(key.c_str(), value.c_str());
        expected[key] = value;
      }
    }
    bg::Config reloaded(path.c_str());
    ASSERT_EQ(entriesOf(reloaded), expected) << "round " << round;
  }
}

TEST(ConfigFuzz, RandomFilesLoadWithoutCrashing) {
  kqtest::TempDir dir;
  const std::string path = dir.file("fuzz.conf");
  std::mt19937 rng(99);
  const char alphabet[] = "ab:# \t\r\n\x01\xff";
  for (int i = 0; i < 10000; ++i) {
    std::string content(rng() % 200, '\0');
    for (char& c : content)
      c = (rng() % 2) ? alphabet[rng() % (sizeof(alphabet) - 1)] : static_cast<char>(rng());
    writeFile(path, content);
    bg::Config config(path.c_str());
    auto entries = entriesOf(config);
    for (const auto& entry : entries) {
      ASSERT_FALSE(entry.first.empty());
      ASSERT_EQ(entry.first.find_first_of(":\n"), std::string::npos);
      ASSERT_EQ(entry.second.find('\n'), std::string::npos);
      ASSERT_EQ(strchr(" \t\r", entry.first.back()), nullptr);
    }
  }
}

}  // namespace
