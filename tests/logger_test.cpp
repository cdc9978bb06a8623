// bg::Logger: the file it keeps, its levels and streams, and the BG_LOG line.
#include <gtest/gtest.h>
#include <kqbridge/logger.h>

#include <string>

#include "diagnostics_host.h"
#include "support/test_support.h"

namespace {

using kqtest::maskTimes;
using kqtest::readFile;

const char kHeader[] = "------------------------- <time>\n";

TEST(Logger, EachOpeningAppendsAHeaderAndTheLinesInOrder) {
  kqtest::TempDir dir;
  const std::string path = dir.file("app.log");
  {
    bg::Logger logger(path.c_str());
    EXPECT_FALSE(kqtest::fileExists(path)) << "nothing is opened before the first line";
    logger.log(2, "one\n");
    logger.log(6, "two %d %s\n", 2, "b");
  }
  {
    bg::Logger logger(path.c_str());
    logger.log(bg::LOG_ERROR, "three\n");
  }
  EXPECT_EQ(maskTimes(readFile(path)), std::string(kHeader) + "one\ntwo 2 b\n\n" + kHeader + "three\n\n");
}

TEST(Logger, LevelsFilterAndLevelZeroClosesTheFile) {
  kqtest::TempDir dir;
  const std::string path = dir.file("level.log");
  bg::Logger logger(path.c_str());
  EXPECT_EQ(logger.getLevel(), 6);
  logger.setLevel(2);
  logger.log(bg::LOG_DEBUG, "hidden\n");
  EXPECT_FALSE(kqtest::fileExists(path)) << "a rejected line opens nothing";

  logger.log(2, "first\n");
  ASSERT_NE(logger.getStream(), nullptr);
  logger.setLevel(0);
  EXPECT_EQ(logger.getStream(), nullptr);
  logger.log(1, "silenced\n");
  logger.log(0, "silenced too\n");
  EXPECT_EQ(maskTimes(readFile(path)), std::string(kHeader) + "first\n");

  logger.setLevel(2);
  logger.log(2, "second\n");
  EXPECT_EQ(maskTimes(readFile(path)), std::string(kHeader) + "first\n" + kHeader + "second\n");
}

TEST(Logger, CloseSilencesAndAHigherLevelReopens) {
  kqtest::TempDir dir;
  const std::string path = dir.file("close.log");
  bg::Logger logger(path.c_str());
  logger.log(1, "a\n");
  logger.close();
  EXPECT_EQ(logger.getLevel(), 0);
  logger.log(1, "b\n");
  logger.setLevel(3);
  logger.log(3, "c\n");
  EXPECT_EQ(maskTimes(readFile(path)), std::string(kHeader) + "a\n" + kHeader + "c\n");
}

TEST(Logger, FallsBackToStandardErrorWhenTheFileCannotBeOpened) {
  kqtest::TempDir dir;
  const std::string path = dir.file("missing/dir/x.log");
  std::string err;
  int rc = kqtest::runInChild(
      [&] {
        bg::Logger logger(path.c_str());
        logger.log(2, "to stderr %d\n", 1);
        return logger.getStream() == stderr ? 0 : 1;
      },
      nullptr, &err);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(maskTimes(err), std::string(kHeader) + "to stderr 1\n\n");
  EXPECT_FALSE(kqtest::fileExists(path));
}

TEST(Logger, BorrowedStreamGetsTheLastLineAndStaysOpen) {
  kqtest::TempDir dir;
  std::string out;
  int rc = kqtest::runInChild(
      [&] {
        auto* logger = new bg::Logger(dir.file("unused.log").c_str());
        if (logger->setStream(stdout) != stdout) return 1;
        logger->log(2, "line\n");
        delete logger;
        printf("still open\n");
        return 0;
      },
      &out);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out, "line\n\nstill open\n");
  EXPECT_FALSE(kqtest::fileExists(dir.file("unused.log")));
}

TEST(Logger, SetStreamNullReopensTheFileOnTheNextLine) {
  kqtest::TempDir dir;
  const std::string path = dir.file("reopen.log");
  bg::Logger logger(path.c_str());
  logger.log(2, "a\n");
  FILE* sink = tmpfile();
  ASSERT_NE(sink, nullptr);
  logger.setStream(sink);
  logger.log(2, "b\n");
  logger.setStream(nullptr);
  logger.log(2, "c\n");
  EXPECT_EQ(maskTimes(readFile(path)), std::string(kHeader) + "a\n" + kHeader + "c\n");
  fclose(sink);
}

TEST(Logger, PathDirectoryAndFactoryPair) {
  bg::Logger logger("C:\\logs/sub\\Admin2026-01-01.log");
  EXPECT_EQ(logger.getPath(), "C:\\logs/sub\\Admin2026-01-01.log");
  EXPECT_EQ(logger.getDir(), "C:\\logs/sub\\");
  EXPECT_EQ(bg::Logger("plain.log").getDir(), "");

  kqtest::TempDir dir;
  bg::Abstract_Logger* made = logger.createLogger(dir.file("made.log").c_str());
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->getLevel(), 6);
  EXPECT_EQ(made->getPath(), dir.file("made.log"));
  made->log(6, "x\n");
  logger.destroyLogger(&made);
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(maskTimes(readFile(dir.file("made.log"))), std::string(kHeader) + "x\n\n");
  logger.destroyLogger(&made);
  logger.destroyLogger(nullptr);
}

int g_evaluated = 0;
int countEvaluation() {
  return ++g_evaluated;
}

TEST(BgLog, EvaluatesNothingWithoutCentralObjectOrLogger) {
  ASSERT_EQ(bg::CD, nullptr);
  BG_LOG(ERROR, "%d", countEvaluation());
  EXPECT_EQ(g_evaluated, 0);

  kqtest::TempDir dir;
  kqtest::DiagnosticsHost host(dir.file("h.log"), dir.file("h.tcr"));
  delete host.m_logger;
  host.m_logger = nullptr;
  BG_LOG(DEBUG, "%d", countEvaluation());
  EXPECT_EQ(g_evaluated, 0);
}

void shortName(int line[2]) {
  line[0] = __LINE__ + 1;
  BG_LOG(ERROR, "value=%d text=%s", 42, "x");
  line[1] = __LINE__ + 1;
  BG_LOG(DEBUG, "debug %s", "only at 5");
}

int g_longLine = 0;
// clang-format off
void aFunctionNameLongerThanTwenty() { g_longLine = __LINE__; BG_LOG(ERROR, "long"); }
// clang-format on

TEST(BgLog, LinesCarryTagTimeLineAndPaddedFunctionName) {
  kqtest::TempDir dir;
  const std::string path = dir.file("central.log");
  int lines[2];
  {
    kqtest::DiagnosticsHost host(path, dir.file("central.tcr"));
    shortName(lines);
    host.m_logger->setLevel(bg::LOG_ERROR);
    shortName(lines);
    aFunctionNameLongerThanTwenty();
  }
  char expected[512];
  snprintf(expected, sizeof(expected),
           "%s"
           "[ERROR] <time> | %-4d shortName           :  \"value=42 text=x\"\n"
           "[DEBUG] <time> | %-4d shortName           :  \"debug only at 5\"\n"
           "[ERROR] <time> | %-4d shortName           :  \"value=42 text=x\"\n"
           "[ERROR] <time> | %-4d aFunctionNameLongerThanTwenty:  \"long\"\n"
           "\n",
           kHeader, lines[0], lines[1], lines[0], g_longLine);
  EXPECT_EQ(maskTimes(readFile(path)), expected);
}

}  // namespace
