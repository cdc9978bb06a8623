/// \file
/// bg::Argv: typed command-line options of one component.
#ifndef KQBRIDGE_ARGV_H_
#define KQBRIDGE_ARGV_H_

#include <stdexcept>
#include <string>

#include "kqbridge/export.h"
#include "kqbridge/value.h"

namespace cmdline {

class parser;

/// Thrown for a name declared twice and for a read with a default of another
/// type; what() is the message.
class KQ_EXPORT cmdline_error : public std::runtime_error {
 public:
  /// An error whose what() is `msg`.
  explicit cmdline_error(const std::string& msg);
  ~cmdline_error() noexcept override;
};

}  // namespace cmdline

namespace bg {

/// The kind of an option's default Value chooses its type. parse() records
/// every mistake of a command line and answers false; usage() explains. One
/// thread at a time: each component has its own Argv.
class KQ_EXPORT Abstract_Argv {
 public:
  virtual ~Abstract_Argv();
  /// Declares the option `--name` (and `-shortName` unless it is 0), required
  /// when `need`; a default of another kind than string, bool or a number
  /// declares a flag without a value. Throws cmdline::cmdline_error for a
  /// name declared twice.
  virtual void add(const char* name, char shortName, const char* description, bool need,
                   const Value& def) = 0;
  /// The parsed value as the kind of `def`; `def` itself when not given.
  virtual Value get(const char* name, const Value& def) = 0;
  /// Reads `argv` (argv[0] is the program); false after any mistake.
  virtual bool parse(int argc, char** argv) = 0;
  /// Whether any parse so far has seen the option.
  virtual bool exist(const char* name) = 0;
  /// A usage line, then every option with its short name and description.
  virtual std::string usage() = 0;
  /// A new, empty Argv, owned by the caller until it gives it to destroyArgv.
  virtual Abstract_Argv* createArgv() = 0;
  /// Deletes *pp (one createArgv made) and nulls it.
  virtual void destroyArgv(Abstract_Argv** pp) = 0;
};

/// The option set behind each component's own m_argv.
class KQ_EXPORT Argv : public Abstract_Argv {
 public:
  /// No options yet.
  Argv();
  ~Argv() override;
  void add(const char* name, char shortName, const char* description, bool need, const Value& def) override;
  Value get(const char* name, const Value& def) override;
  bool parse(int argc, char** argv) override;
  bool exist(const char* name) override;
  std::string usage() override;
  Abstract_Argv* createArgv() override;
  void destroyArgv(Abstract_Argv** pp) override;

 protected:
  cmdline::parser* m_parser;  ///< the option parser, made by the first add(); null before
};

}  // namespace bg

#endif  // KQBRIDGE_ARGV_H_
