// A host that uses nothing but these services reproduces the lines they are
// documented to print: the central log line, the shutdown trace, the App block,
// the usage line of a port option and the data dump line.
#include <gtest/gtest.h>
#include <kqbridge/app.h>
#include <kqbridge/argv.h>
#include <kqbridge/data.h>

#include <regex>
#include <string>

#include "diagnostics_host.h"
#include "support/test_support.h"

namespace {

using bg::Value;
using kqtest::maskTimes;
using kqtest::readFile;

// A line number as the log shows it: left-aligned in four columns.
std::string padded(int line) {
  std::string text = std::to_string(line);
  return text + std::string(text.size() < 4 ? 4 - text.size() : 0, ' ');
}

int g_uninitLine = 0;
int g_abortLine = 0;

void abortThreadAndChannel() {
  g_abortLine = __LINE__ + 1;
  bg::TraceScope scope(__func__, __LINE__);
  void* inst = nullptr;
  BG_LOG(DEBUG, "set aborting cmps: key=%s, inst=%p", "Admin", inst);
#line 490
  BG_LOG(ERROR, "set all abort success");
}

#line 100
void uninit() {
  g_uninitLine = __LINE__ + 1;
  bg::TraceScope scope(__func__, __LINE__);
  abortThreadAndChannel();
}

TEST(Examples, ShutdownLogAndTrace) {
  kqtest::TempDir dir;
  const std::string log = dir.file("Admin.log");
  const std::string trace = dir.file("Admin.tcr");
  {
    kqtest::DiagnosticsHost host(log, trace);
    uninit();
  }
  const std::string logText = readFile(log);
  EXPECT_TRUE(std::regex_search(
      logText, std::regex("\n\\[ERROR\\] [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} \\| 490  "
                          "abortThreadAndChannel:  \"set all abort success\"\n")))
      << logText;
  EXPECT_EQ(maskTimes(logText),
            "------------------------- <time>\n"
            "[DEBUG] <time> | " +
                padded(g_abortLine + 2) +
                " abortThreadAndChannel:  \"set aborting cmps: key=Admin, inst=(nil)\"\n"
                "[ERROR] <time> | 490  abortThreadAndChannel:  \"set all abort success\"\n"
                "\n");
  const std::string L1 = std::to_string(g_uninitLine);
  const std::string L2 = std::to_string(g_abortLine);
  EXPECT_EQ(maskTimes(readFile(trace)),
            "===+===+===+===+===+===+=== <time>\n"
            "|__uninit [" +
                L1 +
                "] \n"
                "|   |__abortThreadAndChannel [" +
                L2 +
                "] \n"
                "|   |__@ [" +
                L2 +
                "]\n"
                "|__@ [" +
                L1 +
                "]\n"
                "\n");
}

TEST(Examples, FreshAppBlockAndDataDumpLine) {
  bg::setExecutablePath("C:/x/tool.exe");
  bg::App app;
  FILE* f = tmpfile();
  app.show(f);
  rewind(f);
  char buf[1024] = {};
  const std::string block(buf, fread(buf, 1, sizeof(buf) - 1, f));
  fclose(f);
  EXPECT_EQ(block,
            "------------ [App] ------------\n"
            ">> app_name      = tool\n"
            ">> app_dir       = C:/x/\n"
            ">> app_filepath  = C:/x/tool.exe\n"
            ">> version       = \n"
            ">> organization  = \n"
            ">> release_time  = \n"
            ">> describe      = \n"
            "\n[Data] debug >>\n\n"
            "-------------------------------\n\n");

  bg::Data data;
  data.setData("n", Value(5), false);
  testing::internal::CaptureStdout();
  data.debug(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n[Data] debug >>\nn  -->  [i]5\n\n");
}

TEST(Examples, UsageLineOfThePortOption) {
  bg::Argv argv;
  argv.add("port", 'p', "port number", false, Value(80));
  EXPECT_EQ(argv.usage(), "usage:  [options] ... \noptions:\n  -p, --port    port number (int [=80])\n");
}

}  // namespace
