// Helpers shared by the test programs.
#ifndef KQBRIDGE_TESTS_SUPPORT_TEST_SUPPORT_H_
#define KQBRIDGE_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <cstdio>
#include <functional>
#include <string>

namespace kqtest {

// A fresh directory under the system temporary directory, removed with all
// its contents when the object goes away. With `pointEnvironment`, TMPDIR,
// TMP, TEMP, HOMEPATH and APPDATA point into it for the object's life.
class TempDir {
 public:
  explicit TempDir(bool pointEnvironment = false);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return m_path; }
  // path() + "/" + name
  std::string file(const std::string& name) const;

 private:
  std::string m_path;
  bool m_pointed;
  bool m_adopted;
  std::string m_saved[5];
  bool m_had[5];
};

// How a child started by runInChild finds the directories its parent made:
// the next of the parent's temporary directories, or empty when this
// process made no such promise (then TempDir makes a fresh one and notes it).
std::string adoptParentDir();
void noteTempDir(const std::string& path);

// A name no other test process uses at the same time (pid, counter, time).
std::string uniqueName(const std::string& prefix);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);

// Runs `body` in a child process and returns its exit status (the child ends
// with exit(body()) unless body ends the process itself); -1 when it was
// killed by a signal or could not be started. On POSIX the child is a fork;
// on Windows it is this program run again on the current test, which it
// replays up to this call (see child_win.cpp). Output of the child is
// captured into `out`/`err` when given.
int runInChild(const std::function<int()>& body, std::string* out = nullptr, std::string* err = nullptr);

inline bool contains(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

}  // namespace kqtest

// Inside a runInChild body: report the failed condition on stderr and end the
// child with status 99.
#define CHILD_CHECK(cond)                                                      \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "child check failed at line %d: %s\n", __LINE__, #cond); \
      return 99;                                                               \
    }                                                                          \
  } while (0)

#endif  // KQBRIDGE_TESTS_SUPPORT_TEST_SUPPORT_H_
