// remote.dll between real hosts through a real Mosquitto broker that each
// test starts on a free port: calls, mirrored keys, presence, a lost callee
// and a lost broker, credentials and TLS, and a hostile publisher.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <kqbridge/kqbridge.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "remote/settings.h"
#include "support/bridge_sandbox.h"
#include "support/mqtt_broker.h"
#include "support/test_support.h"

namespace {

using kqtest::Broker;
using kqtest::Child;
using kqtest::contains;

const char kPeer[] = KQ_TEST_MODULE_DIR "/remote_peer.dll";

std::string node(const std::string& url, const std::string& name, const std::string& more) {
  return "Broker : " + url + "\nNode : " + name + "\n" + more;
}

std::string dirFor(const kqtest::TempDir& td, const std::string& name) {
  std::string dir = td.file(name);
  mkdir(dir.c_str(), 0755);
  return dir;
}

void writeConfs(const kqtest::Sandbox& box, const std::string& remoteConf) {
  box.writeAdminConf("LogStdout : true\n");
  kqtest::writeFile(box.configDir() + "/conf/remote.conf", "#Bridge Config (#note)\n" + remoteConf);
}

// kqbridge-host with remote.dll and the peer, named "p" + node name.
std::unique_ptr<Child> startHost(const std::string& root, const std::string& name, const std::string& conf) {
  return std::make_unique<Child>([=] {
    kqtest::Sandbox box(root, "kqbridge-host");
    box.enter();
    writeConfs(box, conf);
    setenv("KQ_PEER_NAME", ("p" + name).c_str(), 1);
    return kqtest::runProgram(KQ_HOST_PATH, {"kqbridge-host", "--start", KQ_REMOTE_MODULE, kPeer});
  });
}

// A bridge of this program with remote.dll alone, in a child; `body` runs
// once it has started, and its result is the child's status.
std::unique_ptr<Child> startBridge(const std::string& root, const std::string& conf,
                                   std::function<int()> body) {
  return std::make_unique<Child>([=] {
    kqtest::Sandbox box(root);
    box.enter();
    writeConfs(box, conf);
    box.addModule("remote.dll");
    box.init();
    box.load({"remote.dll"}, true);
    int rc = body();
    bg::UninitBridge();
    return rc;
  });
}

bg::Value call(const char* to, int cmd, const char* text, long long word3 = 0, int sub = 0) {
  BridgeMsg msg = {cmd, sub, text, static_cast<intptr_t>(word3), 0};
  return bg::CD->call(to, msg);
}

long long msSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

bool sees(Child& c, const std::string& text, int seconds = 60) {
  return c.waitOutput([&] { return contains(c.out, text); }, seconds);
}

int stop(Child& c) {
  kill(c.pid(), SIGTERM);
  return c.finish();
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A request from an outside MQTT 5 client: the answer's payload.
std::string request(const Broker& b, const std::string& topic, const std::string& json) {
  std::vector<std::string> args = b.where();
  args.insert(args.end(), {"-t", topic, "-e", "kqtest/reply", "-m", json, "-W", "30", "-N"});
  return kqtest::mqttClient("mosquitto_rr", args).out;
}

// remote.conf as the module reads it: each row's entries, and what came of
// them (host:port tls node | exports | imports | exact keys | prefixes |
// timeout | problems | credentials and files), with whether the module can
// run at all.
TEST(RemoteSettings, EntriesAreCheckedOneByOne) {
  kqtest::EnvGuard env;
  env.set("COMPUTERNAME", "my host!");
  const struct {
    std::vector<std::pair<const char*, const char*>> entries;
    bool usable;
    const char* read;
  } rows[] = {
      {{{"Broker", "mqtts://[::1]:8884/"},
        {"Node", "n-1.x_y"},
        {"Export", "pa, *,"},
        {"Import", "pb@b, bad, c@, a23456789012345678901234567890123@n, x@bad name"},
        {"Keys", "k.one, k.t*, a+b, #"},
        {"CallTimeoutMs", "250"},
        {"Username", "u "},
        {"Password", "p"},
        {"CAFile", "ca"},
        {"CertFile", "c"},
        {"KeyFile", "k"}},
       true,
       "::1:8884 1 n-1.x_y|pa*|pb@b|k.one|k.t|250|6|upcack"},
      {{{"Broker", "mqtt://h"}, {"Node", ""}, {"CallTimeoutMs", "0"}}, true, "h:1883 0 myhost|||||5000|1|"},
      {{{"Broker", "http://h"}, {"Node", "bad name"}}, false, "localhost:1883 0 bad name|||||5000|2|"},
      {{{"Broker", "mqtt://h:70000"}}, false, "localhost:1883 0 myhost|||||5000|1|"},
      {{{"Broker", "mqtt://a@b"}}, false, "localhost:1883 0 myhost|||||5000|1|"},
  };
  for (const auto& row : rows) {
    bg::Config conf("");
    for (const auto& entry : row.entries) conf.setValue(entry.first, entry.second);
    remote::Settings s;
    std::vector<std::string> problems;
    EXPECT_EQ(remote::readSettings(&conf, &s, &problems), row.usable) << row.read;
    std::string read =
        s.host + ":" + std::to_string(s.port) + " " + std::to_string(s.tls) + " " + s.node + "|";
    for (const std::string& e : s.exports) read += e;
    read += s.exportAll ? "*|" : "|";
    for (const remote::Import& i : s.imports) read += i.component + "@" + i.node;
    read += "|";
    for (const std::string& k : s.exactKeys) read += k;
    read += "|";
    for (const std::string& k : s.keyPrefixes) read += k;
    read += "|" + std::to_string(s.callTimeoutMs) + "|" + std::to_string(problems.size()) + "|";
    EXPECT_EQ(read + s.username + s.password + s.caFile + s.certFile + s.keyFile, row.read);
  }
  EXPECT_TRUE(remote::isNodeName(std::string(64, 'n')) && !remote::isNodeName(std::string(65, 'n')));
  remote::Settings s;
  s.exports = {"Admin"};
  s.exactKeys = {"k.one"};
  s.keyPrefixes = {"k.t"};
  EXPECT_TRUE(s.exported("Admin") && !s.exported("pa") && s.mirrored("k.one") && s.mirrored("k.two"));
  s.exports.clear();
  s.exportAll = true;
  EXPECT_TRUE(s.exported("pa") && !s.exported("Admin") && !s.mirrored("k.on") && !s.mirrored("k"));
}

TEST(Remote, CallsGoBothWaysAndAnyMqttClientMayCall) {
  kqtest::TempDir td;
  Broker broker(td.path());
  ASSERT_TRUE(broker.start());
  auto a = startHost(dirFor(td, "a"), "a", node(broker.url(), "a", "Export : pa\nImport : pb@b\n"));
  auto b = startHost(dirFor(td, "b"), "b", node(broker.url(), "b", "Export : pb\nImport : pa@a\n"));
  ASSERT_TRUE(sees(*a, "connected to broker") && sees(*b, "connected to broker")) << a->out << b->out;
  struct Case {
    const char* topic;
    const char* json;
    const char* answer;
  };
  const Case cases[] = {
      // The peer on one host passes the call to the other host's peer.
      {"kqbridge/a/call/pa", R"({"cmd":4,"sub":1,"text":"pb","word3":5,"word4":-6})",
       R"({"value":"[str]Admin|1|0||5|-6"})"},
      {"kqbridge/b/call/pb", R"({"cmd":4,"sub":1,"text":"pa","word3":-9000000000,"word4":2})",
       R"({"value":"[str]Admin|1|0||-9000000000|2"})"},
      {"kqbridge/b/call/pb", R"({"from":"py","cmd":1,"sub":2,"text":"\"é\"","word3":3})",
       R"({"value":"[str]py|1|2|\"é\"|3|0"})"},
      // Only exported components answer; a proxy never passes a call on.
      {"kqbridge/b/call/remote", R"({"cmd":1,"sub":0})", R"({"value":"<null>"})"},
      {"kqbridge/b/call/pa", R"({"cmd":1,"sub":0})", R"({"value":"<null>"})"},
  };
  for (const Case& c : cases) EXPECT_EQ(request(broker, c.topic, c.json), c.answer) << c.topic << c.json;
  EXPECT_EQ(stop(*a), 0) << a->err;
  EXPECT_EQ(stop(*b), 0) << b->err;
  EXPECT_TRUE(
      contains(b->out, "refused a call to 'remote' from '' (answer to 'kqtest/reply'): it is not exported"))
      << b->out;
  EXPECT_FALSE(contains(a->out + b->out, "failed")) << "calls that were answered";
}

TEST(Remote, EveryConcurrentCallGetsItsOwnAnswer) {
  kqtest::TempDir td;
  Broker broker(td.path());
  ASSERT_TRUE(broker.start());
  auto b = startHost(dirFor(td, "b"), "b", node(broker.url(), "b", "Export : pb\n"));
  ASSERT_TRUE(sees(*b, "connected to broker")) << b->out;
  auto a =
      startBridge(dirFor(td, "a"), node(broker.url(), "a", "Import : pb@b\nCallTimeoutMs : 60000\n"), [] {
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
          threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 1000; ++i) {
              std::string text = "t" + std::to_string(t) + "-" + std::to_string(i);
              BridgeMsg msg = {1, t, text.c_str(), i * 7919LL, -t};
              std::string expected = "Admin|1|" + std::to_string(t) + "|" + text + "|" +
                                     std::to_string(i * 7919LL) + "|" + std::to_string(-t);
              if (bg::CD->call("pb", msg).toStdString() != expected) wrong++;
            }
          });
        }
        for (std::thread& th : threads) th.join();
        printf("wrong answers: %d\n", wrong.load());
        return wrong == 0 ? 0 : 1;
      });
  EXPECT_EQ(a->finish(600), 0) << a->out << a->err;
  EXPECT_EQ(stop(*b), 0) << b->err;
}

// A call that sleeps on b must not hold up b's network, and b's calls that
// call back to a while they run must be answered at once, not after b
// notices that they take a while.
TEST(Remote, ASlowCallHoldsUpNothingAndCallsBackAnswerAtOnce) {
  kqtest::TempDir td;
  Broker broker(td.path());
  ASSERT_TRUE(broker.start());
  auto a = startHost(dirFor(td, "a"), "a", node(broker.url(), "a", "Export : pa\n"));
  auto b = startHost(dirFor(td, "b"), "b", node(broker.url(), "b", "Export : pb\nImport : pa@a\n"));
  ASSERT_TRUE(sees(*a, "connected to broker") && sees(*b, "connected to broker")) << a->out << b->out;
  auto c = startBridge(dirFor(td, "c"), node(broker.url(), "c", "Import : pb@b\n"), [] {
    std::string slow;
    std::thread sleeper([&] { slow = call("pb", 3, "", 4000).toStdString(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // Were each to wait until b hands its network on, they would take 25 ms
    // at least; behind the sleeper, 3.5 s.
    const int kCalls = 60;
    int right = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i) {
      std::string want = "Admin|1|0||" + std::to_string(i) + "|0";
      if (call("pb", 4, "pa", i, 1).toStdString() == want) right++;
    }
    long long ms = msSince(t0);
    sleeper.join();
    printf("%d of %d right in %lld ms; the sleeper: %s\n", right, kCalls, ms, slow.c_str());
    return right == kCalls && ms < 1200 && slow == "woke" ? 0 : 1;
  });
  EXPECT_EQ(c->finish(), 0) << c->out << c->err;
  EXPECT_EQ(stop(*a), 0) << a->err;
  EXPECT_EQ(stop(*b), 0) << b->err;
}

TEST(Remote, MirroredKeysReachOtherNodesLateOnesTooAndNeverComeBack) {
  kqtest::TempDir td;
  Broker broker(td.path());
  ASSERT_TRUE(broker.start());
  std::vector<std::unique_ptr<Child>> hosts;
  for (const char* name : {"a", "b"})
    hosts.push_back(startHost(dirFor(td, name), name, node(broker.url(), name, "Export : *\nKeys : k.*\n")));
  Child& a = *hosts[0];
  Child& b = *hosts[1];
  ASSERT_TRUE(sees(a, "connected to broker") && sees(b, "connected to broker")) << a.out << b.out;
  // setDataNotify, and setData, which notifies nobody on its own node.
  request(broker, "kqbridge/a/call/pa", R"({"cmd":2,"sub":0,"text":"k.one","word3":5})");
  request(broker, "kqbridge/a/call/pa", R"({"cmd":2,"sub":1,"text":"k.two","word3":6})");
  EXPECT_TRUE(sees(b, "pb: k.one=[i]5") && sees(b, "pb: k.two=[i]6")) << b.out;
  hosts.push_back(startHost(dirFor(td, "c"), "c", node(broker.url(), "c", "Keys : k.one, k.t*\n")));
  EXPECT_TRUE(sees(*hosts[2], "pc: k.one=[i]5") && sees(*hosts[2], "pc: k.two=[i]6")) << hosts[2]->out;
  for (auto& h : hosts) EXPECT_EQ(stop(*h), 0) << h->err;
  EXPECT_EQ(count(a.out, "pa: k.one="), 1u) << a.out;
  EXPECT_EQ(count(a.out, "pa: k.two="), 0u) << a.out;
  EXPECT_EQ(count(b.out, "pb: k.one="), 1u) << b.out;
}

TEST(Remote, AKilledCalleeAnswersEmptyAtOnceAndGoesOffline) {
  kqtest::TempDir td;
  Broker broker(td.path());
  ASSERT_TRUE(broker.start());
  auto b = startHost(dirFor(td, "b"), "b", node(broker.url(), "b", "Export : pb\n"));
  ASSERT_TRUE(sees(*b, "connected to broker")) << b->out;
  auto a =
      startBridge(dirFor(td, "a"), node(broker.url(), "a", "Import : pb@b\nCallTimeoutMs : 30000\n"), [] {
        auto t0 = std::chrono::steady_clock::now();
        bool valid = call("pb", 3, "", 120000).isValid();
        printf("answer valid=%d after %lld ms\n", valid ? 1 : 0, msSince(t0));
        return valid || call("pb", 1, "again").isValid() ? 1 : 0;
      });
  ASSERT_TRUE(sees(*b, "pb: sleeping")) << b->out;
  // Call ids start at random: an answer numbered as a fresh run would number
  // its first call (one meant for an earlier run) is not taken for this one.
  std::vector<std::string> stale = broker.where();
  stale.insert(stale.end(), {"-V", "5", "-t", "kqbridge/a/reply", "-m", R"({"value":"[str]stale"})", "-D",
                             "publish", "correlation-data", "1"});
  ASSERT_EQ(kqtest::mqttClient("mosquitto_pub", stale).status, 0);
  kill(b->pid(), SIGKILL);
  b->finish();
  ASSERT_EQ(a->finish(), 0) << a->out << a->err;
  long long ms = atoll(a->out.substr(a->out.find(" after ") + 7).c_str());
  EXPECT_LT(ms, 15000) << a->out;
  EXPECT_TRUE(contains(a->out, "call to 'pb' on node 'b' failed: the node went offline")) << a->out;
  EXPECT_TRUE(contains(a->out, "call to 'pb' on node 'b' failed: the node is offline")) << a->out;
  std::vector<std::string> args = broker.where();
  args.insert(args.end(), {"-t", "kqbridge/b/status", "-C", "1", "-W", "30"});
  EXPECT_EQ(kqtest::mqttClient("mosquitto_sub", args).out, "offline\n");
}

// A call the broker would not take fails at once, and leaves nothing
// waiting; such a value is not mirrored, and says so once.
TEST(Remote, ACallOrValueTooBigForTheBrokerFailsAtOnce) {
  kqtest::TempDir td;
  Broker broker(td.path(), "allow_anonymous true\nmax_packet_size 2000\n");
  ASSERT_TRUE(broker.start());
  auto a = startBridge(dirFor(td, "a"), node(broker.url(), "a", "Import : pb@b\nKeys : k.*\n"), [] {
    const std::string big(5000, 'x');
    for (const char* end : {"!", "?"})
      bg::CD->m_data->setDataNotify("k.big", bg::Value((big + end).c_str()), true);
    return call("pb", 1, big.c_str()).isValid() ? 1 : 0;
  });
  EXPECT_EQ(a->finish(), 0) << a->out << a->err;
  EXPECT_TRUE(contains(a->out, "call to 'pb' on node 'b' failed: ")) << a->out;
  EXPECT_EQ(count(a->out, "key 'k.big' cannot be mirrored"), 1u) << a->out;
}

// A local port that takes connections and hangs up at once, counting them.
class HangUp {
 public:
  HangUp() : m_fd(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    bind(m_fd, reinterpret_cast<sockaddr*>(&addr), len);
    listen(m_fd, 16);
    getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_url = "mqtt://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    m_thread = std::thread([this] {
      while (!m_stop) {
        pollfd p = {m_fd, POLLIN, 0};
        if (poll(&p, 1, 50) != 1) continue;
        int peer = accept(m_fd, nullptr, nullptr);
        if (peer >= 0) close(peer), ++accepted;
      }
    });
  }
  ~HangUp() {
    m_stop = true;
    m_thread.join();
    close(m_fd);
  }
  const std::string& url() const { return m_url; }
  std::atomic<int> accepted{0};

 private:
  int m_fd;
  std::string m_url;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// Neither a port without a broker nor one that hangs up holds a host up; the
// tries against the latter come ever more seldom.
TEST(Remote, WithoutItsBrokerAHostStartsAndStopsAtOnceAndTriesAgainLessOften) {
  kqtest::TempDir td;
  Broker nobody(td.path());  // names a port, never started
  ASSERT_TRUE(nobody.start());
  nobody.kill();
  HangUp rude;
  for (const std::string& url : {nobody.url(), rude.url()}) {
    auto h = startHost(dirFor(td, "h"), "h", node(url, "h", "Import : x@y\nKeys : k.*\n"));
    ASSERT_TRUE(sees(*h, "unreachable")) << h->out;
    int before = rude.accepted;
    if (url == rude.url()) std::this_thread::sleep_for(std::chrono::seconds(4));
    // From 100 ms, doubling: a handful in 4 s; every 100 ms, forty.
    EXPECT_LE(rude.accepted - before, 12);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(stop(*h), 0) << h->err;
    EXPECT_LT(msSince(t0), 3000);
  }
  EXPECT_GE(rude.accepted, 2);
}

TEST(Remote, StoppingAnswersTheCallsThatWait) {
  kqtest::TempDir td;
  Broker broker(td.path());
  ASSERT_TRUE(broker.start());
  auto b = startHost(dirFor(td, "b"), "b", node(broker.url(), "b", "Export : pb\n"));
  ASSERT_TRUE(sees(*b, "connected to broker")) << b->out;
  auto a =
      startBridge(dirFor(td, "a"), node(broker.url(), "a", "Import : pb@b\nCallTimeoutMs : 60000\n"), [] {
        std::atomic<int> answered{-1};
        std::thread caller([&] { answered = call("pb", 3, "", 4000).isValid() ? 1 : 0; });
        std::this_thread::sleep_for(std::chrono::seconds(1));
        auto t0 = std::chrono::steady_clock::now();
        bg::UninitBridge();
        caller.join();
        printf("answered=%d, stopped after %lld ms\n", answered.load(), msSince(t0));
        return answered == 0 && msSince(t0) < 5000 ? 0 : 1;
      });
  EXPECT_EQ(a->finish(), 0) << a->out << a->err;
  EXPECT_EQ(stop(*b), 0) << b->err;
}

TEST(Remote, WhileTheBrokerIsDownCallsFailFastAndChangesWait) {
  kqtest::TempDir td;
  Broker broker(td.path());
  ASSERT_TRUE(broker.start());
  auto b = startHost(dirFor(td, "b"), "b", node(broker.url(), "b", "Export : pb\nKeys : k.*\n"));
  ASSERT_TRUE(sees(*b, "connected to broker")) << b->out;
  auto a = startBridge(dirFor(td, "a"),
                       node(broker.url(), "a", "Import : pb@b\nKeys : k.*\nCallTimeoutMs : 3000\n"), [] {
                         auto linkUp = [] { return call("remote", 0, "").toBool(); };
                         if (!call("pb", 1, "x").isValid()) return 11;
                         puts("first call answered");
                         fflush(stdout);
                         if (!kqtest::waitFor([&] { return !linkUp(); })) return 12;
                         auto t0 = std::chrono::steady_clock::now();
                         if (call("pb", 1, "y").isValid() || msSince(t0) > 1000) return 13;
                         bg::CD->m_data->setDataNotify("k.meanwhile", bg::Value(7), true);
                         puts("set while down");
                         fflush(stdout);
                         if (!kqtest::waitFor([] { return call("pb", 1, "z").isValid(); }, 120)) return 14;
                         return 0;
                       });
  ASSERT_TRUE(sees(*a, "first call answered")) << a->out;
  broker.kill();
  ASSERT_TRUE(sees(*a, "set while down")) << a->out;
  ASSERT_TRUE(broker.start());
  EXPECT_EQ(a->finish(), 0) << a->out << a->err;
  EXPECT_TRUE(sees(*b, "pb: k.meanwhile=[i]7")) << b->out;
  EXPECT_EQ(stop(*b), 0) << b->err;
}

TEST(Remote, PasswordsAndTlsGuardTheBroker) {
  kqtest::TempDir td;
  ASSERT_TRUE(kqtest::makeTestCertificates(td.path()));
  ASSERT_EQ(kqtest::mqttClient("mosquitto_passwd", {"-b", "-c", td.file("passwords"), "kq", "secret"}).status,
            0);
  Broker broker(td.path(), "allow_anonymous false\npassword_file " + td.file("passwords") + "\ncafile " +
                               td.file("ca.crt") + "\ncertfile " + td.file("server.crt") + "\nkeyfile " +
                               td.file("server.key") + "\n");
  ASSERT_TRUE(broker.start());
  std::string tls = "CAFile : " + td.file("ca.crt") + "\nUsername : kq\n";
  auto b = startHost(dirFor(td, "b"), "b",
                     node(broker.url("mqtts"), "b", "Export : pb\nPassword : secret\n" + tls));
  auto c = startHost(dirFor(td, "c"), "c", node(broker.url("mqtts"), "c", "Password : wrong\n" + tls));
  ASSERT_TRUE(sees(*b, "connected to broker")) << b->out;
  auto a =
      startBridge(dirFor(td, "a"), node(broker.url("mqtts"), "a", "Import : pb@b\nPassword : secret\n" + tls),
                  [] { return call("pb", 1, "over tls").toStdString() == "Admin|1|0|over tls|0|0" ? 0 : 1; });
  EXPECT_EQ(a->finish(), 0) << a->out << a->err;
  EXPECT_TRUE(sees(*c, "refused")) << c->out;
  EXPECT_FALSE(contains(c->out, "connected to broker"));
  // A certificate authority file that is not there stops the module, and the
  // host with it, before it connects.
  auto d = startHost(dirFor(td, "d"), "d", node(broker.url("mqtts"), "d", "CAFile : " + td.file("none.crt")));
  EXPECT_TRUE(sees(*d, "remote: cannot start")) << d->out;
  EXPECT_EQ(d->finish(), 1) << d->err;
  EXPECT_EQ(stop(*b), 0) << b->err;
  EXPECT_EQ(stop(*c), 0) << c->err;
}

TEST(Remote, AHostilePublisherIsDroppedWithOneLineEach) {
  kqtest::TempDir td;
  Broker broker(td.path());
  ASSERT_TRUE(broker.start());
  auto b =
      startHost(dirFor(td, "b"), "b", node(broker.url(), "b", "Export : pb\nImport : x@e\nKeys : k.*\n"));
  ASSERT_TRUE(sees(*b, "connected to broker")) << b->out;
  std::mt19937 rng(22);
  kqtest::writeFile(td.file("deep"), std::string(200000, '[') + "{}");
  kqtest::writeFile(td.file("big"), std::string(300 * 1024, 'x'));
  kqtest::writeFile(td.file("junk"), kqtest::randomText(rng, 4096));
  const std::vector<std::vector<std::string>> hostile = {
      {"-t", "kqbridge/b/call/pb", "-m", "not json", "-D", "publish", "response-topic", "kqtest/r"},
      {"-t", "kqbridge/b/call/pb", "-f", td.file("deep"), "-D", "publish", "response-topic", "kqtest/r"},
      {"-t", "kqbridge/b/call/pb", "-f", td.file("junk"), "-D", "publish", "response-topic", "kqtest/r"},
      {"-t", "kqbridge/b/call/pb", "-m", R"({"cmd":"7","sub":0})", "-D", "publish", "response-topic",
       "kqtest/r"},
      {"-t", "kqbridge/b/call/pb", "-m", R"({"cmd":1,"sub":0})"},
      {"-t", "kqbridge/b/call/pb", "-f", td.file("big")},
      {"-t", "kqbridge/b/reply", "-m", "{}", "-D", "publish", "correlation-data", "12ab"},
      {"-t", "kqbridge/e/status", "-m", "perhaps"},
      {"-t", "kqbridge/data/k.bad", "-m", R"({"value":5})"},
  };
  for (std::vector<std::string> args : hostile) {
    args.insert(args.begin(), {"-h", "127.0.0.1", "-p", std::to_string(broker.port()), "-V", "5"});
    EXPECT_EQ(kqtest::mqttClient("mosquitto_pub", args).status, 0) << args[7];
  }
  EXPECT_EQ(request(broker, "kqbridge/b/call/pb", R"({"cmd":1,"sub":0,"text":"still here"})"),
            R"({"value":"[str]|1|0|still here|0|0"})");
  EXPECT_EQ(stop(*b), 0) << b->err;
  EXPECT_EQ(count(b->out, "\"remote: dropped "), hostile.size()) << b->out;
}

}  // namespace
