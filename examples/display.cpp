// The "display" component: listens to the sensor's value on the shared bus,
// answers its messages, and reads its readings from a named channel in a job
// on the shared thread pool.
#include <kqbridge/kqbridge.h>

#include <cstring>

#include "demo.h"

namespace {

// A reader wakes this often to look for the stop request.
const unsigned kReadTimeoutMs = 50;

class Display : public bg::Interface {
 public:
  Display() { strcpy(m_name, "display"); }

  bool init() override {
    BG_LOG(DEBUG, "display: ready");
    return true;
  }

  // Components start in name order, so the display listens before the sensor publishes.
  bool initExtend() override {
    ListenerRecord record = {};
    record.callback = onTemperature;
    m_listenerId = m_data->registListener(demo::kTemperatureKey, &record);
    m_channel = m_channelMgr->openChannel(demo::kReadingsChannel);
    if (m_channel != nullptr) m_threadPool->addTask(readReadings, this);
    return true;
  }

  bool uninit() override {
    BG_LOG(DEBUG, "display: stopping");
    m_data->unregistListener(demo::kTemperatureKey, m_listenerId);
    if (m_channel != nullptr) m_channelMgr->releaseChannel(&m_channel);
    return true;
  }

  bg::Value process(const char* from, BridgeMsg msg) override {
    BG_LOG(DEBUG, "display: message from %s, cmd %d: %s", from, msg.cmd, msg.text != nullptr ? msg.text : "");
    return bg::Value("shown");
  }

 private:
  // Called by the bus on the publisher's thread (for a value from another
  // host, on the remote module's). The sensor hears back either way.
  static void onTemperature(const char* key, const bg::Value* value, ListenerRecord* /*rec*/) {
    BG_LOG(DEBUG, "display: %s is now %.1f", key, value->toDouble());
    BridgeMsg thanks = {demo::kCmdThanks, 0, "display got it", 0, 0};
    bg::Value reply = bg::CD->call("sensor", thanks);
    BG_LOG(DEBUG, "display: sensor answered '%s'", reply.toStdString().c_str());
  }

  // Runs on a pool worker until the sensor's last reading or the stop request.
  static void readReadings(void* arg) {
    Display* self = static_cast<Display*>(arg);
    char text[64];
    while (!self->m_threadPool->isAborting()) {
      int n = self->m_channel->timedRead(text, sizeof(text) - 1, kReadTimeoutMs);
      if (n <= 0) {
        if (self->m_channel->isAborted()) break;
        continue;
      }
      text[n] = '\0';
      if (strcmp(text, demo::kEndOfReadings) == 0) {
        BG_LOG(DEBUG, "display: end of readings");
        break;
      }
      BG_LOG(DEBUG, "display: reading %s", text);
    }
  }

  bg::Abstract_Channel* m_channel = nullptr;
  int m_listenerId = 0;
};

}  // namespace

KQ_MODULE_EXPORT bg::Interface* get_component(bg::Interface* /*cd*/) {
  static Display display;
  return &display;
}
