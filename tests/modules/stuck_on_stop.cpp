// A component that never returns from uninit(); it says so on stdout first.
#include <kqbridge/kqbridge.h>

#include <chrono>
#include <thread>

struct StuckComponent : bg::Interface {
  StuckComponent() { snprintf(m_name, sizeof(m_name), "stuck"); }
  bool init() override { return true; }
  bool initExtend() override { return true; }
  bool uninit() override { puts("stuck:uninit"); fflush(stdout); for (;;) std::this_thread::sleep_for(std::chrono::hours(1)); }
  bg::Value process(const char*, BridgeMsg) override { return bg::Value(); }
};

KQ_MODULE_EXPORT bg::Interface* get_component(bg::Interface*) {
  static StuckComponent component;
  return &component;
}
