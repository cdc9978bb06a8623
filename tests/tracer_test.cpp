// bg::Func_Tracer and bg::TraceScope: the indented call tree they write.
#include <gtest/gtest.h>
#include <kqbridge/tracer.h>

#include <stdexcept>
#include <string>

#include "diagnostics_host.h"
#include "support/test_support.h"

namespace {

using kqtest::maskTimes;
using kqtest::readFile;

const char kHeader[] = "===+===+===+===+===+===+=== <time>\n";

TEST(FuncTracer, NestedEntriesIndentAndExitsLineUp) {
  kqtest::TempDir dir;
  const std::string path = dir.file("a.tcr");
  {
    bg::Func_Tracer tracer(path.c_str());
    EXPECT_STREQ(tracer.getPath(), path.c_str());
    tracer.enter("outer", 1, nullptr);
    tracer.enter("middle", 2, "note");
    tracer.enter("inner", 3, "");
    tracer.leave(3);
    tracer.leave(2);
    tracer.leave(1);
  }
  EXPECT_EQ(maskTimes(readFile(path)), std::string(kHeader) +
                                           "|__outer [1] \n"
                                           "|   |__middle [2] note\n"
                                           "|   |   |__inner [3] \n"
                                           "|   |   |__@ [3]\n"
                                           "|   |__@ [2]\n"
                                           "|__@ [1]\n"
                                           "\n");
}

TEST(FuncTracer, ReopeningAppendsAFreshHeader) {
  kqtest::TempDir dir;
  const std::string path = dir.file("b.tcr");
  for (int round = 0; round < 2; ++round) {
    bg::Func_Tracer tracer(path.c_str());
    tracer.enter("f", 10, "x");
    tracer.leave(10);
  }
  const std::string once = std::string(kHeader) + "|__f [10] x\n|__@ [10]\n\n";
  EXPECT_EQ(maskTimes(readFile(path)), once + once);
}

TEST(FuncTracer, DisabledOrNotYetEnteredWritesNothing) {
  kqtest::TempDir dir;
  const std::string path = dir.file("c.tcr");
  {
    bg::Func_Tracer tracer(path.c_str());
    tracer.leave(5);
    EXPECT_FALSE(tracer.setEnabled(false));
    tracer.enter("f", 1, nullptr);
    tracer.leave(1);
  }
  EXPECT_FALSE(kqtest::fileExists(path));

  {
    bg::Func_Tracer tracer(path.c_str());
    EXPECT_TRUE(tracer.setEnabled(true));
    tracer.enter("a", 1, nullptr);
    tracer.setEnabled(false);
    tracer.enter("ignored", 2, nullptr);
    tracer.leave(1);
    tracer.setEnabled(true);
    tracer.enter("b", 3, nullptr);
    tracer.leave(3);
    tracer.leave(1);
  }
  EXPECT_EQ(maskTimes(readFile(path)),
            std::string(kHeader) + "|__a [1] \n|   |__b [3] \n|   |__@ [3]\n|__@ [1]\n\n");
}

TEST(FuncTracer, SetStreamNullReopensTheFileWhichTheDestructorCloses) {
  kqtest::TempDir dir;
  const std::string path = dir.file("d.tcr");
  FILE* sink = tmpfile();
  ASSERT_NE(sink, nullptr);
  {
    bg::Func_Tracer tracer(path.c_str());
    tracer.enter("first", 1, nullptr);
    EXPECT_EQ(tracer.setStream(sink), sink);
    tracer.enter("borrowed", 2, nullptr);
    tracer.leave(2);
    EXPECT_EQ(tracer.setStream(nullptr), nullptr);
    tracer.enter("again", 3, nullptr);
    tracer.leave(3);
  }
  EXPECT_EQ(maskTimes(readFile(path)),
            std::string(kHeader) + "|__first [1] \n" + kHeader + "|   |__again [3] \n|   |__@ [3]\n\n");
  rewind(sink);
  char buf[128] = {};
  EXPECT_EQ(fread(buf, 1, sizeof(buf) - 1, sink), 34u) << "the borrowed stream stays open";
  EXPECT_EQ(std::string(buf), "|   |__borrowed [2] \n|   |__@ [2]\n");
  fclose(sink);
}

TEST(FuncTracer, FallsBackToStandardError) {
  kqtest::TempDir dir;
  std::string err;
  int rc = kqtest::runInChild(
      [&] {
        bg::Func_Tracer tracer(dir.file("no/such/dir.tcr").c_str());
        tracer.enter("f", 7, nullptr);
        tracer.leave(7);
        return 0;
      },
      nullptr, &err);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(maskTimes(err), std::string(kHeader) + "|__f [7] \n|__@ [7]\n\n");
}

void throwingScope(int* line) {
  *line = __LINE__ + 1;
  bg::TraceScope scope(__func__, __LINE__);
  throw std::runtime_error("leaves the scope");
}

TEST(TraceScope, TracesThroughTheCentralTracerAlsoOnExceptions) {
  { bg::TraceScope withoutCentralObject("nobody", 1); }
  kqtest::TempDir dir;
  const std::string path = dir.file("scope.tcr");
  int line = 0;
  {
    kqtest::DiagnosticsHost host(dir.file("scope.log"), path);
    EXPECT_THROW(throwingScope(&line), std::runtime_error);
  }
  EXPECT_EQ(maskTimes(readFile(path)), std::string(kHeader) + "|__throwingScope [" + std::to_string(line) +
                                           "] \n|__@ [" + std::to_string(line) + "]\n\n");
}

}  // namespace
