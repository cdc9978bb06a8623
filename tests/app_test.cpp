// bg::App: names from the executable path, the texts, the plain store and show().
#include <gtest/gtest.h>
#include <kqbridge/app.h>

#include <string>

namespace {

using bg::Value;

std::string shown(bg::App& app) {
  FILE* f = tmpfile();
  app.show(f);
  rewind(f);
  std::string text;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, n);
  fclose(f);
  return text;
}

TEST(App, NamesComeFromTheExecutablePath) {
  bg::setExecutablePath("C:/x/tool.exe");
  bg::App app;
  EXPECT_STREQ(app.getAppName(), "tool");
  EXPECT_STREQ(app.getAppDir(), "C:/x/");
  EXPECT_STREQ(app.getAppFilePath(), "C:/x/tool.exe");
  bg::setExecutablePath("plain");
  EXPECT_STREQ(app.getAppName(), "plain");
  EXPECT_STRNE(app.getAppDir(), "") << "the directory of the file that runs";
}

TEST(App, TextsAreCopies) {
  bg::App app;
  std::string text = "1.2.3";
  app.setVersion(text.c_str());
  app.setReleaseTime("2026-01-02");
  app.setOrganization("org");
  app.setDescribe("what it does");
  text[0] = '9';
  EXPECT_STREQ(app.getVersion(), "1.2.3");
  EXPECT_STREQ(app.getReleaseTime(), "2026-01-02");
  EXPECT_STREQ(app.getOrganization(), "org");
  EXPECT_STREQ(app.getDescribe(), "what it does");
  EXPECT_STRNE(app.getAuthor(), "");
  EXPECT_FALSE(app.isAborting());
}

TEST(App, PlainStoreReplacesAndDefaults) {
  bg::App app;
  EXPECT_EQ(app.getStoreValue("k", Value(3), false).toInt(), 3);
  EXPECT_TRUE(app.setStoreValue("k", Value(1), false));
  EXPECT_TRUE(app.setStoreValue("k", Value("two"), false));
  Value v = app.getStoreValue("k", Value(3), false);
  EXPECT_EQ(v.type(), Value::VT_STR);
  EXPECT_EQ(v.toStdString(), "two");
}

TEST(App, ShowWritesTheBlockWithTheStoreDump) {
  bg::setExecutablePath("/opt/app/host.bin");
  bg::App app;
  app.setVersion("2.0");
  app.setStoreValue("b", Value(true), false);
  app.setStoreValue("a", Value(5), false);
  EXPECT_EQ(shown(app),
            "------------ [App] ------------\n"
            ">> app_name      = host\n"
            ">> app_dir       = /opt/app/\n"
            ">> app_filepath  = /opt/app/host.bin\n"
            ">> version       = 2.0\n"
            ">> organization  = \n"
            ">> release_time  = \n"
            ">> describe      = \n"
            "\n[Data] debug >>\n"
            "a  -->  [i]5\n"
            "b  -->  [b]true\n"
            "\n"
            "-------------------------------\n\n");
}

}  // namespace
