#include "kqbridge/argv.h"

#include <cstdio>

#include "app/cmdline.h"
#include "platform/console.h"

namespace bg {

namespace {

std::string textOf(const char* s) {
  return s != nullptr ? s : "";
}

}  // namespace

Abstract_Argv::~Abstract_Argv() = default;

Argv::Argv() : m_parser(nullptr) {}

Argv::~Argv() {
  delete m_parser;
  m_parser = nullptr;
}

void Argv::add(const char* name, char shortName, const char* description, bool need, const Value& def) {
  if (m_parser == nullptr) m_parser = new cmdline::parser();
  const std::string n = textOf(name);
  const std::string d = textOf(description);
  switch (def.type()) {
    case Value::VT_INT:
      m_parser->add<int>(n, shortName, d, need, def.toInt());
      break;
    case Value::VT_UINT:
      m_parser->add<unsigned int>(n, shortName, d, need, def.toUInt());
      break;
    case Value::VT_FLOAT:
      m_parser->add<float>(n, shortName, d, need, def.toFloat());
      break;
    case Value::VT_DOUBLE:
      m_parser->add<double>(n, shortName, d, need, def.toDouble());
      break;
    case Value::VT_INT64:
      m_parser->add<long long>(n, shortName, d, need, def.toInt64());
      break;
    case Value::VT_STR:
      m_parser->add<std::string>(n, shortName, d, need, def.toStdString());
      break;
    case Value::VT_BOOL:
      m_parser->add<bool>(n, shortName, d, need, def.toBool());
      break;
    default:
      platform::consoleOutput("** Argv add: unknow type '%s'\n", n.c_str());
      m_parser->add(n, shortName, d);
      break;
  }
}

Value Argv::get(const char* name, const Value& def) {
  const std::string n = textOf(name);
  if (m_parser == nullptr) {
    platform::consoleOutput("** Have not add 'argv'; Argv get: '%s' not exist. \n", n.c_str());
    return def;
  }
  if (!exist(name)) {
    platform::consoleOutput("** Argv get: '%s' not exist. \n", n.c_str());
    return def;
  }
  switch (def.type()) {
    case Value::VT_INT:
      return Value(m_parser->get<int>(n));
    case Value::VT_UINT:
      return Value(m_parser->get<unsigned int>(n));
    case Value::VT_FLOAT:
      return Value(m_parser->get<float>(n));
    case Value::VT_DOUBLE:
      return Value(m_parser->get<double>(n));
    case Value::VT_INT64:
      return Value(m_parser->get<long long>(n));
    case Value::VT_STR:
      return Value(m_parser->get<std::string>(n));
    case Value::VT_BOOL:
      return Value(m_parser->get<bool>(n));
    default:
      platform::consoleOutput(
          "** Argv get: '%s' exist!  but not type: string,bool,int,uint,int64,float,double\n", n.c_str());
      return def;
  }
}

bool Argv::parse(int argc, char** argv) {
  return m_parser != nullptr && m_parser->parse(argc, argv);
}

bool Argv::exist(const char* name) {
  return m_parser != nullptr && m_parser->exist(textOf(name));
}

std::string Argv::usage() {
  return m_parser != nullptr ? m_parser->usage() : std::string();
}

Abstract_Argv* Argv::createArgv() {
  return new Argv();
}

void Argv::destroyArgv(Abstract_Argv** pp) {
  if (pp == nullptr) return;
  delete *pp;
  *pp = nullptr;
}

}  // namespace bg
