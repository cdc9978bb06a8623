#include "app/cmdline.h"

#include <algorithm>

namespace cmdline {

cmdline_error::cmdline_error(const std::string& msg) : std::runtime_error(msg) {}

cmdline_error::~cmdline_error() noexcept = default;

parser::parser() = default;

parser::~parser() = default;

void parser::add(const std::string& name, char short_name, const std::string& description) {
  add_option(std::unique_ptr<option_base>(new option_without_value(name, short_name, description)));
}

void parser::add_option(std::unique_ptr<option_base> option) {
  const std::string& name = option->name();
  if (m_options.count(name) != 0) throw cmdline_error("multiple definition: " + name);
  m_ordered.push_back(option.get());
  m_options.emplace(name, std::move(option));
}

bool parser::exist(const std::string& name) const {
  auto it = m_options.find(name);
  return it != m_options.end() && it->second->given();
}

void parser::set_option(const std::string& name) {
  auto it = m_options.find(name);
  if (it == m_options.end()) {
    m_errors.push_back("undefined option: --" + name);
  } else if (!it->second->set()) {
    m_errors.push_back("option needs value: --" + name);
  }
}

void parser::set_option(const std::string& name, const std::string& value) {
  auto it = m_options.find(name);
  if (it == m_options.end()) {
    m_errors.push_back("undefined option: --" + name);
  } else if (!it->second->set(value)) {
    m_errors.push_back("option value is invalid: --" + name + "=" + value);
  }
}

void parser::parse_short_group(const std::string& letters, int argc, const char* const argv[], int* i,
                               const std::map<char, std::string>& byLetter) {
  for (size_t j = 0; j < letters.size(); ++j) {
    auto found = byLetter.find(letters[j]);
    if (found == byLetter.end()) {
      m_errors.push_back(std::string("undefined short option: -") + letters[j]);
      continue;
    }
    const bool last = j + 1 == letters.size();
    if (last && m_options[found->second]->has_value() && *i + 1 < argc) {
      ++*i;
      set_option(found->second, argv[*i] != nullptr ? argv[*i] : "");
    } else {
      set_option(found->second);
    }
  }
}

// A null entry of argv reads as an empty argument.
bool parser::parse(int argc, const char* const argv[]) {
  m_errors.clear();
  m_rest.clear();
  if (argc < 1 || argv == nullptr) {
    m_errors.push_back("argument number must be longer than 0");
    return false;
  }
  if (m_programName.empty() && argv[0] != nullptr) m_programName = argv[0];

  std::map<char, std::string> byLetter;
  for (const auto& entry : m_options) {
    if (entry.first.empty() || entry.second->short_name() == 0) continue;
    const char letter = entry.second->short_name();
    if (byLetter.count(letter) != 0) {
      m_errors.push_back(std::string("short option '") + letter + "' is ambiguous");
      return false;
    }
    byLetter[letter] = entry.first;
  }

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i] != nullptr ? argv[i] : "";
    if (arg.compare(0, 2, "--") == 0) {
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        set_option(arg.substr(2, eq - 2), arg.substr(eq + 1));
        continue;
      }
      const std::string name = arg.substr(2);
      auto it = m_options.find(name);
      if (it == m_options.end()) {
        m_errors.push_back("undefined option: --" + name);
      } else if (!it->second->has_value()) {
        set_option(name);
      } else if (i + 1 >= argc) {
        m_errors.push_back("option needs value: --" + name);
      } else {
        ++i;
        set_option(name, argv[i] != nullptr ? argv[i] : "");
      }
    } else if (arg == "-") {
      continue;
    } else if (arg[0] == '-') {
      parse_short_group(arg.substr(1), argc, argv, &i, byLetter);
    } else {
      m_rest.push_back(arg);
    }
  }

  for (const auto& entry : m_options) {
    if (entry.second->required() && !entry.second->given())
      m_errors.push_back("need option: --" + entry.first);
  }
  return m_errors.empty();
}

std::string parser::usage() const {
  std::string text = "usage: " + m_programName + " ";
  for (const option_base* option : m_ordered) {
    if (option->required()) text += option->summary() + " ";
  }
  text += "[options] ... " + m_footer + "\n";
  text += "options:\n";

  size_t width = 0;
  for (const option_base* option : m_ordered) width = std::max(width, option->name().size());
  for (const option_base* option : m_ordered) {
    if (option->short_name() != 0) {
      text += "  -";
      text += option->short_name();
      text += ", ";
    } else {
      text += "      ";
    }
    text += "--" + option->name();
    text += std::string(width + 4 - option->name().size(), ' ');
    text += option->description() + "\n";
  }
  return text;
}

}  // namespace cmdline
