// One run of the remote module, from init to uninit: the broker link, the
// proxies of the imported components, the mirrored keys, and the serving of
// calls to the exported components.
#ifndef KQBRIDGE_REMOTE_SESSION_H_
#define KQBRIDGE_REMOTE_SESSION_H_

#include <kqbridge/data.h>
#include <kqbridge/thread_pool.h>

#include <atomic>
#include <deque>
#include <string>
#include <vector>

#include "caller.h"
#include "lane.h"
#include "link.h"
#include "mirror.h"
#include "settings.h"

namespace remote {

class Session final : public LinkEvents {
 public:
  Session(Settings settings, bg::Abstract_Datas* bus, bg::Abstract_ThreadPool* pool);
  ~Session() override;

  // Registers the proxies and the bus filter and starts connecting; never
  // waits for the network. False, with the reason, when the link cannot start.
  bool start(std::string* why);
  // Starts serving calls and applying mirrored values: every module is
  // loaded and started by now. Until then they wait. On the host's thread.
  void serve();
  // Answers every waiting call, says goodbye to the broker, and removes the
  // proxies. Nothing of the session is freed, so a proxy reached late still
  // answers (empty). Safe to call twice.
  void stop();
  bool up() const { return m_link.state() == Link::State::kUp; }

  void onConnected() override;
  void onDown(const std::string& cause) override;
  void onMessage(const Inbound& in) override;
  void onTick() override;

 private:
  static void guard(void* self);
  std::vector<std::string> filters() const;
  void serveCall(const std::string& component, const Inbound& in);
  void answer(const Inbound& in, const std::string& textForm);

  const Settings m_settings;
  bg::Abstract_ThreadPool* const m_pool;
  Link m_link;
  Caller m_caller;
  Mirror m_mirror;
  Lane m_values;  // values and scans, in arrival order
  std::deque<Proxy> m_proxies;
  std::atomic<bool> m_scanQueued{false};
  bool m_guarding = false;
  bool m_stopped = false;
};

}  // namespace remote

#endif  // KQBRIDGE_REMOTE_SESSION_H_
