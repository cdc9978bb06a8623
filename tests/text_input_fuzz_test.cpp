// Arbitrary text through the readers of outside input: Value::read and
// Argv::parse never crash, and what they accept is consistent.
#include <gtest/gtest.h>
#include <kqbridge/argv.h>
#include <kqbridge/value.h>

#include <random>
#include <string>
#include <vector>

namespace {

using bg::Value;

// Random bytes, often behind a real tag so that the payload readers run.
std::string randomText(std::mt19937& rng) {
  static const char* const kPrefixes[] = {"",      "[i]", "[u]",    "[f]",       "[d]",    "[v]", "[lld]",
                                          "[str]", "[b]", "[argv]", "<variant>", "<null>", "[]",  "x"};
  std::string text = kPrefixes[rng() % (sizeof(kPrefixes) / sizeof(kPrefixes[0]))];
  const size_t len = rng() % 48;
  for (size_t i = 0; i < len; ++i) {
    char c = static_cast<char>(1 + rng() % 255);
    if (rng() % 3 == 0) c = "0123456789-+.e \n]["[rng() % 18];
    text += c;
  }
  return text;
}

TEST(TextInputFuzz, ValueReadOfRandomText) {
  std::mt19937 rng(4711);
  for (int i = 0; i < 10000; ++i) {
    const std::string text = randomText(rng);
    Value v(i);
    const bool ok = v.read(text.c_str());
    if (ok && v.isValid()) {
      Value again;
      ASSERT_TRUE(again.read(v.write().c_str()) || v.type() == Value::VT_ARGV) << text;
    }
    if (!ok && v.type() != Value::VT_ARGV) {
      ASSERT_FALSE(v.isValid()) << text;
    }
  }
}

TEST(TextInputFuzz, ArgvParseOfRandomCommandLines) {
  std::mt19937 rng(1234);
  static const char* const kWords[] = {"--port", "--port=",  "-p",  "-vp",       "-",    "--",
                                       "--name", "--flag=1", "-x",  "--ratio",   "81",   "1e9",
                                       "",       "=",        "-pv", "--debug=1", "--big"};
  for (int i = 0; i < 10000; ++i) {
    bg::Argv argv;
    argv.add("port", 'p', "port", false, Value(80));
    argv.add("verbose", 'v', "verbose", false, Value(false));
    argv.add("name", 'n', "name", i % 7 == 0, Value("n"));
    argv.add("ratio", 'r', "ratio", false, Value(0.5));
    argv.add("big", 'b', "big", false, Value(1LL));
    std::vector<std::string> words{"prog"};
    const int n = static_cast<int>(rng() % 8);
    for (int w = 0; w < n; ++w) {
      words.push_back(rng() % 2 ? std::string(kWords[rng() % (sizeof(kWords) / sizeof(kWords[0]))])
                                : std::string(1 + rng() % 6, static_cast<char>(1 + rng() % 255)));
    }
    std::vector<char*> args;
    for (auto& word : words) args.push_back(&word[0]);
    args.push_back(nullptr);
    const bool ok = argv.parse(static_cast<int>(words.size()), args.data());
    if (ok && i % 7 == 0) {
      ASSERT_TRUE(argv.exist("name")) << "a required option was given";
    }
    ASSERT_FALSE(argv.usage().empty());
  }
}

}  // namespace
