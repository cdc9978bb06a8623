// The admin endpoint of a central object: a same-user pipe named
// "kqbridge.<executable name>.<pid>" on which kqbridge-ctl (or any client
// that speaks the pipes' framing) asks one JSON request per connection and
// gets one JSON answer. While nobody asks it holds one thread, blocked in
// the pipe's accept; each connection is answered on a worker thread, made
// when none is idle (up to a bound) and ended after a while without work,
// so a request that waits on a slow component never holds up another.
// start, stop and the destructor are called by the central object's thread,
// stop also by a worker that delivers the stop message.
#ifndef KQBRIDGE_ADMIN_ADMIN_ENDPOINT_H_
#define KQBRIDGE_ADMIN_ADMIN_ENDPOINT_H_

#include <deque>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "admin/admin_answers.h"
#include "platform/mutex.h"

namespace bg {

namespace platform {
struct PipeListener;
struct PipeConnection;
}  // namespace platform

// "kqbridge.<name>.<pid>", with `exeName` cut to the characters a pipe's
// socket file keeps as they are (A-Z a-z 0-9 _ -), so that the name can be
// read back from the pipe directory.
std::string adminPipeName(const std::string& exeName, long pid);

// Whether the central object serves its endpoint (SetAdminPipe).
bool adminPipeEnabled();

class AdminEndpoint {
 public:
  // Serves the pipe for `central`; null, after one line on stderr, when the
  // name cannot be served. The services and `roster` outlive the endpoint.
  static AdminEndpoint* start(Interface* central, const ComponentRoster* roster);
  // stop().
  ~AdminEndpoint();
  AdminEndpoint(const AdminEndpoint&) = delete;
  AdminEndpoint& operator=(const AdminEndpoint&) = delete;

  // Stops accepting, removes the name, drops connections nobody took,
  // waits for the answers in progress to go out (on a worker, for all but
  // its own) and joins the workers that have ended. Later calls wait for
  // the same.
  void stop();
  const std::string& name() const { return m_host.name; }

 private:
  AdminEndpoint(const AdminHost& host, platform::PipeListener* listener);
  void acceptLoop();
  void hand(platform::PipeConnection* connection);
  void workerLoop();
  void serve(platform::PipeConnection* connection);
  // Whether this worker is the one to deliver the stop message.
  bool claimStop();
  // Joins the workers that have ended.
  void reapLocked() REQUIRES(m_lock);

  AdminHost m_host;
  platform::PipeListener* m_listener;
  std::thread m_acceptor;

  platform::Mutex m_lock;
  platform::CondVar m_work;     // a connection waits, or the endpoint stops
  platform::CondVar m_changed;  // a worker ended, or the acceptor did
  std::deque<platform::PipeConnection*> m_waiting GUARDED_BY(m_lock);
  std::map<std::thread::id, std::thread> m_workers GUARDED_BY(m_lock);
  std::vector<std::thread::id> m_ended GUARDED_BY(m_lock);
  int m_live GUARDED_BY(m_lock) = 0;  // workers not yet ended
  int m_idle GUARDED_BY(m_lock) = 0;
  bool m_stopping GUARDED_BY(m_lock) = false;
  bool m_acceptorDone GUARDED_BY(m_lock) = false;
  bool m_stopClaimed GUARDED_BY(m_lock) = false;
};

}  // namespace bg

#endif  // KQBRIDGE_ADMIN_ADMIN_ENDPOINT_H_
