// The "sensor" component: publishes a value on the shared bus, greets the
// display with a message, and streams readings to it over a named channel
// from a job on the shared thread pool.
#include <kqbridge/kqbridge.h>

#include <cstdio>
#include <cstring>

#include "demo.h"

namespace {

class Sensor : public bg::Interface {
 public:
  Sensor() { strcpy(m_name, "sensor"); }

  bool init() override {
    m_channel = m_channelMgr->createChannel(demo::kReadingsChannel);
    BG_LOG(DEBUG, "sensor: created channel '%s'", demo::kReadingsChannel);
    return m_channel != nullptr;
  }

  bool initExtend() override {
    BG_LOG(DEBUG, "sensor: publishing %s = 21.5", demo::kTemperatureKey);
    m_data->setDataNotify(demo::kTemperatureKey, bg::Value(21.5), true);

    BridgeMsg msg = {demo::kCmdShow, 0, "hello from sensor", 0, 0};
    bg::Value reply = bg::CD->call("display", msg);
    BG_LOG(DEBUG, "sensor: display answered '%s'", reply.toStdString().c_str());

    m_threadPool->addTask(streamReadings, this);
    return true;
  }

  bool uninit() override {
    BG_LOG(DEBUG, "sensor: stopping");
    if (m_channel != nullptr) m_channelMgr->releaseChannel(&m_channel);
    return true;
  }

  bg::Value process(const char* from, BridgeMsg msg) override {
    BG_LOG(DEBUG, "sensor: message from %s, cmd %d", from, msg.cmd);
    return bg::Value("sensor here");
  }

 private:
  // Runs on a pool worker.
  static void streamReadings(void* arg) {
    Sensor* self = static_cast<Sensor*>(arg);
    const double readings[] = {21.5, 21.7, 22.0};
    char text[32];
    for (double r : readings) {
      if (self->m_threadPool->isAborting()) return;
      int n = snprintf(text, sizeof(text), "%.1f", r);
      self->m_channel->write(text, n + 1);
    }
    self->m_channel->write(demo::kEndOfReadings, static_cast<int>(strlen(demo::kEndOfReadings)) + 1);
    BG_LOG(DEBUG, "sensor: sent %d readings", static_cast<int>(sizeof(readings) / sizeof(readings[0])));
  }

  bg::Abstract_Channel* m_channel = nullptr;
};

}  // namespace

// The framework never deletes a component: a static one lives as long as the module.
KQ_MODULE_EXPORT bg::Interface* get_component(bg::Interface* /*cd*/) {
  static Sensor sensor;
  return &sensor;
}
