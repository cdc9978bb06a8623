/// \file
/// bg::Utils and the library's routines for time, files, paths, text and environment.
///
/// Paths are UTF-8 (or the system code page); both '/' and '\' separate.
/// Every file-system routine tries the narrow call first and, only when it
/// fails, the wide call on the UTF-8-decoded path. The routines and Utils
/// keep no state of their own and may be called from any thread, save two
/// that change what the whole process shares: listDir moves the working
/// directory while it walks, and the environment setters change the
/// environment; the caller keeps other threads out of those meanwhile.
#ifndef KQBRIDGE_UTILS_H_
#define KQBRIDGE_UTILS_H_

#include <sys/stat.h>
#include <sys/time.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "kqbridge/export.h"

namespace bg {

/// \typedef FileStat
/// The platform's file-status record with a 64-bit size and 64-bit times.
#if defined(_WIN32)
typedef struct ::_stat64 FileStat;
#else
typedef struct ::stat FileStat;
#endif

/// The local time as `fmt` formats it, in a 64-byte buffer of the calling
/// thread's own, valid until that thread calls getTimeStr again.
KQ_EXPORT const char* getTimeStr(const char* fmt);
/// The local time `t` (seconds since 1970) as `fmt` (strftime) formats it; "" when it does not fit 127 bytes.
KQ_EXPORT std::string formatTime(int64_t t, const char* fmt);
/// Wall-clock microseconds since 1970.
KQ_EXPORT int64_t getTimeUs();
KQ_EXPORT bool mkDir(const char* path);  ///< one level; true if it exists already
KQ_EXPORT bool rmDir(const char* path);  ///< true if it did not exist
/// Whether `path` names a directory that can be opened.
KQ_EXPORT bool isDirExist(const char* path);
KQ_EXPORT std::string getTempDir();  ///< TMP, TEMP, TMPDIR, else /tmp/; normalised
///@{
/// Cuts blanks, tabs, CRs and LFs from the start, the end or both ends of `s`
/// in place and returns where the text now starts; the first character is
/// never cut from the end. Null stays null.
KQ_EXPORT char* ltrim(char* s);
KQ_EXPORT char* rtrim(char* s);
KQ_EXPORT char* trim(char* s);
///@}
///@{
/// The same with the characters of `set` instead of blanks.
KQ_EXPORT char* ltrimChars(char* s, const char* set);
KQ_EXPORT char* rtrimChars(char* s, const char* set);
KQ_EXPORT char* trimChars(char* s, const char* set);
///@}
///@{
/// Whether `s` starts (ends) with the affix, optionally ignoring ASCII case;
/// false when either is null.
KQ_EXPORT bool startsWith(const char* s, const char* prefix, bool caseSensitive);
KQ_EXPORT bool endsWith(const char* s, const char* suffix, bool caseSensitive);
///@}
///@{
/// printf into a std::string of the right length; "" for a null format.
KQ_EXPORT std::string format(const char* fmt, ...) KQ_PRINTF_FORMAT(1, 2);
KQ_EXPORT std::string vformat(const char* fmt, va_list ap);
///@}
/// The runs of `s` between characters of `delims`; with `keepEmpty`, an empty
/// token for each extra delimiter between two tokens.
KQ_EXPORT std::vector<std::string> split(const std::string& s, const char* delims, bool keepEmpty);
///@{
/// Maps `s` to lower (upper) case in place and returns it.
KQ_EXPORT char* toLower(char* s);
KQ_EXPORT char* toUpper(char* s);
///@}
/// `len` random letters and digits (not for secrets).
KQ_EXPORT std::string randomString(int len);
/// Walks `dir` and its subdirectories (each directory once, links included),
/// calling `callback(user, name)` for every file with the walk inside the
/// file's directory, and printing the tree on standard output when `print`.
/// 0, or -1 with a line on standard error when `dir` cannot be entered.
KQ_EXPORT int listDir(const char* dir, void (*callback)(void* user, const char* name), void* user,
                      bool print);
/// Every run of '/' and '\' becomes one native separator ('/' on POSIX,
/// '\' on Windows), so the result can go straight to fopen or std::filesystem.
KQ_EXPORT std::string normalizePath(const std::string& path);
/// fopen of `path`; null when it cannot be opened. Files are opened close-on-exec.
KQ_EXPORT FILE* openFile(const char* path, const char* mode);
/// 0 when the file was removed, else -1.
KQ_EXPORT int removeFile(const char* path);
/// The file's size; 0 when it cannot be examined.
KQ_EXPORT int64_t getFileSize(const char* path);
/// The file's status; all zero (with a line on standard error) when it cannot be examined.
KQ_EXPORT FileStat getFileStat(const char* path);
/// The part after the last separator.
KQ_EXPORT std::string getFileName(const char* path);
/// The file name up to its first '.'.
KQ_EXPORT std::string getBaseName(const char* path);
/// The part up to and including the last separator; "" when there is none.
KQ_EXPORT std::string getDirName(const char* path);
/// Opens the folder that holds `path` in the desktop's file manager, without
/// waiting and without complaint when there is none.
KQ_EXPORT void showInExplorer(const char* path);
/// Whether a file `probeName` can be made (and is removed again) in `dir`.
KQ_EXPORT bool isDirWritable(const char* dir, const char* probeName);
/// The wide text of UTF-8 `s`; "" when it cannot be decoded.
KQ_EXPORT std::wstring utf8ToWString(const char* s);
/// The wide text of UTF-8 `s` into `out` (`outLen` characters, terminator included); returns `out`.
KQ_EXPORT wchar_t* utf8ToWide(const char* s, wchar_t* out, int outLen);
/// The system code page's text (UTF-8 here) of `w`.
KQ_EXPORT std::string wideToAnsiString(const wchar_t* w);
/// The same into `out`, which must come zero-filled (no terminator is written); returns `out`.
KQ_EXPORT char* wideToAnsi(const wchar_t* w, char* out, int outLen);
/// Sets (always replacing) an environment variable; 0 on success. `overwrite` is ignored.
KQ_EXPORT int setEnv(const char* name, const char* value, int overwrite);
/// The variable's value, or null; the text belongs to the environment.
KQ_EXPORT char* getEnv(const char* name);
///@{
/// A pointer kept in an environment variable as text, for a host and the
/// modules it loads; getEnvPtr gives null when the variable holds none.
KQ_EXPORT int setEnvPtr(const char* name, void* p);
KQ_EXPORT void getEnvPtr(const char* name, void** out);
///@}
///@{
/// The per-user application-data folder (APPDATA, else the platform's own:
/// $XDG_CONFIG_HOME, else $HOME/.config) and the home folder (HOMEPATH, else
/// HOME), through normalizePath; empty when none of them is set.
KQ_EXPORT std::string getAppDataDir();
KQ_EXPORT std::string getHomeDir();
///@}
/// Wall-clock time for the deadlines of timed waits; `tz` is ignored.
KQ_EXPORT int gettimeofday(struct ::timeval* tv, void* tz);

/// The 42 slots modules compile against; Utils forwards each to the routine above.
class KQ_EXPORT Abstract_Utils {
 public:
  virtual ~Abstract_Utils();
  ///@{
  /// Forwards to the routine of the same name in namespace bg.
  virtual const char* getTimeStr(const char* fmt) = 0;
  virtual std::string formatTime(int64_t t, const char* fmt) = 0;
  virtual int64_t getTimeUs() = 0;
  virtual bool mkDir(const char* path) = 0;
  virtual bool rmDir(const char* path) = 0;
  virtual bool isDirExist(const char* path) = 0;
  virtual std::string getTempDir() = 0;
  virtual char* ltrim(char* s) = 0;
  virtual char* rtrim(char* s) = 0;
  ///@}
  /// trim() of a copy of `s`.
  virtual std::string trimString(const std::string& s) = 0;
  ///@{
  /// Forwards to the routine of the same name in namespace bg.
  virtual char* trim(char* s) = 0;
  virtual char* ltrimChars(char* s, const char* set) = 0;
  virtual char* rtrimChars(char* s, const char* set) = 0;
  ///@}
  /// trimChars() of a copy of `s`.
  virtual std::string trimCharsString(const std::string& s, const char* set) = 0;
  ///@{
  /// Forwards to the routine of the same name in namespace bg.
  virtual char* trimChars(char* s, const char* set) = 0;
  virtual bool startsWith(const char* s, const char* prefix, bool caseSensitive) = 0;
  virtual bool endsWith(const char* s, const char* suffix, bool caseSensitive) = 0;
  virtual std::string format(const char* fmt, ...) KQ_PRINTF_FORMAT(2, 3) = 0;
  virtual std::vector<std::string> split(const std::string& s, const char* delims, bool keepEmpty) = 0;
  virtual char* toLower(char* s) = 0;
  virtual char* toUpper(char* s) = 0;
  virtual std::string randomString(int len) = 0;
  virtual int listDir(const char* dir, void (*callback)(void* user, const char* name), void* user,
                      bool print) = 0;
  virtual std::string normalizePath(const std::string& path) = 0;
  virtual FILE* openFile(const char* path, const char* mode) = 0;
  virtual int removeFile(const char* path) = 0;
  virtual int64_t getFileSize(const char* path) = 0;
  virtual FileStat getFileStat(const char* path) = 0;
  virtual std::string getFileName(const char* path) = 0;
  virtual std::string getBaseName(const char* path) = 0;
  virtual std::string getDirName(const char* path) = 0;
  virtual void showInExplorer(const char* path) = 0;
  virtual bool isDirWritable(const char* dir, const char* probeName) = 0;
  virtual std::wstring utf8ToWString(const char* s) = 0;
  virtual wchar_t* utf8ToWide(const char* s, wchar_t* out, int outLen) = 0;
  virtual std::string wideToAnsiString(const wchar_t* w) = 0;
  virtual char* wideToAnsi(const wchar_t* w, char* out, int outLen) = 0;
  virtual int setEnv(const char* name, const char* value, int overwrite) = 0;
  virtual char* getEnv(const char* name) = 0;
  virtual int setEnvPtr(const char* name, void* p) = 0;
  virtual void getEnvPtr(const char* name, void** out) = 0;
  ///@}
};

/// The routines behind each component's own m_utils.
class KQ_EXPORT Utils : public Abstract_Utils {
 public:
  /// Holds no state.
  Utils();
  ~Utils() override;
  const char* getTimeStr(const char* fmt) override;
  std::string formatTime(int64_t t, const char* fmt) override;
  int64_t getTimeUs() override;
  bool mkDir(const char* path) override;
  bool rmDir(const char* path) override;
  bool isDirExist(const char* path) override;
  std::string getTempDir() override;
  char* ltrim(char* s) override;
  char* rtrim(char* s) override;
  std::string trimString(const std::string& s) override;
  char* trim(char* s) override;
  char* ltrimChars(char* s, const char* set) override;
  char* rtrimChars(char* s, const char* set) override;
  std::string trimCharsString(const std::string& s, const char* set) override;
  char* trimChars(char* s, const char* set) override;
  bool startsWith(const char* s, const char* prefix, bool caseSensitive) override;
  bool endsWith(const char* s, const char* suffix, bool caseSensitive) override;
  std::string format(const char* fmt, ...) override KQ_PRINTF_FORMAT(2, 3);
  std::vector<std::string> split(const std::string& s, const char* delims, bool keepEmpty) override;
  char* toLower(char* s) override;
  char* toUpper(char* s) override;
  std::string randomString(int len) override;
  int listDir(const char* dir, void (*callback)(void* user, const char* name), void* user,
              bool print) override;
  std::string normalizePath(const std::string& path) override;
  FILE* openFile(const char* path, const char* mode) override;
  int removeFile(const char* path) override;
  int64_t getFileSize(const char* path) override;
  FileStat getFileStat(const char* path) override;
  std::string getFileName(const char* path) override;
  std::string getBaseName(const char* path) override;
  std::string getDirName(const char* path) override;
  void showInExplorer(const char* path) override;
  bool isDirWritable(const char* dir, const char* probeName) override;
  std::wstring utf8ToWString(const char* s) override;
  wchar_t* utf8ToWide(const char* s, wchar_t* out, int outLen) override;
  std::string wideToAnsiString(const wchar_t* w) override;
  char* wideToAnsi(const wchar_t* w, char* out, int outLen) override;
  int setEnv(const char* name, const char* value, int overwrite) override;
  char* getEnv(const char* name) override;
  int setEnvPtr(const char* name, void* p) override;
  void getEnvPtr(const char* name, void** out) override;
};

}  // namespace bg

#endif  // KQBRIDGE_UTILS_H_
