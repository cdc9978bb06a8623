// The connection to the broker, and the threads that serve it. One of them at
// a time drives libmosquitto's network loop (the leader): it connects without
// blocking the host, reconnects with a capped backoff, announces this node
// ("online" retained, "offline" as the last will) and resubscribes after
// every connect. The leader runs a call that came in itself, so that it is
// answered without a switch of threads; the others run calls when several
// come at once, and one of them watches that a slow call does not keep the
// network waiting. The only code that knows libmosquitto.
#ifndef KQBRIDGE_REMOTE_LINK_H_
#define KQBRIDGE_REMOTE_LINK_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/mutex.h"
#include "settings.h"

struct mosquitto;

namespace remote {

// One message from the broker, copied out of the library.
struct Inbound {
  std::string topic;
  std::string payload;
  std::string responseTopic;
  std::string correlation;
  bool hasCorrelation = false;
  std::string origin;  // the "origin" user property, if any
};

// The MQTT 5 properties a message may carry; null means absent.
struct Extras {
  const std::string* responseTopic = nullptr;
  const std::string* correlation = nullptr;
  const std::string* origin = nullptr;
};

// What the link reports, always on the leading thread. onMessage and onDown
// run inside the library's callbacks: they must not publish, and may only take
// locks that are never held around a publish (addJob's included). onConnected
// and onTick run outside them and may publish.
class LinkEvents {
 public:
  virtual ~LinkEvents() = default;
  // Connected; called before the subscriptions are made, so what is published
  // here reaches the broker before any retained message reaches us.
  virtual void onConnected() = 0;
  // The connection went, or an attempt failed; `cause` says why.
  virtual void onDown(const std::string& cause) = 0;
  virtual void onMessage(const Inbound& message) = 0;
  // About four times a second, whatever the connection does.
  virtual void onTick() = 0;
};

class Link {
 public:
  enum class State { kStarting, kUp, kDown };

  // `filters` are the topic filters subscribed after each connect; up to
  // `workers` jobs run at once.
  Link(const Settings& settings, std::vector<std::string> filters, LinkEvents* events, int workers);
  // Stops the threads (as stop()) and releases the library's client.
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Sets the client up and starts the threads; returns at once. False, with
  // the reason in `why`, when the settings cannot be used (TLS in a build
  // without it, a certificate file that cannot be read).
  bool start(std::string* why);
  // Joins the threads (running jobs end first, waiting ones are dropped), then
  // announces "offline", unsubscribes and disconnects, giving the broker
  // about a second at most. Safe to call twice; never from a job.
  void stop() EXCLUDES(m_lock);

  // Queues a job; false when `kJobBacklog` wait already or jobs are closed.
  bool addJob(std::function<void()> job) EXCLUDES(m_lock);
  // Jobs wait until opened.
  void openJobs() EXCLUDES(m_lock);
  // Drops the waiting jobs, refuses new ones and returns once the running
  // ones have returned. Never from a job.
  void closeJobs() EXCLUDES(m_lock);
  bool jobsClosed() EXCLUDES(m_lock);
  // For a job about to wait for the network (a call to another node): when it
  // runs on the leading thread, the network passes to another thread now.
  void releaseLead() EXCLUDES(m_lock);

  // Safe from any thread. False at once, with the reason, while not connected.
  bool publish(const std::string& topic, const std::string& payload, int qos, bool retain,
               const Extras& extras, std::string* why);

  // kStarting until the first attempt has an outcome, then kUp (connected and
  // subscribed) or kDown.
  State state() const { return m_state.load(); }
  // Between the broker's acceptance and the loss of the connection.
  bool connected() const { return m_connected.load(); }
  // Waits while the state is kStarting, at most until `deadline` and while
  // `abort()` is false; returns the state then.
  State waitStarted(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& abort)
      EXCLUDES(m_lock);

 private:
  // libmosquitto's callbacks, kept in link.cpp with the library's types.
  struct Callbacks;

  // What every thread runs: lead, run a job, or wait for either; one idle
  // thread at a time watches the leader's job. Holds m_lock but around the
  // network loop and each job.
  void work() EXCLUDES(m_lock);
  // Runs the jobs and the network loop until stop(), a hand-over or the lead
  // taken away (the lead's term no longer `term`).
  void lead(uint64_t term) REQUIRES(m_lock);
  bool hasJob() const REQUIRES(m_lock);
  // Runs the first waiting job, as the leader or as a worker.
  void runJob(bool leading) REQUIRES(m_lock);
  // Leaves the lead to the next thread that looks, and wakes one.
  void vacateLead() REQUIRES(m_lock);
  // One turn of the network loop: connects, waits for traffic up to kLoopMs,
  // reads and writes, and reports the outcome.
  void turn();
  // Returns a libmosquitto result code.
  int serviceSocket();
  void afterConnect();
  // Marks the link down once per loss, logging each new cause once.
  void lost(const std::string& cause);
  void setState(State s) EXCLUDES(m_lock);
  // Waits `ms` unless stop() comes first.
  void pause(int ms) EXCLUDES(m_lock);
  void closeCleanly();

  const Settings& m_settings;
  const std::vector<std::string> m_filters;
  LinkEvents* const m_events;
  std::string m_statusTopic;
  bool m_libraryReady = false;
  mosquitto* m_mosq = nullptr;
  const int m_workers;
  std::vector<std::thread> m_threads;

  std::atomic<State> m_state{State::kStarting};
  // Between CONNACK and the loss of the connection; publishers read it.
  std::atomic<bool> m_connected{false};
  std::atomic<bool> m_stop{false};
  // The goodbye's message ids, reset to 0 once the broker acknowledged them.
  std::atomic<int> m_goodbyeMid{0};

  // Guards the jobs and the roles of the threads, and the waits on the flags above.
  bg::platform::Mutex m_lock;
  bg::platform::CondVar m_changed;
  // Where idle threads wait for the lead; one is woken when it is handed over.
  bg::platform::CondVar m_leadFree;
  // Where the watching idle thread waits, woken by its timeout.
  bg::platform::CondVar m_watch;
  std::deque<std::function<void()>> m_jobs GUARDED_BY(m_lock);
  bool m_jobsOpen GUARDED_BY(m_lock) = false;
  bool m_jobsClosed GUARDED_BY(m_lock) = false;
  bool m_leading GUARDED_BY(m_lock) = false;   // some thread drives the network
  uint64_t m_leadTerm GUARDED_BY(m_lock) = 0;  // counts leads; a leader sees its own end
  bool m_watching GUARDED_BY(m_lock) = false;
  bool m_leaderInJob GUARDED_BY(m_lock) = false;  // the leader runs a job, since m_leaderJobSince
  std::chrono::steady_clock::time_point m_leaderJobSince GUARDED_BY(m_lock);
  std::thread::id m_leader GUARDED_BY(m_lock);  // the thread of the job above
  int m_idle GUARDED_BY(m_lock) = 0;            // threads waiting for a job or the lead
  int m_running GUARDED_BY(m_lock) = 0;         // jobs running

  // Used by the leading thread only; the lead passes under m_lock.
  bool m_justConnected = false;
  bool m_socketOpen = false;
  int m_retryMs;
  std::chrono::steady_clock::time_point m_nextTick;
  int m_subscribeMid = -1;
  int m_unsubscribeMid = 0;
  std::string m_lastCause;  // of the last loss, so that a repeated one is logged once
  std::string m_refusal;    // the broker's reason when it refused the connection
};

}  // namespace remote

#endif  // KQBRIDGE_REMOTE_LINK_H_
