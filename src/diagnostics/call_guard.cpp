#include "diagnostics/call_guard.h"

#include <cxxabi.h>

#include <cstdio>
#include <exception>

#include "kqbridge/logger.h"
#include "kqbridge/utils.h"
#include "platform/console.h"
#include "platform/dynamic_library.h"

namespace bg {

void reportCaught(const std::string& who) {
  std::string what;
  try {
    throw;
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
    what = "an exception that is no std::exception";
  }
  platform::consoleError("[Bridge Error] %s: %s\n", who.c_str(), what.c_str());
  BG_LOG(ERROR, "%s: %s", who.c_str(), what.c_str());
}

std::string componentThrew(const char* name, const char* call) {
  return format("component '%.31s' threw from %s", name, call);
}

std::string codeThrew(const void* code, const std::string& call) {
  std::string file = getFileName(platform::fileHoldingCode(code).c_str());
  return (file.empty() ? std::string("unknown code") : file) + " threw from " + call;
}

}  // namespace bg
