// A component for the remote tests, named by KQ_PEER_NAME (default "peer").
// It prints every "k."-key stored with notification on the shared bus, and
// answers by command:
//   1  echo: "<from>|<cmd>|<sub>|<text>|<word3>|<word4>"
//   2  sets key <text> to the integer <word3>, with notification unless <sub> is 1
//   3  sleeps <word3> ms ("<name>: sleeping" first), then answers "woke"
//   4  passes {<sub>, 0, "", <word3>, <word4>} on to component <text>; its answer
#include <kqbridge/kqbridge.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

class Peer : public bg::Interface {
 public:
  Peer() {
    const char* name = getenv("KQ_PEER_NAME");
    snprintf(m_name, sizeof(m_name), "%s", name != nullptr ? name : "peer");
  }

  bool init() override { return true; }

  bool initExtend() override {
    ListenerRecord record = {};
    record.callback = onSet;
    record.user[0] = reinterpret_cast<intptr_t>(m_name);
    m_filter = m_data->registListener(nullptr, &record);
    return true;
  }

  bool uninit() override {
    m_data->unregistListener(nullptr, m_filter);
    return true;
  }

  bg::Value process(const char* from, BridgeMsg msg) override {
    std::string text = msg.text != nullptr ? msg.text : "";
    switch (msg.cmd) {
      case 1: {
        char echo[512];
        snprintf(echo, sizeof(echo), "%s|%d|%d|%s|%lld|%lld", from, msg.cmd, msg.sub, text.c_str(),
                 static_cast<long long>(msg.word3), static_cast<long long>(msg.word4));
        return bg::Value(echo);
      }
      case 2: {
        bg::Value v(static_cast<int>(msg.word3));
        return bg::Value(msg.sub == 1 ? m_data->setData(text.c_str(), v, true)
                                      : m_data->setDataNotify(text.c_str(), v, true));
      }
      case 3:
        printf("%s: sleeping\n", m_name);
        fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(msg.word3));
        return bg::Value("woke");
      case 4: {
        BridgeMsg passed = {msg.sub, 0, "", msg.word3, msg.word4};
        return bg::CD->call(text.c_str(), passed);
      }
      default:
        return bg::Value();
    }
  }

 private:
  static void onSet(const char* key, const bg::Value* value, ListenerRecord* rec) {
    if (strncmp(key, "k.", 2) != 0) return;
    printf("%s: %s=%s\n", reinterpret_cast<const char*>(rec->user[0]), key, value->write().c_str());
    fflush(stdout);
  }

  int m_filter = 0;
};

}  // namespace

KQ_MODULE_EXPORT bg::Interface* get_component(bg::Interface* /*cd*/) {
  static Peer peer;
  return &peer;
}
