// A component that never returns from uninit(): the host has to be stoppable
// all the same. It says on standard output when it got there.
#include <kqbridge/kqbridge.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

class StuckComponent : public bg::Interface {
 public:
  StuckComponent() { strcpy(m_name, "stuck"); }
  bool init() override { return true; }
  bool initExtend() override { return true; }
  bool uninit() override {
    printf("stuck:uninit\n");
    fflush(stdout);
    for (;;) pause();
  }
  bg::Value process(const char*, BridgeMsg) override { return bg::Value(); }
};

}  // namespace

KQ_MODULE_EXPORT bg::Interface* get_component(bg::Interface* /*cd*/) {
  static StuckComponent component;
  return &component;
}
