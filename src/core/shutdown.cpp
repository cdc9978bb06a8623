#include "core/admin_state.h"
#include "diagnostics/call_guard.h"
#include "kqbridge/registry.h"

namespace bg {

namespace {

void setAborting(Abstract_Base* service) {
  if (service != nullptr) service->setAborting(true);
}

}  // namespace

// The walks are static members named "travell" because their log lines carry
// the function's name.
bool Admin::uninit() {
  TraceScope scope("uninit", __LINE__);
  BG_LOG(ERROR, "[Admin] ::uninit @==@");
  // The admin endpoint goes first, after the answers in progress, so that
  // nothing it does reaches a component that is stopping.
  m_state->roster.stopping();
  if (m_state->endpoint != nullptr) m_state->endpoint->stop();
  abortThreadAndChannel();
  BG_LOG(ERROR, "[Admin] abort all thread success");
  struct StopWalk {
    static void travell(const char* name, void* inst, void* user) {
      Admin* admin = static_cast<Admin*>(user);
      if (inst == admin || !admin->isManaged(inst)) return;
      Interface* comp = static_cast<Interface*>(inst);
      auto& records = admin->m_state->components;
      BG_LOG(ERROR, "> before uninit cmp '%s'", name);
      callComponent(name, "uninit()", [comp] { comp->uninit(); });
      releaseComponentServices(comp, &records[comp]);
      records.erase(comp);
      BG_LOG(ERROR, "> uninit cmp '%s' OK", name);
    }
  };
  travellInstance(&StopWalk::travell, this);
  // Components that are not registered any more (their init() failed, or a
  // later one took their name) were not stopped, but their services go all
  // the same: the next set-up of the same object must start afresh.
  for (auto& entry : m_state->components)
    releaseComponentServices(static_cast<Interface*>(const_cast<void*>(entry.first)), &entry.second);
  m_state->components.clear();
  m_state->roster.clear();
  clearInstance();
  BG_LOG(ERROR, "[Admin] ::uninit end @==@");
  return true;
}

// Flags come first so that every job and channel loop sees the stop request
// before the pool waits for the running jobs to return.
void Admin::abortThreadAndChannel() {
  TraceScope scope("abortThreadAndChannel", __LINE__);
  struct AbortWalk {
    static void travell(const char* name, void* inst, void* user) {
      if (!static_cast<Admin*>(user)->isManaged(inst)) return;
      Interface* obj = static_cast<Interface*>(inst);
      BG_LOG(DEBUG, "set aborting cmps: key=%s, inst=%p", name, inst);
      setAborting(obj->m_app);
      setAborting(obj->m_channelMgr);
      setAborting(obj->m_threadPool);
      setAborting(obj->m_data);
      setAborting(obj->m_config);
      setAborting(obj->m_crypt);
      setAborting(obj->m_shareMem);
      setAborting(obj->m_memPool);
      BG_LOG(DEBUG, "set aborting cmps '%s' End", name);
    }
  };
  travellInstance(&AbortWalk::travell, this);
  BG_LOG(ERROR, "set all abort success");
  m_state->shared.channelMgr->exit();
  BG_LOG(ERROR, "channelMgr exit success");
  m_state->shared.threadPool->exit();
  BG_LOG(ERROR, "thPool exit success");
}

}  // namespace bg
