// bg::Argv and the command-line parser under it: grammar, typing and usage.
#include <gtest/gtest.h>
#include <kqbridge/argv.h>

#include <string>
#include <vector>

#include "app/cmdline.h"

namespace {

using bg::Value;
using Texts = std::vector<std::string>;

// parse() over a list of words; the first is the program name.
template <typename Parser>
bool parse(Parser& p, Texts words) {
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(&w[0]);
  return p.parse(static_cast<int>(argv.size()), argv.data());
}

TEST(CmdlineParse, FormsOfAnIntegerOption) {
  const struct {
    Texts words;
    bool ok;
    int port;
  } cases[] = {
      {{"--port=81"}, true, 81},           {{"-p", "81"}, true, 81},   {{"-vp", "81"}, true, 81},
      {{"--port=-3"}, true, -3},           {{"--port=8x"}, false, 80}, {{"--port=81 "}, false, 80},
      {{"--port=99999999999"}, false, 80},
  };
  for (const auto& c : cases) {
    cmdline::parser p;
    p.add<int>("port", 'p', "port number", false, 80);
    p.add("verbose", 'v', "talk more");
    Texts words = c.words;
    words.insert(words.begin(), "prog");
    EXPECT_EQ(parse(p, words), c.ok) << c.words[0];
    EXPECT_EQ(p.get<int>("port"), c.port) << c.words[0];
    EXPECT_EQ(p.exist("verbose"), c.words[0] == "-vp");
  }
}

TEST(CmdlineParse, EveryMistakeIsRecordedAndTheScanGoesOn) {
  cmdline::parser p;
  p.add<int>("port", 'p', "port number", false, 80);
  p.add("verbose", 'v', "talk more");
  p.add<std::string>("host", 'h', "host name", true, "");
  p.add<int>("aneed", 0, "needed too", true, 1);
  EXPECT_FALSE(parse(p, {"prog", "--nope", "--nope=1", "-x", "-pv", "--verbose=1", "file1", "-", "--port=1",
                         "-vz", "file2", "--port"}));
  EXPECT_EQ(p.errors().size(), 9u);
  EXPECT_EQ(p.rest(), (Texts{"file1", "file2"}));
  EXPECT_TRUE(p.exist("verbose"));
  EXPECT_FALSE(parse(p, {"prog", "--host", "--port=3"})) << "the next argument is the value, whatever it is";
  EXPECT_EQ(p.get<std::string>("host"), "--port=3");
  EXPECT_EQ(p.errors(), Texts{"need option: --aneed"});
  EXPECT_TRUE(p.rest().empty()) << "a second parse starts from no words";
  p.add<int>("page", 'p', "page", false, 1);
  EXPECT_FALSE(parse(p, {"prog", "--port=81"}));
  EXPECT_EQ(p.errors(), Texts{"short option 'p' is ambiguous"});
  EXPECT_THROW(p.add("port", 'x', "again"), cmdline::cmdline_error);
  EXPECT_THROW(p.get<std::string>("port"), cmdline::cmdline_error);
}

// The usage text is what a user reads: required options in the summary,
// descriptions aligned, defaults shown with their type.
TEST(CmdlineUsage, RequiredSummaryAndAlignedDescriptions) {
  cmdline::parser p;
  p.add<std::string>("host", 'h', "host name", true, "");
  p.add<int>("port", 'p', "port number", false, 80);
  p.add("verbose", 0, "talk more");
  p.add<double>("ratio", 0, "ratio", false, 1.0 / 3);
  p.add<long long>("big", 0, "big", true, 5LL);
  parse(p, {"/usr/bin/tool", "--host=h", "--big=1"});
  EXPECT_EQ(p.usage(),
            "usage: /usr/bin/tool --host=string --big=long long [options] ... \n"
            "options:\n"
            "  -h, --host       host name (string)\n"
            "  -p, --port       port number (int [=80])\n"
            "      --verbose    talk more\n"
            "      --ratio      ratio (double [=0.333333])\n"
            "      --big        big (long long)\n");
}

TEST(Argv, OptionsAreTypedByTheDefaultsKind) {
  bg::Argv argv;
  testing::internal::CaptureStdout();
  const struct {
    const char* name;
    Value def;
    const char* given;
    Value::VT type;
    int64_t bits;
  } cases[] = {
      {"i", Value(1), "-4", Value::VT_INT, 4294967292LL}, {"u", Value(2u), "5", Value::VT_UINT, 5},
      {"l", Value(3LL), "-9", Value::VT_INT64, -9},       {"b", Value(false), "1", Value::VT_BOOL, 1},
      {"s", Value("def"), "text", Value::VT_STR, 0},      {"d", Value(2.5), "1e3", Value::VT_DOUBLE, 0},
  };
  Texts words{"prog"};
  for (const auto& c : cases) {
    argv.add(c.name, c.name[0], "", false, c.def);
    words.insert(words.end(), {std::string("-") + c.name, c.given});
  }
  argv.add("flag", 'F', "a flag", false, Value());
  words.push_back("-F");
  EXPECT_TRUE(parse(argv, words));
  for (const auto& c : cases) {
    Value v = argv.get(c.name, c.def);
    EXPECT_EQ(v.type(), c.type) << c.name;
    if (c.bits != 0) {
      EXPECT_EQ(v.toInt64(), c.bits) << c.name;
    }
  }
  EXPECT_EQ(argv.get("d", Value(0.0)).toDouble(), 1000.0);
  EXPECT_TRUE(argv.exist("flag"));
  testing::internal::GetCapturedStdout();
  EXPECT_THROW(argv.get("i", Value("x")), cmdline::cmdline_error);
  EXPECT_THROW(argv.add("i", 0, "", false, Value(1)), cmdline::cmdline_error);
  EXPECT_EQ(argv.usage().compare(0, 12, "usage: prog "), 0) << argv.usage();
  bg::Abstract_Argv* made = argv.createArgv();
  EXPECT_EQ(made->usage(), "") << "no options yet";
  argv.destroyArgv(&made);
  EXPECT_EQ(made, nullptr);
}

}  // namespace
