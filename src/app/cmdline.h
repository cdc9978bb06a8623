// The option parser behind bg::Argv: long options "--name", "--name=value"
// and "--name value", groups of short letters "-abc" (the last one may take
// the next argument as its value), and the rest. Values are typed; a text is
// accepted only when stream extraction of the type uses all of it.
#ifndef KQBRIDGE_APP_CMDLINE_H_
#define KQBRIDGE_APP_CMDLINE_H_

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "kqbridge/argv.h"

namespace cmdline {

// Reads a T from `text`; false unless extraction succeeds and reaches the end
// (leading white space is skipped, trailing characters are refused).
template <typename T>
struct default_reader {
  bool operator()(const std::string& text, T* out) const {
    std::istringstream in(text);
    T value;
    if (!(in >> value) || !in.eof()) return false;
    *out = value;
    return true;
  }
};

// Any text is a string, unchanged.
template <>
struct default_reader<std::string> {
  bool operator()(const std::string& text, std::string* out) const {
    *out = text;
    return true;
  }
};

// The type names the usage text shows.
template <typename T>
const char* type_name();
template <>
inline const char* type_name<int>() {
  return "int";
}
template <>
inline const char* type_name<unsigned int>() {
  return "unsigned int";
}
template <>
inline const char* type_name<float>() {
  return "float";
}
template <>
inline const char* type_name<double>() {
  return "double";
}
template <>
inline const char* type_name<bool>() {
  return "bool";
}
template <>
inline const char* type_name<long long>() {
  return "long long";
}
template <>
inline const char* type_name<std::string>() {
  return "string";
}

class option_base {
 public:
  option_base(const std::string& name, char short_name, const std::string& description)
      : m_name(name), m_shortName(short_name), m_description(description), m_given(false) {}
  virtual ~option_base() = default;

  const std::string& name() const { return m_name; }
  char short_name() const { return m_shortName; }
  const std::string& description() const { return m_description; }
  bool given() const { return m_given; }

  virtual bool has_value() const = 0;
  virtual bool required() const = 0;
  // False when the option refuses to be given without a value.
  virtual bool set() = 0;
  // False when the option refuses `value`.
  virtual bool set(const std::string& value) = 0;
  // How a required option reads on the usage line.
  virtual std::string summary() const = 0;

 protected:
  std::string m_name;
  char m_shortName;
  std::string m_description;
  bool m_given;
};

// A flag: never required, never takes a value.
class option_without_value : public option_base {
 public:
  using option_base::option_base;

  bool has_value() const override { return false; }
  bool required() const override { return false; }
  bool set() override {
    m_given = true;
    return true;
  }
  bool set(const std::string&) override { return false; }
  std::string summary() const override { return "--" + m_name; }
};

template <typename T>
class option_with_value : public option_base {
 public:
  option_with_value(const std::string& name, char short_name, const std::string& description, bool need,
                    const T& def)
      : option_base(name, short_name, describe(description, need, def)),
        m_need(need),
        m_default(def),
        m_actual(def) {}

  bool has_value() const override { return true; }
  bool required() const override { return m_need; }
  bool set() override { return false; }
  bool set(const std::string& value) override {
    T parsed;
    if (!default_reader<T>()(value, &parsed)) return false;
    m_actual = parsed;
    m_given = true;
    return true;
  }
  std::string summary() const override { return "--" + m_name + "=" + type_name<T>(); }

  const T& get() const { return m_actual; }

 private:
  static std::string describe(const std::string& description, bool need, const T& def) {
    std::string text = description + " (" + type_name<T>();
    if (!need) {
      std::ostringstream shown;
      shown << def;
      text += " [=" + shown.str() + "]";
    }
    return text + ")";
  }

  bool m_need;
  T m_default;
  T m_actual;
};

class parser {
 public:
  parser();
  ~parser();
  parser(const parser&) = delete;
  parser& operator=(const parser&) = delete;

  // A flag. Throws cmdline_error "multiple definition: <name>".
  void add(const std::string& name, char short_name, const std::string& description);
  template <typename T>
  void add(const std::string& name, char short_name, const std::string& description, bool need,
           const T& def) {
    add_option(
        std::unique_ptr<option_base>(new option_with_value<T>(name, short_name, description, need, def)));
  }

  // Whether any parse so far has given the option; false for an unknown name.
  bool exist(const std::string& name) const;
  // The current value. Throws cmdline_error for an unknown name or another type.
  template <typename T>
  const T& get(const std::string& name) const {
    auto it = m_options.find(name);
    if (it == m_options.end()) throw cmdline_error("there is no flag: --" + name);
    auto* typed = dynamic_cast<const option_with_value<T>*>(it->second.get());
    if (typed == nullptr) throw cmdline_error("type mismatch flag '" + name + "'");
    return typed->get();
  }

  // Records every mistake of the command line; true when there was none.
  bool parse(int argc, const char* const argv[]);
  std::string usage() const;

  const std::vector<std::string>& errors() const { return m_errors; }
  const std::vector<std::string>& rest() const { return m_rest; }

 private:
  void add_option(std::unique_ptr<option_base> option);
  void set_option(const std::string& name);
  void set_option(const std::string& name, const std::string& value);
  void parse_short_group(const std::string& letters, int argc, const char* const argv[], int* i,
                         const std::map<char, std::string>& byLetter);

  std::map<std::string, std::unique_ptr<option_base>> m_options;
  std::vector<option_base*> m_ordered;
  std::string m_footer;
  std::string m_programName;
  std::vector<std::string> m_rest;
  std::vector<std::string> m_errors;
};

}  // namespace cmdline

#endif  // KQBRIDGE_APP_CMDLINE_H_
