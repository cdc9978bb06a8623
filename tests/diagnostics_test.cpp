// bg::Logger, bg::Func_Tracer, BG_LOG and TraceScope: when they write, where,
// and the line formats people and scripts read.
#include <gtest/gtest.h>
#include <kqbridge/interface.h>
#include <kqbridge/logger.h>
#include <kqbridge/tracer.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "support/test_support.h"

namespace {

using kqtest::readFile;

// Every "YYYY-MM-DD hh:mm:ss" as "<time>". By hand: GCC's optimiser warns
// inside <regex> under the sanitizers, and CI turns warnings into errors.
std::string maskTimes(const std::string& text) {
  const std::string shape = "9999-99-99 99:99:99";
  std::string out;
  for (size_t i = 0; i < text.size();) {
    bool isTime = i + shape.size() <= text.size();
    for (size_t k = 0; isTime && k < shape.size(); ++k) {
      char c = text[i + k];
      isTime = shape[k] == '9' ? c >= '0' && c <= '9' : c == shape[k];
    }
    out += isTime ? "<time>" : text.substr(i, 1);
    i += isTime ? shape.size() : 1;
  }
  return out;
}

const std::string kLogHeader = "------------------------- <time>\n";
const std::string kTraceHeader = "===+===+===+===+===+===+=== <time>\n";

// A central object with nothing but its own logger and tracer, published as
// bg::CD for its life, so that BG_LOG and TraceScope write.
class DiagnosticsHost : public bg::Interface {
 public:
  DiagnosticsHost(const std::string& logPath, const std::string& tracePath) {
    strcpy(m_name, "Admin");
    m_logger = new bg::Logger(logPath.c_str());
    m_tracer = new bg::Func_Tracer(tracePath.c_str());
    bg::CD = this;
  }
  ~DiagnosticsHost() override {
    bg::CD = nullptr;
    delete m_logger;
    delete m_tracer;
  }
  bool init() override { return true; }
  bool initExtend() override { return true; }
  bool uninit() override { return true; }
  bg::Value process(const char*, BridgeMsg) override { return bg::Value(); }
};

TEST(Logger, OpensLazilyFiltersByLevelAndEachOpeningAddsAHeader) {
  kqtest::TempDir dir;
  const std::string path = dir.file("app.log");
  {
    bg::Logger logger(path.c_str());
    logger.log(7, "hidden\n");
    EXPECT_FALSE(kqtest::fileExists(path)) << "nothing is opened before the first line that passes";
    logger.log(6, "six\n");
    logger.setLevel(2);
    logger.log(bg::LOG_DEBUG, "hidden\n");
    logger.log(2, "one %d\n", 1);
    logger.setLevel(0);
    EXPECT_EQ(logger.getStream(), nullptr) << "level 0 closes the file";
    logger.log(0, "silenced\n");
    logger.setLevel(3);
    logger.log(3, "two\n");
    logger.close();
    logger.log(1, "after close\n");
    logger.setLevel(6);
    logger.setStream(stderr);
    logger.setStream(nullptr);
    logger.log(2, "three\n");
  }
  EXPECT_EQ(maskTimes(readFile(path)),
            kLogHeader + "six\none 1\n" + kLogHeader + "two\n" + kLogHeader + "three\n\n");
}

// The tracer falls back the same way.
TEST(Logger, FallsBackToStderrAndLeavesABorrowedStreamOpen) {
  kqtest::TempDir dir;
  kqtest::ChildResult run = kqtest::runChild([&] {
    bg::Logger broken(dir.file("missing/dir/x.log").c_str());
    broken.log(2, "to stderr\n");
    CHILD_CHECK(broken.getStream() == stderr);
    bg::Func_Tracer(dir.file("missing/dir/x.tcr").c_str()).enter("traced", 7, nullptr);
    bg::Abstract_Logger* logger = broken.createLogger(dir.file("unused.log").c_str());
    logger->setStream(stderr);
    logger->setStream(stdout);
    logger->log(2, "line\n");
    broken.destroyLogger(&logger);
    CHILD_CHECK(logger == nullptr);
    printf("still open\n");
    fprintf(stderr, "still open\n");
    return 0;
  });
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* line : {"to stderr\n", "|__traced [7] \n", "still open\n"})
    EXPECT_TRUE(kqtest::contains(run.err, line)) << line;
  EXPECT_EQ(run.out, "line\n\nstill open\n");
  EXPECT_FALSE(kqtest::fileExists(dir.file("unused.log")));
}

int g_evaluated = 0;
int countEvaluation() {
  return ++g_evaluated;
}

int g_line = 0;
void shortName() {
  g_line = __LINE__ + 1;
  BG_LOG(ERROR, "value=%d text=%s", 42, "x");
}
int g_longLine = 0;
// clang-format off
void aFunctionNameLongerThanTwenty() { g_longLine = __LINE__; BG_LOG(DEBUG, "long"); }
// clang-format on

// The central log line is parsed by people and scripts: tag, time, line number in four
// columns, function name in twenty, the quoted message. With no logger nothing is evaluated.
TEST(BgLog, LineFormatAndNothingEvaluatedWithoutALogger) {
  ASSERT_EQ(bg::CD, nullptr);
  BG_LOG(ERROR, "%d", countEvaluation());
  kqtest::TempDir dir;
  const std::string path = dir.file("central.log");
  {
    DiagnosticsHost host(path, dir.file("central.tcr"));
    shortName();
    aFunctionNameLongerThanTwenty();
    host.m_logger->setLevel(bg::LOG_ERROR);
    aFunctionNameLongerThanTwenty();
    delete host.m_logger;
    host.m_logger = nullptr;
    BG_LOG(DEBUG, "%d", countEvaluation());
  }
  EXPECT_EQ(g_evaluated, 0);
  char expected[512];
  snprintf(expected, sizeof(expected),
           "%s[ERROR] <time> | %-4d shortName           :  \"value=42 text=x\"\n"
           "[DEBUG] <time> | %-4d aFunctionNameLongerThanTwenty:  \"long\"\n\n",
           kLogHeader.c_str(), g_line, g_longLine);
  EXPECT_EQ(maskTimes(readFile(path)), expected);
}

// The trace tree is read by people: one indentation step per level, the
// leave line under its enter line. The tracer closes the file it opened.
TEST(FuncTracer, TreeFormat) {
  kqtest::TempDir dir;
  const std::string path = dir.file("a.tcr");
  const size_t handles = kqtest::openHandles();
  {
    bg::Func_Tracer tracer(path.c_str());
    tracer.enter("outer", 1, nullptr);
    tracer.enter("middle", 2, "note");
    tracer.enter("inner", 3, "");
    tracer.leave(3);
    tracer.leave(2);
    tracer.leave(1);
  }
  EXPECT_EQ(kqtest::openHandles(), handles);
  EXPECT_EQ(maskTimes(readFile(path)), kTraceHeader +
                                           "|__outer [1] \n"
                                           "|   |__middle [2] note\n"
                                           "|   |   |__inner [3] \n"
                                           "|   |   |__@ [3]\n"
                                           "|   |__@ [2]\n"
                                           "|__@ [1]\n\n");
}

void throwingScope(int* line) {
  *line = __LINE__ + 1;
  bg::TraceScope scope(__func__, __LINE__);
  throw std::runtime_error("leaves the scope");
}

TEST(TraceScope, LeavesAlsoOnExceptions) {
  { bg::TraceScope withoutCentralObject("nobody", 1); }
  kqtest::TempDir dir;
  const std::string path = dir.file("scope.tcr");
  int line = 0;
  {
    DiagnosticsHost host(dir.file("scope.log"), path);
    EXPECT_THROW(throwingScope(&line), std::runtime_error);
  }
  const std::string l = std::to_string(line);
  EXPECT_EQ(maskTimes(readFile(path)), kTraceHeader + "|__throwingScope [" + l + "] \n|__@ [" + l + "]\n\n");
}

}  // namespace
