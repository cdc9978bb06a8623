// remote.dll against raw libmosquitto on the same local Mosquitto broker, in
// one run (the broker, a far kqbridge-host and a raw peer are started here):
//  - a remote call with a 64-byte text to the example display on the far
//    host vs a raw MQTT 5 request/response round trip with the same payload
//    size (the raw responder answers inside its network callback);
//  - mirrored key updates per second, this node to a listener on the far host
//    (a batch, then its last value travels back) vs raw QoS 1 retained
//    publishes counted by a raw subscriber (the same batch and way back).
// The raw clients use libmosquitto's own network thread (loop_start).
#include <benchmark/benchmark.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kqbridge/kqbridge.h"
#include "remote_counter.h"

namespace {

const int kPayload = 64;
const auto kWait = std::chrono::seconds(60);

std::string g_root;
int g_port = 0;
std::vector<pid_t> g_children;

int freePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

bool accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return ok;
}

void writeText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << text;
}

// Starts a child whose output goes to a file of the sandbox; false in the child.
bool forkQuietly(const std::string& logName) {
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid != 0) {
    g_children.push_back(pid);
    return true;
  }
  FILE* log = fopen((g_root + "/" + logName).c_str(), "w");
  if (log != nullptr) {
    dup2(fileno(log), STDOUT_FILENO);
    dup2(fileno(log), STDERR_FILENO);
  }
  return false;
}

void spawn(std::vector<std::string> args, const std::string& dataHome, const std::string& logName) {
  if (!forkQuietly(logName)) {
    if (!dataHome.empty()) setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
}

// A raw MQTT 5 client on libmosquitto's own thread, remembering the last
// number that came on the topics it subscribed to.
class RawClient {
 public:
  explicit RawClient(const std::vector<std::string>& topics) {
    m_mosq = mosquitto_new(nullptr, true, this);
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_message_v5_callback_set(m_mosq, onMessage);
    mosquitto_subscribe_v5_callback_set(m_mosq, onSubscribe);
    mosquitto_connect(m_mosq, "127.0.0.1", g_port, 30);
    for (const std::string& t : topics) mosquitto_subscribe_v5(m_mosq, nullptr, t.c_str(), 1, 0, nullptr);
    m_topics = static_cast<int>(topics.size());
    mosquitto_loop_start(m_mosq);
  }
  ~RawClient() {
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, false);
    mosquitto_destroy(m_mosq);
  }
  mosquitto* handle() { return m_mosq; }
  bool waitSubscribed() {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, kWait, [this] { return m_subscribed == m_topics; });
  }
  bool waitFor(long long value) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, kWait, [&] { return m_last == value; });
  }

 private:
  static void onSubscribe(mosquitto*, void* self, int, int, const int*, const mosquitto_property*) {
    RawClient* c = static_cast<RawClient*>(self);
    std::lock_guard<std::mutex> lock(c->m_lock);
    c->m_subscribed++;
    c->m_changed.notify_all();
  }
  static void onMessage(mosquitto*, void* self, const mosquitto_message* m, const mosquitto_property* props) {
    RawClient* c = static_cast<RawClient*>(self);
    std::string text(static_cast<const char*>(m->payload), m->payloadlen);
    void* corr = nullptr;
    uint16_t len = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &corr, &len, false) != nullptr) {
      text.assign(static_cast<const char*>(corr), len);
      free(corr);
    }
    std::lock_guard<std::mutex> lock(c->m_lock);
    c->m_last = atoll(text.c_str());
    c->m_changed.notify_all();
  }

  mosquitto* m_mosq;
  std::mutex m_lock;
  std::condition_variable m_changed;
  long long m_last = 0;
  int m_subscribed = 0;
  int m_topics = 0;
};

// The raw peer, in a child process: answers raw/req on the response topic
// with the correlation data inside its callback, and counts raw/data,
// publishing raw/done after each batch.
void onRawPeerMessage(mosquitto* mosq, void*, const mosquitto_message* m, const mosquitto_property* props) {
  static long long received = 0;
  if (strcmp(m->topic, "raw/req") == 0) {
    char* response = nullptr;
    void* corr = nullptr;
    uint16_t len = 0;
    mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &response, false);
    mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &corr, &len, false);
    mosquitto_property* out = nullptr;
    mosquitto_property_add_binary(&out, MQTT_PROP_CORRELATION_DATA, corr, len);
    const char answer[] = "{\"value\":\"[str]shown\"}";
    mosquitto_publish_v5(mosq, nullptr, response, sizeof(answer) - 1, answer, 0, false, out);
    mosquitto_property_free_all(&out);
    free(response);
    free(corr);
    return;
  }
  received++;
  long long value = atoll(std::string(static_cast<const char*>(m->payload), m->payloadlen).c_str());
  if (value % remotebench::kBatch == 0) {
    std::string done = std::to_string(value);
    mosquitto_publish_v5(mosq, nullptr, "raw/done", static_cast<int>(done.size()), done.data(), 1, true,
                         nullptr);
  }
}

void runRawPeer() {
  if (forkQuietly("raw-peer.log")) return;
  mosquitto_lib_init();
  mosquitto* mosq = mosquitto_new(nullptr, true, nullptr);
  mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_message_v5_callback_set(mosq, onRawPeerMessage);
  mosquitto_connect(mosq, "127.0.0.1", g_port, 30);
  mosquitto_subscribe_v5(mosq, nullptr, "raw/req", 0, 0, nullptr);
  mosquitto_subscribe_v5(mosq, nullptr, "raw/data", 1, 0, nullptr);
  mosquitto_loop_forever(mosq, -1, 1);
  _exit(0);
}

// This node's listener for what the far host sends back.
std::mutex g_doneLock;
std::condition_variable g_doneChanged;
long long g_done = 0;

void onDone(const char*, const bg::Value* value, ListenerRecord*) {
  std::lock_guard<std::mutex> lock(g_doneLock);
  g_done = value->toInt();
  g_doneChanged.notify_all();
}

bool setUp() {
  char templ[] = "/tmp/kqbench-remote-XXXXXX";
  g_root = mkdtemp(templ);
  for (const char* var : {"TMPDIR", "TMP", "TEMP", "HOMEPATH", "APPDATA"}) setenv(var, g_root.c_str(), 1);
  setenv("XDG_DATA_HOME", (g_root + "/near").c_str(), 1);
  g_port = freePort();
  // Nothing is dropped for a subscriber that falls behind on a loaded machine.
  const passwd* me = getpwuid(getuid());
  writeText(g_root + "/broker.conf", "listener " + std::to_string(g_port) +
                                         " 127.0.0.1\nallow_anonymous true\npersistence false\n"
                                         "max_queued_messages 0\nuser " +
                                         (me != nullptr ? me->pw_name : "root") + "\n");
  spawn({"/usr/sbin/mosquitto", "-c", g_root + "/broker.conf"}, "", "broker.log");
  for (int i = 0; i < 200 && !accepts(g_port); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  runRawPeer();

  std::string broker = "Broker : mqtt://127.0.0.1:" + std::to_string(g_port) + "\n";
  std::string keys = "Keys : bench.*\n";
  writeText(g_root + "/far/kqbridge-host/conf/remote.conf",
            "#Bridge Config (#note)\n" + broker + "Node : far\nExport : display, counter\n" + keys);
  spawn({KQ_HOST_PATH, "--start", KQ_REMOTE_MODULE_DIR "/remote.dll",
         KQ_EXAMPLE_MODULE_DIR "/demo_display.dll", KQ_COUNTER_MODULE},
        g_root + "/far", "far-host.log");
  writeText(g_root + "/near/remote_bench/conf/remote.conf",
            "#Bridge Config (#note)\n" + broker + "Node : near\nImport : display@far, counter@far\n" + keys);
  std::string exe = KQ_REMOTE_MODULE_DIR "/remote_bench";
  char* argv[] = {&exe[0], nullptr};
  bg::InitBridge(1, argv);
  const char* modules[] = {"remote.dll"};
  bg::LoadModule(modules, 1, true);
  ListenerRecord record = {};
  record.callback = onDone;
  bg::CD->m_data->registListener(remotebench::kDoneKey, &record);
  BridgeMsg ping = {0, 0, "", 0, 0};
  for (int i = 0; i < 300; ++i) {
    if (bg::CD->call("counter", ping).isValid()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

void tearDown() {
  bg::UninitBridge();
  for (pid_t pid : g_children) kill(pid, SIGTERM);
  for (pid_t pid : g_children) waitpid(pid, nullptr, 0);
  std::error_code ec;
  std::filesystem::remove_all(g_root, ec);
}

// The path alone: the far counter answers at once. The example display also
// writes a debug line to its log file for every message, a cost of that
// component and not of the way there and back; it is measured beside it.
void remoteCall(benchmark::State& state, const char* component) {
  std::string text(kPayload, 'x');
  BridgeMsg msg = {7, 0, text.c_str(), 0, 0};
  for (auto _ : state) {
    bg::Value answer = bg::CD->call(component, msg);
    if (!answer.isValid()) {
      state.SkipWithError("the far component did not answer");
      break;
    }
  }
}
void BM_RemoteCall(benchmark::State& state) {
  remoteCall(state, "counter");
}
BENCHMARK(BM_RemoteCall)->UseRealTime();
void BM_RemoteCallDisplay(benchmark::State& state) {
  remoteCall(state, "display");
}
BENCHMARK(BM_RemoteCallDisplay)->UseRealTime();

void BM_Anchor_RawRequestResponse(benchmark::State& state) {
  RawClient client({"raw/resp"});
  if (!client.waitSubscribed()) state.SkipWithError("no subscription");
  std::string payload(kPayload, 'x');
  std::string responseTopic = "raw/resp";
  long long id = 0;
  for (auto _ : state) {
    std::string corr = std::to_string(++id);
    mosquitto_property* props = nullptr;
    mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC, responseTopic.c_str());
    mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, corr.data(),
                                  static_cast<uint16_t>(corr.size()));
    mosquitto_publish_v5(client.handle(), nullptr, "raw/req", kPayload, payload.data(), 0, false, props);
    mosquitto_property_free_all(&props);
    if (!client.waitFor(id)) {
      state.SkipWithError("no answer");
      break;
    }
  }
}
BENCHMARK(BM_Anchor_RawRequestResponse)->UseRealTime();

void BM_MirroredKeyUpdates(benchmark::State& state) {
  static long long seq = 0;
  for (auto _ : state) {
    for (int i = 0; i < remotebench::kBatch; ++i)
      bg::CD->m_data->setDataNotify(remotebench::kValueKey, bg::Value(static_cast<int>(++seq)), true);
    std::unique_lock<std::mutex> lock(g_doneLock);
    if (!g_doneChanged.wait_for(lock, kWait, [] { return g_done == seq; })) {
      state.SkipWithError("the batch did not arrive");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * remotebench::kBatch);
  BridgeMsg ask = {0, 0, "", 0, 0};
  state.counters["received"] = bg::CD->call("counter", ask).toInt();
}
BENCHMARK(BM_MirroredKeyUpdates)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Anchor_RawQos1Publishes(benchmark::State& state) {
  static long long seq = 0;
  RawClient client({"raw/done"});
  if (!client.waitSubscribed()) state.SkipWithError("no subscription");
  for (auto _ : state) {
    for (int i = 0; i < remotebench::kBatch; ++i) {
      std::string text = std::to_string(++seq);
      mosquitto_publish_v5(client.handle(), nullptr, "raw/data", static_cast<int>(text.size()), text.data(),
                           1, true, nullptr);
    }
    if (!client.waitFor(seq)) {
      state.SkipWithError("the batch did not arrive");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * remotebench::kBatch);
}
BENCHMARK(BM_Anchor_RawQos1Publishes)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  mosquitto_lib_init();
  if (!setUp()) {
    fprintf(stderr, "remote_bench: the far host did not come up\n");
    tearDown();
    return 1;
  }
  benchmark::AddCustomContext("broker", "mosquitto " + std::to_string(LIBMOSQUITTO_MAJOR) + "." +
                                            std::to_string(LIBMOSQUITTO_MINOR) +
                                            " on 127.0.0.1 (this machine)");
  benchmark::RunSpecifiedBenchmarks();
  tearDown();
  return 0;
}
