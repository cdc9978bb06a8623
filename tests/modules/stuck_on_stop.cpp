// A component that does not return from uninit() for KQ_STUCK_MS
// milliseconds; it says so on stdout first. Its init() leaves a change in its
// configuration that only a completed stop saves. It then ends the bridge
// from inside the stop, which must change nothing.
#include <kqbridge/kqbridge.h>

#include <chrono>
#include <thread>

struct StuckComponent : bg::Interface {
  StuckComponent() { snprintf(m_name, sizeof(m_name), "%s", KQ_STUCK_NAME); }
  bool init() override { return m_config->setValue("ran", "yes"); }
  bool initExtend() override { return true; }
  bool uninit() override {
    printf("%s:uninit\n", m_name);
    fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(KQ_STUCK_MS));
    bg::UninitBridge();
    return true;
  }
  bg::Value process(const char*, BridgeMsg) override { return bg::Value(); }
};

KQ_MODULE_EXPORT bg::Interface* get_component(bg::Interface*) {
  static StuckComponent component;
  return &component;
}
