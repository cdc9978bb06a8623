// The receiving end of remote_bench's mirrored-key run: counts every value
// of "bench.value" that reaches this host, and after each batch (a value that
// is a multiple of kBatch) sets "bench.done" to it, which travels back.
#include "remote_counter.h"

#include <kqbridge/kqbridge.h>

#include <atomic>
#include <cstring>

namespace {

class Counter : public bg::Interface {
 public:
  Counter() { strcpy(m_name, "counter"); }
  bool init() override { return true; }
  bool initExtend() override {
    ListenerRecord record = {};
    record.callback = onValue;
    record.user[0] = reinterpret_cast<intptr_t>(this);
    m_listener = m_data->registListener(remotebench::kValueKey, &record);
    return true;
  }
  bool uninit() override {
    m_data->unregistListener(remotebench::kValueKey, m_listener);
    return true;
  }
  // How many values arrived.
  bg::Value process(const char* /*from*/, BridgeMsg /*msg*/) override { return bg::Value(m_count.load()); }

 private:
  static void onValue(const char* /*key*/, const bg::Value* value, ListenerRecord* rec) {
    Counter* self = reinterpret_cast<Counter*>(rec->user[0]);
    self->m_count++;
    if (value->toInt() % remotebench::kBatch == 0)
      self->m_data->setDataNotify(remotebench::kDoneKey, *value, true);
  }

  std::atomic<int> m_count{0};
  int m_listener = 0;
};

}  // namespace

KQ_MODULE_EXPORT bg::Interface* get_component(bg::Interface* /*cd*/) {
  static Counter counter;
  return &counter;
}
