// bg::Argv: typed command-line options of one component.
#ifndef KQBRIDGE_ARGV_H_
#define KQBRIDGE_ARGV_H_

#include <stdexcept>
#include <string>

#include "kqbridge/export.h"
#include "kqbridge/value.h"

namespace cmdline {

class parser;

// Thrown for a name declared twice and for a read with a default of another
// type; what() is the message.
class KQ_EXPORT cmdline_error : public std::runtime_error {
 public:
  explicit cmdline_error(const std::string& msg);
  ~cmdline_error() noexcept override;
};

}  // namespace cmdline

namespace bg {

// The kind of an option's default Value chooses its type. parse() records
// every mistake of a command line and answers false; usage() explains. One
// thread at a time: each component has its own Argv.
class KQ_EXPORT Abstract_Argv {
 public:
  virtual ~Abstract_Argv();
  virtual void add(const char* name, char shortName, const char* description, bool need,
                   const Value& def) = 0;
  // The parsed value as the kind of `def`; `def` itself when not given.
  virtual Value get(const char* name, const Value& def) = 0;
  virtual bool parse(int argc, char** argv) = 0;
  // Whether any parse so far has seen the option.
  virtual bool exist(const char* name) = 0;
  virtual std::string usage() = 0;
  // A new, empty Argv, owned by the caller until it gives it to destroyArgv.
  virtual Abstract_Argv* createArgv() = 0;
  // Deletes *pp (one createArgv made) and nulls it.
  virtual void destroyArgv(Abstract_Argv** pp) = 0;
};

class KQ_EXPORT Argv : public Abstract_Argv {
 public:
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
  cmdline::parser* m_parser;
};

}  // namespace bg

#endif  // KQBRIDGE_ARGV_H_
