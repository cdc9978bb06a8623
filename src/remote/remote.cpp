// The "remote" component: components and data-bus keys shared with other
// hosts through an MQTT 5 broker, as remote.conf says. See session.h.
#include <kqbridge/kqbridge.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "session.h"
#include "settings.h"

namespace {

class Remote : public bg::Interface {
 public:
  Remote() { strcpy(m_name, "remote"); }

  // A run after an earlier one (the bridge started again in one process)
  // replaces the session; nothing of the old one is reachable any more.
  bool init() override {
    remote::Settings settings;
    std::vector<std::string> problems;
    bool usable = remote::readSettings(m_config, &settings, &problems);
    for (const std::string& p : problems) BG_LOG(ERROR, "remote: %s", p.c_str());
    if (!usable) return false;
    BG_LOG(ERROR, "remote: node '%s', broker %s://%s:%d, %d imported, %d exported%s, %d keys mirrored",
           settings.node.c_str(), settings.tls ? "mqtts" : "mqtt", settings.host.c_str(), settings.port,
           static_cast<int>(settings.imports.size()), static_cast<int>(settings.exports.size()),
           settings.exportAll ? " and *" : "",
           static_cast<int>(settings.exactKeys.size() + settings.keyPrefixes.size()));
    m_session = std::make_unique<remote::Session>(std::move(settings), m_data, m_threadPool);
    std::string why;
    if (!m_session->start(&why)) {
      BG_LOG(ERROR, "remote: cannot start: %s", why.c_str());
      return false;
    }
    return true;
  }

  bool initExtend() override {
    if (m_session != nullptr) m_session->serve();
    return true;
  }

  bool uninit() override {
    if (m_session != nullptr) m_session->stop();
    return true;
  }

  // Whether the broker is connected.
  bg::Value process(const char* /*from*/, BridgeMsg /*msg*/) override {
    return bg::Value(m_session != nullptr && m_session->up());
  }

 private:
  std::unique_ptr<remote::Session> m_session;
};

}  // namespace

KQ_MODULE_EXPORT bg::Interface* get_component(bg::Interface* /*cd*/) {
  static Remote component;
  return &component;
}
