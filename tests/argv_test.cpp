// bg::Argv and the cmdline parser: grammar, typing, error texts and usage.
#include <gtest/gtest.h>
#include <kqbridge/argv.h>

#include <string>
#include <vector>

#include "app/cmdline.h"

namespace {

using bg::Value;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using Texts = std::vector<std::string>;

// parse() over a list of words; the first is the program name.
struct Line {
  explicit Line(std::vector<std::string> words) : m_words(std::move(words)) {
    for (auto& w : m_words) m_argv.push_back(&w[0]);
  }
  int argc() const { return static_cast<int>(m_words.size()); }
  char** argv() { return m_argv.data(); }

  std::vector<std::string> m_words;
  std::vector<char*> m_argv;
};

bool parse(cmdline::parser& p, std::vector<std::string> words) {
  Line line(std::move(words));
  return p.parse(line.argc(), line.argv());
}

bool parse(bg::Argv& a, std::vector<std::string> words) {
  Line line(std::move(words));
  return a.parse(line.argc(), line.argv());
}

TEST(CmdlineParse, LongShortAndGroupedFormsGiveTheValue) {
  for (const auto& words : std::vector<Texts>{{"prog", "--port=81"},
                                              {"prog", "--port", "81"},
                                              {"prog", "-p", "81"},
                                              {"prog", "-vp", "81"},
                                              {"prog", "--port=1", "--port", "81"}}) {
    cmdline::parser p;
    p.add<int>("port", 'p', "port number", false, 80);
    p.add("verbose", 'v', "talk more");
    EXPECT_TRUE(parse(p, words)) << words[1];
    EXPECT_EQ(p.get<int>("port"), 81);
    EXPECT_TRUE(p.exist("port"));
    EXPECT_EQ(p.exist("verbose"), words[1] == "-vp");
  }
}

TEST(CmdlineParse, ValuesMustUseTheWholeText) {
  struct Case {
    std::string arg;
    bool ok;
  };
  for (const Case& c : std::vector<Case>{{"--port=8x", false},
                                         {"--port=", false},
                                         {"--port= 81", true},
                                         {"--port=81 ", false},
                                         {"--port=99999999999", false},
                                         {"--port=-3", true}}) {
    cmdline::parser p;
    p.add<int>("port", 'p', "port number", false, 80);
    EXPECT_EQ(parse(p, {"prog", c.arg}), c.ok) << c.arg;
    if (!c.ok) {
      EXPECT_EQ(p.errors(), Texts{"option value is invalid: " + c.arg}) << c.arg;
    }
    EXPECT_EQ(p.get<int>("port"), c.ok ? std::stoi(c.arg.substr(7)) : 80);
  }

  cmdline::parser p;
  p.add<bool>("debug", 'd', "debug mode", false, false);
  p.add<double>("ratio", 'r', "ratio", false, 0.5);
  p.add<unsigned int>("count", 'c', "count", false, 1u);
  p.add<long long>("big", 'b', "big", false, 1LL);
  p.add<std::string>("name", 'n', "name", false, "x");
  EXPECT_TRUE(
      parse(p, {"prog", "--debug=1", "--ratio=2.5e1", "--count=7", "--big=12345678901", "--name= a b "}));
  EXPECT_TRUE(p.get<bool>("debug"));
  EXPECT_EQ(p.get<double>("ratio"), 25.0);
  EXPECT_EQ(p.get<unsigned int>("count"), 7u);
  EXPECT_EQ(p.get<long long>("big"), 12345678901LL);
  EXPECT_EQ(p.get<std::string>("name"), " a b ");
  EXPECT_FALSE(parse(p, {"prog", "--debug=true", "--ratio=x", "--debug=2"}));
  EXPECT_EQ(p.errors(), (Texts{"option value is invalid: --debug=true", "option value is invalid: --ratio=x",
                               "option value is invalid: --debug=2"}));
}

TEST(CmdlineParse, EveryMistakeIsRecordedAndTheScanGoesOn) {
  cmdline::parser p;
  p.add<int>("port", 'p', "port number", false, 80);
  p.add("verbose", 'v', "talk more");
  p.add<std::string>("host", 'h', "host name", true, "");
  p.add<int>("aneed", 0, "needed too", true, 1);
  EXPECT_FALSE(parse(p, {"prog", "--nope", "--nope=1", "-x", "-pv", "--verbose=1", "file1", "-", "--port=1",
                         "-vz", "file2", "--port"}));
  EXPECT_EQ(p.errors(), (Texts{"undefined option: --nope", "undefined option: --nope",
                               "undefined short option: -x", "option needs value: --port",
                               "option value is invalid: --verbose=1", "undefined short option: -z",
                               "option needs value: --port", "need option: --aneed", "need option: --host"}));
  EXPECT_EQ(p.rest(), (Texts{"file1", "file2"}));
  EXPECT_TRUE(p.exist("verbose"));

  EXPECT_FALSE(parse(p, {"prog", "--host", "--port=3"}))
      << "the next argument is the value, whatever it looks like";
  EXPECT_EQ(p.get<std::string>("host"), "--port=3");
  EXPECT_EQ(p.errors(), Texts{"need option: --aneed"});
  EXPECT_TRUE(p.rest().empty());
  EXPECT_TRUE(parse(p, {"prog", "--aneed", "2", "rest"}));
  EXPECT_TRUE(p.exist("host")) << "what an earlier parse gave stays given";
  EXPECT_EQ(p.rest(), Texts{"rest"});
}

TEST(CmdlineParse, ArgumentCountAndAmbiguousShortLetters) {
  cmdline::parser p;
  p.add<int>("port", 'p', "port number", false, 80);
  EXPECT_FALSE(p.parse(0, nullptr));
  EXPECT_EQ(p.errors(), Texts{"argument number must be longer than 0"});

  p.add<int>("page", 'p', "page", false, 1);
  EXPECT_FALSE(parse(p, {"prog", "--port=81", "--nope"}));
  EXPECT_EQ(p.errors(), Texts{"short option 'p' is ambiguous"});
  EXPECT_FALSE(p.exist("port")) << "nothing is read when a short letter is ambiguous";
}

TEST(CmdlineParse, DeclarationsAndReadsOfTheWrongType) {
  cmdline::parser p;
  p.add<int>("port", 'p', "port number", false, 80);
  try {
    p.add("port", 'x', "again");
    FAIL() << "no exception";
  } catch (const cmdline::cmdline_error& e) {
    EXPECT_STREQ(e.what(), "multiple definition: port");
  }
  try {
    p.get<std::string>("port");
    FAIL() << "no exception";
  } catch (const cmdline::cmdline_error& e) {
    EXPECT_STREQ(e.what(), "type mismatch flag 'port'");
  }
}

TEST(CmdlineUsage, RequiredSummaryAndAlignedDescriptions) {
  cmdline::parser p;
  p.add<std::string>("host", 'h', "host name", true, "");
  p.add<int>("port", 'p', "port number", false, 80);
  p.add("verbose", 0, "talk more");
  p.add<double>("ratio", 0, "ratio", false, 1.0 / 3);
  p.add<bool>("debug", 'd', "debug", false, true);
  p.add<long long>("big", 0, "big", true, 5LL);
  EXPECT_EQ(p.usage(),
            "usage:  --host=string --big=long long [options] ... \n"
            "options:\n"
            "  -h, --host       host name (string)\n"
            "  -p, --port       port number (int [=80])\n"
            "      --verbose    talk more\n"
            "      --ratio      ratio (double [=0.333333])\n"
            "  -d, --debug      debug (bool [=1])\n"
            "      --big        big (long long)\n");
  parse(p, {"/usr/bin/tool", "--host=h", "--big=1"});
  EXPECT_EQ(p.usage().substr(0, 24), "usage: /usr/bin/tool --h");
}

TEST(Argv, AddsOptionsTypedByTheDefaultsKind) {
  bg::Argv argv;
  argv.add("i", 'i', "", false, Value(1));
  argv.add("u", 'u', "", false, Value(2u));
  argv.add("f", 'f', "", false, Value(1.5f));
  argv.add("d", 'd', "", false, Value(2.5));
  argv.add("l", 'l', "", false, Value(3LL));
  argv.add("s", 's', "", false, Value("def"));
  argv.add("b", 'b', "", false, Value(false));
  CaptureStdout();
  argv.add("flag", 'F', "a flag", false, Value());
  EXPECT_EQ(GetCapturedStdout(), "** Argv add: unknow type 'flag'\n");
  EXPECT_EQ(argv.usage(),
            "usage:  [options] ... \n"
            "options:\n"
            "  -i, --i        (int [=1])\n"
            "  -u, --u        (unsigned int [=2])\n"
            "  -f, --f        (float [=1.5])\n"
            "  -d, --d        (double [=2.5])\n"
            "  -l, --l        (long long [=3])\n"
            "  -s, --s        (string [=def])\n"
            "  -b, --b        (bool [=0])\n"
            "  -F, --flag    a flag\n");
  EXPECT_TRUE(parse(argv, {"p", "-i", "-4", "-u", "5", "-f", "0.25", "-d", "1e3", "-l", "-9", "-s", "text",
                           "-b", "1", "-F"}));
  Value i = argv.get("i", Value(0));
  EXPECT_EQ(i.type(), Value::VT_INT);
  EXPECT_EQ(i.toInt(), -4);
  EXPECT_EQ(argv.get("u", Value(0u)).toUInt(), 5u);
  EXPECT_EQ(argv.get("f", Value(0.0f)).toFloat(), 0.25f);
  EXPECT_EQ(argv.get("d", Value(0.0)).toDouble(), 1000.0);
  EXPECT_EQ(argv.get("l", Value(0LL)).toInt64(), -9);
  Value s = argv.get("s", Value(""));
  EXPECT_EQ(s.type(), Value::VT_STR);
  EXPECT_EQ(s.toStdString(), "text");
  Value b = argv.get("b", Value(false));
  EXPECT_EQ(b.type(), Value::VT_BOOL);
  EXPECT_TRUE(b.toBool());
  EXPECT_TRUE(argv.exist("flag"));
  EXPECT_FALSE(argv.exist("F"));
  EXPECT_THROW(argv.get("i", Value("x")), cmdline::cmdline_error);
  EXPECT_THROW(argv.add("i", 0, "", false, Value(1)), cmdline::cmdline_error);
}

TEST(Argv, MessagesOnStandardOutput) {
  bg::Argv argv;
  CaptureStdout();
  Value none = argv.get("port", Value(7));
  EXPECT_EQ(GetCapturedStdout(), "** Have not add 'argv'; Argv get: 'port' not exist. \n");
  EXPECT_EQ(none.toInt(), 7);
  EXPECT_FALSE(argv.exist("port"));
  EXPECT_EQ(argv.usage(), "");
  EXPECT_FALSE(parse(argv, {"prog"}));

  argv.add("port", 'p', "port number", false, Value(80));
  argv.add("name", 'n', "name", false, Value("n"));
  EXPECT_TRUE(parse(argv, {"prog", "-n", "x"}));
  CaptureStdout();
  Value notGiven = argv.get("port", Value(9));
  Value unknown = argv.get("nope", Value(10));
  Value oddKind = argv.get("name", Value(static_cast<void*>(nullptr)));
  EXPECT_EQ(GetCapturedStdout(),
            "** Argv get: 'port' not exist. \n"
            "** Argv get: 'nope' not exist. \n"
            "** Argv get: 'name' exist!  but not type: string,bool,int,uint,int64,float,double\n");
  EXPECT_EQ(notGiven.toInt(), 9) << "the caller's default, not the declared one";
  EXPECT_EQ(unknown.toInt(), 10);
  EXPECT_EQ(oddKind.type(), Value::VT_VOID);
  EXPECT_FALSE(parse(argv, {}));
}

TEST(Argv, RequiredOptionsAndFactoryPair) {
  bg::Argv argv;
  bg::Abstract_Argv* made = argv.createArgv();
  made->add("must", 'm', "needed", true, Value(1));
  EXPECT_FALSE(parse(*static_cast<bg::Argv*>(made), {"prog", "rest"}));
  EXPECT_TRUE(parse(*static_cast<bg::Argv*>(made), {"prog", "-m", "2"}));
  EXPECT_EQ(made->get("must", Value(0)).toInt(), 2);
  EXPECT_FALSE(argv.exist("must"));
  argv.destroyArgv(&made);
  EXPECT_EQ(made, nullptr);
}

}  // namespace
