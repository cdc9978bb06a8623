// The admin endpoint and kqbridge-ctl, with real hosts: what a busy host
// answers, which hosts are listed, how a stop goes, what a hostile client
// gets, and a status of a host with many keys and channels.
#include <gtest/gtest.h>
#include <kqbridge/kqbridge.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "support/bridge_sandbox.h"
#include "support/test_support.h"

namespace {

using kqtest::contains;
using nlohmann::json;

// The pipes' directory of the hosts a test starts, and where one's pipe is.
struct Pipes {
  explicit Pipes(const std::string& dir) : dir(dir) {}
  kqtest::ChildResult ctl(std::vector<std::string> args) const {
    return kqtest::runCtl(dir, std::move(args));
  }
  std::string socket(pid_t pid) const {
    return dir + "/kqbridge/kqbridge.kqbridge-host." + std::to_string(pid);
  }
  std::string dir;
};

std::string hostName(pid_t pid) {
  return "kqbridge-host." + std::to_string(pid);
}

// One framed request on a raw connection (made here, or already made); the
// framed answer, or "" when the host closed the connection first.
std::string rawExchange(int fd, const std::string& bytes) {
  if (fd < 0 || !kqtest::rawSend(fd, bytes)) return "connect failed";
  uint32_t length = 0;
  std::string answer;
  if (kqtest::readFull(fd, &length, 4) == 4) {
    answer.resize(length);
    answer.resize(kqtest::readFull(fd, &answer[0], length));
  }
  close(fd);
  return answer;
}
std::string rawExchange(const std::string& socket, const std::string& bytes) {
  return rawExchange(kqtest::rawPipeConnect(socket), bytes);
}

std::string framed(const std::string& body) {
  uint32_t length = static_cast<uint32_t>(body.size());
  return std::string(reinterpret_cast<const char*>(&length), 4) + body;
}

// Two modules, one keeping the pool and two channels busy: every command
// of kqbridge-ctl gets its answer, and `stop` stops the host in order.
TEST(AdminEndpoint, ABusyHostAnswersEveryCommandAndStopsInOrder) {
  if (kqtest::kOnWindows)
    GTEST_SKIP() << "on Windows the child that runs the host is not the host: no pid to ask by";
  kqtest::TempDir root;
  Pipes pipes(root.path() + "/run");
  auto host = kqtest::startHost(root.path(), KQ_TEST_MODULE_DIR, {"--start", "mod_a.dll", "mod_busy.dll"});
  ASSERT_TRUE(host->waitOutput([&] { return contains(host->out, "busy: at work"); })) << host->err;
  const std::string name = hostName(host->pid());
  const std::string pid = std::to_string(host->pid());

  auto list = pipes.ctl({"list"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_TRUE(kqtest::hasLine(list.out, {name, pid, "kqbridge-host"})) << list.out;

  // The jobs take a moment to reach their workers.
  json status;
  ASSERT_TRUE(kqtest::waitFor([&] {
    auto run = pipes.ctl({"status", "--json", pid});
    status = json::parse(run.out, nullptr, false);
    return run.status == 0 && status["pool"]["running"] == 5;
  })) << status.dump(2);
  EXPECT_EQ(status["host"]["name"], name);
  EXPECT_EQ(status["pool"]["queued"], 3);
  EXPECT_EQ(status["pool"]["workers"], 5);
  std::vector<std::string> components;
  for (const json& c : status["components"]) {
    components.push_back(c["name"].get<std::string>() + " " + c["state"].get<std::string>());
    EXPECT_TRUE(contains(c["module"].get<std::string>(), ".dll")) << c;
  }
  EXPECT_EQ(components, (std::vector<std::string>{"a started", "busy started"}));
  json channels;
  for (const json& c : status["channels"]) channels[c["name"].get<std::string>()] = c;
  EXPECT_EQ(channels["busy.backlog"]["queued"], 1000);
  EXPECT_EQ(channels["busy.backlog"]["bytes"], 10000);
  EXPECT_EQ(channels["busy.feed"]["readersWaiting"], 1);
  EXPECT_EQ(status["data"]["keys"].size(), 0u);
  ASSERT_EQ(status["data"]["filters"].size(), 1u);
  EXPECT_EQ(status["data"]["filters"][0]["module"], "mod_busy.dll");
  // An arena for each component and the central object; the busy pool's node.
  EXPECT_EQ(status["memory"]["arenas"]["count"], 3);
  EXPECT_EQ(status["memory"]["packetPools"]["count"], 1);
  EXPECT_GE(status["memory"]["packetPools"]["bytes"], 100);
  EXPECT_GE(status["process"]["threads"], 8);  // main, 5 pool workers, acceptor, this answer's
  EXPECT_GT(status["process"]["residentBytes"], 1 << 20);
  EXPECT_TRUE(contains(status["host"]["configDir"].get<std::string>(), root.path()));

  auto follower = kqtest::startCtl(pipes.dir, {"log", name, "-f"});

  auto set = pipes.ctl({"set", name.substr(0, 10), "busy.setting", "[i]42"});
  EXPECT_EQ(set.status, 0) << set.err;
  EXPECT_TRUE(host->waitOutput([&] { return contains(host->out, "busy: busy.setting = [i]42"); }))
      << host->out;
  auto get = pipes.ctl({"get", pid, "busy.setting"});
  EXPECT_EQ(get.status, 0);
  EXPECT_EQ(get.out, "[i]42\n");

  auto call = pipes.ctl({"call", pid, "busy", "7", "hello there"});
  EXPECT_EQ(call.status, 0) << call.err;
  EXPECT_EQ(call.out, "[str]busy got 7 hello there\n");
  EXPECT_TRUE(follower->waitOutput([&] { return contains(follower->out, "busy: call 7 hello there"); }))
      << follower->out << follower->err;

  auto stop = pipes.ctl({"stop", name});
  EXPECT_EQ(stop.status, 0) << stop.err;
  ASSERT_EQ(host->finish(), 0) << host->err;
  EXPECT_LT(host->out.find("a:uninit"), host->out.find("busy:uninit")) << host->out;
  EXPECT_TRUE(contains(host->out, "busy: admin pipe closed at uninit")) << host->out;
  EXPECT_EQ(follower->finish(), 0) << follower->err;
  EXPECT_FALSE(kqtest::fileExists(pipes.socket(host->pid())));
}

// A host that serves no admin pipe is not listed, nor is one that was
// killed: its pipe is removed on the way. A failing command says why in one
// line, with the status that tells a usage error from a missing host.
TEST(AdminEndpoint, ListShowsLiveServingHostsAndCommandsSayWhatIsWrong) {
  if (kqtest::kOnWindows)
    GTEST_SKIP() << "on Windows the children that run the hosts are not the hosts: no pids to ask by";
  kqtest::TempDir roots[4];
  Pipes pipes(roots[0].path() + "/run");
  auto live = kqtest::startHost(roots[0].path(), KQ_TEST_MODULE_DIR, {"mod_a.dll"});
  auto byConf =
      kqtest::startHost(roots[1].path(), KQ_TEST_MODULE_DIR, {"mod_b.dll"}, "AdminPipe : false\n", pipes.dir);
  auto byFlag =
      kqtest::startHost(roots[2].path(), KQ_TEST_MODULE_DIR, {"--no-admin", "mod_b.dll"}, "", pipes.dir);
  auto killed = kqtest::startHost(roots[3].path(), KQ_TEST_MODULE_DIR, {"mod_b.dll"}, "", pipes.dir);
  for (auto* h : {&live, &byConf, &byFlag, &killed})
    ASSERT_TRUE((*h)->waitOutput([&] { return contains((*h)->err, "[Admin] ::init OK"); })) << (*h)->err;
  const std::string killedPipe = pipes.socket(killed->pid());
  ASSERT_TRUE(kqtest::waitFor([&] { return kqtest::fileExists(killedPipe); }));
  kill(killed->pid(), SIGKILL);
  killed->finish();

  auto list = pipes.ctl({"--json", "list"});
  ASSERT_EQ(list.status, 0) << list.err;
  json hosts = json::parse(list.out);
  ASSERT_EQ(hosts.size(), 1u) << list.out;
  EXPECT_EQ(hosts[0]["pid"], live->pid());
  EXPECT_EQ(hosts[0]["components"], 1);
  EXPECT_FALSE(kqtest::fileExists(killedPipe));

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  };
  const std::string pid = std::to_string(live->pid());
  const Case cases[] = {
      {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
      {{"status"}, 2, "status needs HOST"},
      {{"--bogus", "list"}, 2, "unknown option '--bogus'"},
      {{"call", pid, "a", "seven"}, 2, "not 'seven'"},
      {{"get", pid, "k", "extra"}, 2, "too many arguments for get: 'extra'"},
      {{"status", std::to_string(byConf->pid())}, 1, "no running host matches"},
      {{"get", pid, "absent.key"}, 1, "no value under 'absent.key'"},
      {{"set", pid, "k", "forty-two"}, 1, "'forty-two' is not a value in text form"},
      {{"call", pid, "nobody", "1"}, 1, "no component named 'nobody'"},
  };
  for (const Case& c : cases) {
    auto run = pipes.ctl(c.args);
    EXPECT_EQ(run.status, c.status) << c.args[0] << ": " << run.err;
    EXPECT_TRUE(contains(run.err, c.says)) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  // Once its answers are done, the endpoint holds one thread: the acceptor.
  auto threads = [](const kqtest::Child& h) {
    return kqtest::countEntries("/proc/" + std::to_string(h.pid()) + "/task");
  };
  EXPECT_TRUE(kqtest::waitFor([&] { return threads(*live) == threads(*byFlag) + 1; }));
  EXPECT_EQ(threads(*byConf), threads(*byFlag));
  for (auto* h : {&live, &byConf, &byFlag}) {
    kill((*h)->pid(), SIGTERM);
    EXPECT_EQ((*h)->finish(), 0) << (*h)->err;
  }
}

// Garbage, an oversized length, a request cut short and a flood of
// connections that hang up each get an error answer or a closed
// connection, and the host answers a proper request afterwards.
TEST(AdminEndpoint, HostileRequestsGetAnErrorOrAClosedConnection) {
  if (kqtest::kOnWindows)
    GTEST_SKIP() << "on Windows the child that runs the host is not the host: no pid to ask by";
  kqtest::TempDir root;
  auto host = kqtest::startHost(root.path(), KQ_TEST_MODULE_DIR, {"mod_a.dll"});
  ASSERT_TRUE(host->waitOutput([&] { return contains(host->err, "[Admin] ::init OK"); })) << host->err;
  const std::string socket = Pipes(root.path() + "/run").socket(host->pid());
  ASSERT_TRUE(kqtest::waitFor([&] { return kqtest::fileExists(socket); }));

  struct Case {
    std::string bytes;
    std::string answer;  // part of the error, or "" for a closed connection
  };
  const Case cases[] = {
      {framed("\x01\xff garbage {"), "not a JSON object"},
      {framed("[1,2,3]"), "not a JSON object"},
      {framed(R"({"op":"launch"})"), "\"op\" must be one of"},
      {framed(R"({"op":"get"})"), "no \"key\""},
      {framed(R"({"op":"call","to":"a","cmd":1e99})"), "\"cmd\" must be an integer"},
      {framed(R"({"op":"log","max":-1})"), "\"max\" must be an integer"},
      {std::string("\xff\xff\xff\x7f", 4) + "{", "a request is 1 to"},
      {framed(R"({"op":"status"})").substr(0, 10), ""},
  };
  for (const Case& c : cases) {
    std::string answer = rawExchange(socket, c.bytes);
    json error = json::parse(answer, nullptr, false);
    if (c.answer.empty()) {
      EXPECT_EQ(answer, "");
    } else {
      EXPECT_TRUE(error.value("ok", true) == false && contains(error.value("error", ""), c.answer)) << answer;
    }
  }
  // A flood beyond what waits for a worker is turned away; then the host
  // answers again.
  for (int i = 0; i < 200; ++i) close(kqtest::rawPipeConnect(socket));
  EXPECT_TRUE(kqtest::waitFor(
      [&] { return contains(rawExchange(socket, framed(R"({"op":"hello"})")), "\"ok\":true"); }));
  // Two stops at once, on connections that workers already hold: the host
  // stops once, with 0, and a stop it answers says so.
  int first = kqtest::rawPipeConnect(socket);
  int second = kqtest::rawPipeConnect(socket);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::string secondAnswer;
  std::thread other([&] { secondAnswer = rawExchange(second, framed(R"({"op":"stop"})")); });
  std::string firstAnswer = rawExchange(first, framed(R"({"op":"stop"})"));
  other.join();
  EXPECT_TRUE(contains(firstAnswer + secondAnswer, "\"stopping\":true")) << firstAnswer << secondAnswer;
  EXPECT_EQ(host->finish(), 0) << host->err;
}

// A connection that no thread can be made to serve is closed, not left
// waiting for ever; once threads can be had again, the host answers.
TEST(AdminEndpoint, AConnectionNoThreadCanServeIsClosed) {
  kqtest::BridgeRun run = kqtest::runBridge([](const kqtest::Sandbox& box) {
    box.init();
    const std::string socket =
        box.pipesDir + "/kqbridge/kqbridge." + kqtest::Sandbox::kAppName + "." + std::to_string(getpid());
    bool closed = false;
    if (!kqtest::withoutRoomForThreads([&] {
          int fd = kqtest::rawPipeConnect(socket);
          closed = fd >= 0 && kqtest::peerHangsUp(fd, 10000);
          if (fd >= 0) close(fd);
        }))
      return 77;
    CHILD_CHECK(closed);
    CHILD_CHECK(contains(rawExchange(socket, framed(R"({"op":"hello"})")), "\"ok\":true"));
    bg::UninitBridge();
    return 0;
  });
  if (run.status == 77) GTEST_SKIP() << "no address-space cap here (Windows, or a sanitizer build)";
  EXPECT_EQ(run.status, 0) << run.err;
}

// Every key and every channel is in the answer, each with its counts, also
// while another thread keeps changing keys, channels and the pool.
TEST(AdminEndpoint, StatusOfTenThousandKeysAndAThousandChannelsHasThemAll) {
  kqtest::BridgeRun run = kqtest::runBridge([](const kqtest::Sandbox& box) {
    box.init();
    bg::Interface* cd = bg::CD;
    for (int i = 0; i < 10000; ++i)
      cd->m_data->setData(("key." + std::to_string(i)).c_str(), bg::Value(i), true);
    const char* words[] = {"ab", "cde"};
    cd->m_data->setData("zz.argv", bg::Value(2, words), true);
    cd->m_data->setData("zz.text", bg::Value("hello"), true);
    std::vector<bg::Abstract_Channel*> ends;
    for (int i = 0; i < 1000; ++i) {
      ends.push_back(cd->m_channelMgr->createChannel(("channel." + std::to_string(i)).c_str()));
      ends.back()->write("x", 1);
    }
    std::atomic<bool> done{false};
    std::thread busy([&] {
      for (int i = 0; !done; ++i) {
        cd->m_data->setDataNotify("busy", bg::Value(i), true);
        bg::Abstract_Channel* end = cd->m_channelMgr->getChannel("churn");
        end->write("y", 1);
        cd->m_channelMgr->releaseChannel(&end);
        cd->m_threadPool->addTask([](void*) {}, nullptr);
      }
    });
    std::string pipe = "kqbridge." + std::string(kqtest::Sandbox::kAppName) + "." + std::to_string(getpid());
    auto ask = [&pipe](const char* request) {
      bg::pi::INamedPipe* client = bg::pi::create_pipe_client(pipe.c_str());
      client->Open();
      client->WriteString(request);
      json answer = json::parse(client->ReadString());
      bg::pi::destroy_pipe_client(&client);
      return answer;
    };
    json status;
    for (int i = 0; i < 3; ++i) status = ask(R"({"op":"status"})");
    for (int i = 0; i < 5; ++i) BG_LOG(ERROR, "line %d of the central log", i);
    json log = ask(R"({"op":"log","max":100})");
    done = true;
    busy.join();
    const json& keys = status["data"]["keys"];
    CHILD_CHECK(status["data"]["keyCount"] == 10003 && keys[0]["key"] == "busy");
    CHILD_CHECK(keys[1]["kind"] == "int" && keys[1]["size"] == 4);
    CHILD_CHECK(keys[keys.size() - 2]["size"] == 5 && keys.back()["key"] == "zz.text" &&
                keys.back()["size"] == 5);
    CHILD_CHECK(status["channels"].size() >= 1000 && status["channels"][0]["queued"] == 1);
    // A piece of the central log ends with a whole line.
    const std::string text = log.value("text", "");
    CHILD_CHECK(log["file"] == cd->m_logger->getPath() && log["next"] == text.size());
    CHILD_CHECK(!text.empty() && text.size() < 100 && text.back() == '\n');
    for (bg::Abstract_Channel*& end : ends) cd->m_channelMgr->releaseChannel(&end);
    bg::UninitBridge();
    return 0;
  });
  EXPECT_EQ(run.status, 0) << run.err;
}

}  // namespace
