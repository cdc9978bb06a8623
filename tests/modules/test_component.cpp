// A component whose name, build kind, init answer and exceptions come from the build.
// It reports every call the framework makes on standard output, one line
// each, so that tests can check which calls came and in which order. It is
// written as by hand, without the header that stamps a module.
#include <kqbridge/app.h>
#include <kqbridge/channel.h>
#include <kqbridge/config.h>
#include <kqbridge/crypt.h>
#include <kqbridge/data.h>
#include <kqbridge/interface.h>
#include <kqbridge/mem_pool.h>
#include <kqbridge/share_mem.h>
#include <kqbridge/thread_pool.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#ifndef KQ_TEST_NAME
#error "KQ_TEST_NAME names the component"
#endif
#ifndef KQ_TEST_DEBUG
#define KQ_TEST_DEBUG 0
#endif
// bg::Bridge_A makes a component that is a central object of its own (its
// header stamps the module, so only a stamped one may name it).
#ifdef KQ_TEST_BASE
#include <kqbridge/bridge.h>
#else
#define KQ_TEST_BASE bg::Interface
#endif
#ifndef KQ_TEST_INIT_RESULT
#define KQ_TEST_INIT_RESULT 1
#endif
#ifndef KQ_TEST_QUIT_ON_START
#define KQ_TEST_QUIT_ON_START 0
#endif
// 1: init() throws; 2: the other calls and a listener of "<name>.boom" throw.
#ifndef KQ_TEST_THROW
#define KQ_TEST_THROW 0
#endif

namespace {

void throwFromListener(const char* key, const bg::Value*, ListenerRecord*) {
  throw std::runtime_error(key);
}

class TestComponent : public KQ_TEST_BASE {
 public:
  TestComponent() { strcpy(m_name, KQ_TEST_NAME); }

  bool init() override {
    report("init missing=%d", missingServices());
    throwIn(1, "init");
    ListenerRecord boom{};
    boom.callback = throwFromListener;
    if (KQ_TEST_THROW == 2) m_data->registListener((std::string(m_name) + ".boom").c_str(), &boom);
    return KQ_TEST_INIT_RESULT != 0;
  }

  bool initExtend() override {
    report("initExtend");
    if (KQ_TEST_QUIT_ON_START) {
      BridgeMsg stop = {1, 0, "stop", 0, 0};
      bg::CD->call("Admin", stop);
      report("still running");
    }
    throwIn(2, "initExtend");
    return true;
  }

  bool uninit() override {
    report("uninit aborting=%d", stopReachedServices() ? 1 : 0);
    throwIn(2, "uninit");
    return true;
  }

  bg::Value process(const char* from, BridgeMsg msg) override {
    report("process from=%s cmd=%d", from, msg.cmd);
    throwIn(2, "process");
    return bg::Value(m_name);
  }

  bool isDebug() override { return KQ_TEST_DEBUG != 0; }

 private:
  void throwIn(int mode, const char* call) {
    if (KQ_TEST_THROW == mode) throw std::runtime_error(std::string(m_name) + " " + call);
  }

  // Whether every service a stop marks as aborting was marked before our
  // uninit, and the shared pool, ended before it, takes no more jobs.
  bool stopReachedServices() {
    bg::Abstract_Base* marked[] = {m_app,    m_channelMgr, m_threadPool, m_data,
                                   m_config, m_crypt,      m_shareMem,   m_memPool};
    for (bg::Abstract_Base* s : marked) {
      if (s == nullptr || !s->isAborting()) return false;
    }
    return !m_threadPool->addTask([](void*) {}, nullptr);
  }

  int missingServices() const {
    const void* services[] = {m_app,   m_logger, m_config,     m_tracer,  m_data,     m_localData, m_argv,
                              m_utils, m_crypt,  m_threadPool, m_memPool, m_shareMem, m_channelMgr};
    int missing = 0;
    for (const void* s : services) missing += s == nullptr ? 1 : 0;
    return missing;
  }

  template <typename... Args>
  void report(const char* fmt, Args... args) {
    printf("%s:", m_name);
    printf(fmt, args...);
    printf("\n");
    fflush(stdout);
  }
};

}  // namespace

extern "C" KQ_MODULE_VISIBLE bg::Interface* get_component(bg::Interface* /*cd*/) {
  static TestComponent component;
  return &component;
}
