// A host made of nothing but an Interface with its own logger and tracer,
// published as bg::CD for its life, so that BG_LOG and TraceScope write.
#ifndef KQBRIDGE_TESTS_DIAGNOSTICS_HOST_H_
#define KQBRIDGE_TESTS_DIAGNOSTICS_HOST_H_

#include <kqbridge/interface.h>
#include <kqbridge/logger.h>
#include <kqbridge/tracer.h>

#include <cstring>
#include <regex>
#include <string>

namespace kqtest {

class DiagnosticsHost : public bg::Interface {
 public:
  DiagnosticsHost(const std::string& logPath, const std::string& tracePath) {
    strcpy(m_name, "Admin");
    m_logger = new bg::Logger(logPath.c_str());
    m_tracer = new bg::Func_Tracer(tracePath.c_str());
    bg::CD = this;
  }
  ~DiagnosticsHost() override {
    bg::CD = nullptr;
    delete m_logger;
    delete m_tracer;
  }
  bool init() override { return true; }
  bool initExtend() override { return true; }
  bool uninit() override { return true; }
  bg::Value process(const char*, BridgeMsg) override { return bg::Value(); }
};

// Every "YYYY-MM-DD hh:mm:ss" replaced by "<time>", so that whole files can
// be compared byte for byte apart from the clock.
inline std::string maskTimes(const std::string& text) {
  static const std::regex kTime("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}");
  return std::regex_replace(text, kTime, "<time>");
}

}  // namespace kqtest

#endif  // KQBRIDGE_TESTS_DIAGNOSTICS_HOST_H_
