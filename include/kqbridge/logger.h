/// \file
/// bg::Logger, the log line format and the BG_LOG macro.
#ifndef KQBRIDGE_LOGGER_H_
#define KQBRIDGE_LOGGER_H_

#include <cstdio>
#include <string>

#include "kqbridge/export.h"
#include "kqbridge/interface.h"

namespace bg {

/// The level of BG_LOG(ERROR, ...) lines: written by default.
constexpr int LOG_ERROR = 2;
/// The level of BG_LOG(DEBUG, ...) lines: written from level 5 on ("LogLevel : 5").
constexpr int LOG_DEBUG = 5;

/// Writes lines to one file, opened in append mode on the first line with a
/// header line, or to a stream the caller chooses. A line is written when its
/// level is at most the logger's level; level 0 silences it. A Logger (the
/// central one included) is safe for concurrent use from any thread without
/// outside locking: lines never mix and the file is opened once.
class KQ_EXPORT Abstract_Logger {
 public:
  virtual ~Abstract_Logger();
  /// Closes an owned stream and borrows `s`; null reopens the file on the next line.
  virtual FILE* setStream(FILE* s) = 0;
  /// The stream lines go to; null until the first line opens the file or a stream is set.
  virtual FILE* getStream() = 0;
  /// Level 0 also closes the file.
  virtual void setLevel(int level) = 0;
  /// The level lines are compared with.
  virtual int getLevel() = 0;
  /// One formatted write of `fmt` (which carries its own newline) and a flush.
  /// A file that cannot be opened gives way to standard error.
  virtual void log(int level, const char* fmt, ...) KQ_PRINTF_FORMAT(3, 4) = 0;
  /// The file's path as given; "" for a logger without a file.
  virtual std::string getPath() = 0;
  /// The path up to and including its last separator.
  virtual std::string getDir() = 0;
  /// Level 0; an owned stream is closed.
  virtual void close() = 0;
  /// A new logger of the file `path`, owned by the caller until it gives it
  /// to destroyLogger, which closes it, deletes it and nulls *pp.
  virtual Abstract_Logger* createLogger(const char* path) = 0;
  /// Deletes *pp (one createLogger made) and nulls it.
  virtual void destroyLogger(Abstract_Logger** pp) = 0;
};

/// The log behind each component's own m_logger, `log/<component><date>.log`;
/// the central object's is the central log BG_LOG writes to.
class KQ_EXPORT Logger : public Abstract_Logger {
 public:
  /// Nothing is opened until the first line; the level starts at 6.
  explicit Logger(const char* path);
  /// Ends the file with an empty line and closes it.
  ~Logger() override;
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;
  FILE* setStream(FILE* s) override;
  FILE* getStream() override;
  void setLevel(int level) override;
  int getLevel() override;
  void log(int level, const char* fmt, ...) override KQ_PRINTF_FORMAT(3, 4);
  std::string getPath() override;
  std::string getDir() override;
  void close() override;
  Abstract_Logger* createLogger(const char* path) override;
  void destroyLogger(Abstract_Logger** pp) override;

 private:
  // The path, the stream, the level and the lock over them, defined in src/.
  struct State;
  State* m_state;
};

/// The local time as the central log lines show it, from the central object's
/// utilities (or the library routine while it has none).
KQ_EXPORT const char* logTimeStr(Interface* cd);

}  // namespace bg

/// BG_LOG(ERROR, "fmt", args...) / BG_LOG(DEBUG, ...): one line in the central
/// log, `[ERROR] <time> | <line> <function>:  "<message>"`. Does nothing, and
/// evaluates no argument, while bg::CD or its logger is null.
#define BG_LOG(LEVEL, fmt, ...)                                                                    \
  do {                                                                                             \
    ::bg::Interface* bg_log_cd_ = ::bg::CD;                                                        \
    if (bg_log_cd_ != nullptr && bg_log_cd_->m_logger != nullptr) {                                \
      bg_log_cd_->m_logger->log(::bg::LOG_##LEVEL, "[" #LEVEL "] %s | %-4d %-20s:  \"" fmt "\"\n", \
                                ::bg::logTimeStr(bg_log_cd_), __LINE__, __func__, ##__VA_ARGS__);  \
    }                                                                                              \
  } while (0)

#endif  // KQBRIDGE_LOGGER_H_
