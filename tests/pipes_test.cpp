#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kqbridge/named_pipe.h"
#include "support/test_support.h"

using bg::pi::INamedPipe;
using bg::pi::INamedPipeServer;
using Clock = std::chrono::steady_clock;

namespace {

// What a server's callback saw: each message, and how each connection ended.
struct Inbox {
  std::mutex m;
  std::vector<std::string> msgs;
  std::vector<std::string> ends;

  static void collect(INamedPipe* pipe, void* self) {
    Inbox* in = static_cast<Inbox*>(self);
    std::string end;
    try {
      for (;;) {
        std::string msg = pipe->ReadString();
        std::lock_guard<std::mutex> l(in->m);
        in->msgs.push_back(msg);
      }
    } catch (const std::exception& e) {
      end = e.what();
    }
    bg::pi::destroy_pipe_client(&pipe);
    std::lock_guard<std::mutex> l(in->m);
    in->ends.push_back(end);
  }
  bool waitFor(size_t msgCount, size_t endCount, int seconds = 60) {
    return kqtest::waitFor(
        [&] {
          std::lock_guard<std::mutex> l(m);
          return msgs.size() >= msgCount && ends.size() >= endCount;
        },
        seconds);
  }
  bool ended(const std::string& what) {
    std::lock_guard<std::mutex> l(m);
    return std::find(ends.begin(), ends.end(), what) != ends.end();
  }
};

std::atomic<int> g_shown{0};

// Answers each message with "re:" and the message; given a stream, also
// shows the message there and counts it.
void echo(INamedPipe* pipe, void* stream) {
  try {
    for (;;) {
      std::string msg = pipe->ReadString();
      if (stream != nullptr && fprintf(static_cast<FILE*>(stream), "%s\n", msg.c_str()) > 0) {
        fflush(static_cast<FILE*>(stream));
        ++g_shown;
      }
      pipe->WriteString("re:" + msg);
    }
  } catch (const std::exception&) {
  }
  bg::pi::destroy_pipe_client(&pipe);
}

// A server for another process: "ready" once it serves `name`, then each
// message on stdout, and a clean end after `messages` of them. The test
// starts it before it claims anything, which a child on Windows replays.
std::function<int()> serving(const std::string& name, int messages) {
  return [name, messages] {
    INamedPipeServer* server = bg::pi::listen_pipe(name.c_str(), 1, echo, stdout);
    CHILD_CHECK(server != nullptr && puts("ready") >= 0 && fflush(stdout) == 0);
    kqtest::waitFor([messages] { return g_shown >= messages; });
    bg::pi::destroy_pipe_server(&server);
    return 0;
  };
}

std::string openError(const std::string& name) {
  INamedPipe* c = bg::pi::create_pipe_client(name.c_str());
  std::string what;
  try {
    c->Open();
  } catch (const std::exception& e) {
    what = e.what();
  }
  bg::pi::destroy_pipe_client(&c);
  return what;
}

class PipesTest : public ::testing::Test {
 protected:
  void SetUp() override { m_env.set("XDG_RUNTIME_DIR", m_dir.path()); }
  void TearDown() override {
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::is_empty(socketDir(), ec) || ec) << "socket files left behind";
  }
  std::string socketDir() const { return m_dir.path() + "/kqbridge"; }
  // Where a raw peer finds the server of `name`; `file` is its socket's name.
  std::string where(const std::string& name, const std::string& file) const {
    return kqtest::kOnWindows ? "\\\\.\\pipe\\" + name : socketDir() + "/" + file;
  }

  kqtest::TempDir m_dir;
  kqtest::EnvGuard m_env;
};

// Programs in other languages find a pipe by this rule and speak its framing.
// Windows serves the name itself, and folds ".." away as in any path.
TEST_F(PipesTest, SocketFileNameAndWireFormat) {
  auto fnv = [](const std::string& s) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : s) h = (h ^ c) * 0x100000001b3ULL;
    char buf[20];
    snprintf(buf, sizeof(buf), "~%016llx", static_cast<unsigned long long>(h));
    return std::string(buf);
  };
  std::string plain = kqtest::uniqueName("Plain_1.x");
  std::string odd = "odd name/" + plain;
  std::string longName = std::string(65 - plain.size(), 'L') + plain;
  const std::pair<std::string, std::string> cases[] = {
      {plain, plain}, {odd, fnv(odd)}, {longName, fnv(longName)}, {"..", fnv("..")}};
  for (const auto& c : cases) {
    if (kqtest::kOnWindows && c.first == "..") continue;
    INamedPipeServer* server = bg::pi::listen_pipe(c.first.c_str(), 1, echo, nullptr);
    ASSERT_NE(server, nullptr);
    int fd = kqtest::rawPipeConnect(where(c.first, c.second));
    ASSERT_GE(fd, 0) << c.first;
    ASSERT_TRUE(kqtest::rawSend(fd, std::string("\x03\0\0\0abc", 7)));
    char reply[10] = {};
    EXPECT_EQ(kqtest::readFull(fd, reply, sizeof(reply)), 10u);
    EXPECT_EQ(std::string(reply, 10), std::string("\x06\0\0\0re:abc", 10)) << c.first;
    close(fd);
    bg::pi::destroy_pipe_server(&server);
  }
  if (kqtest::kOnWindows) return;
  // A directory open to other users is refused by a client and closed again
  // by the next server.
  chmod(socketDir().c_str(), 0755);
  EXPECT_EQ(openError(plain), "Could not open pipe, GLE=5");
  INamedPipeServer* server = bg::pi::listen_pipe(plain.c_str(), 1, echo, nullptr);
  struct stat st {};
  EXPECT_TRUE(server != nullptr && stat(socketDir().c_str(), &st) == 0 && (st.st_mode & 077) == 0);
  bg::pi::destroy_pipe_server(&server);
}

TEST_F(PipesTest, ExchangeBothWaysAndOrderAcrossProcesses) {
  std::string name = kqtest::uniqueName("xchg");
  kqtest::Child server(serving(name, 4));
  ASSERT_TRUE(server.waitOutput([&] { return kqtest::contains(server.out, "ready"); })) << server.err;
  INamedPipe* c = bg::pi::create_pipe_client(name.c_str());
  c->Open();
  c->WriteString("ping");
  EXPECT_EQ(c->ReadString(), "re:ping");
  bg::pi::destroy_pipe_client(&c);
  for (const char* m : {"one", "two", "three"}) EXPECT_TRUE(bg::pi::pipe_send_msg(name.c_str(), m));
  EXPECT_EQ(server.finish(), 0);
  EXPECT_EQ(server.out, "ready\nping\none\ntwo\nthree\n");
}

// Assertions stay soft up to the last child, which a child on Windows replays.
TEST_F(PipesTest, SingleInstanceGuardHandsOverAndEndsSecondProcess) {
  std::string name = kqtest::uniqueName("single");
  auto guard = [&](const char* msg, bool serve = false) {
    // An ordinary exit, whose handlers give up a claim the process never
    // served, and leave alone one it served and stopped serving.
    return kqtest::runChild([&]() -> int {
      bg::pi::setup_single_app(name.c_str(), msg);
      INamedPipeServer* server = serve ? bg::pi::listen_pipe(name.c_str(), 1, echo, nullptr) : nullptr;
      bg::pi::destroy_pipe_server(&server);
      exit(7);
    });
  };
  kqtest::ChildResult alone = guard("first");
  EXPECT_EQ(alone.status, 7);
  EXPECT_EQ(alone.err, "Could not open pipe, GLE=2\nnow start the app\n");
  EXPECT_FALSE(kqtest::fileExists(socketDir() + "/" + name)) << "its claim ends with it";
  EXPECT_EQ(guard("served", true).status, 7);
  EXPECT_FALSE(kqtest::fileExists(socketDir() + "/" + name));
  // A child made by fork() that claims a name of its own lets go of the
  // descriptors of its parent's claims.
  kqtest::ChildResult forked = kqtest::runChild([&]() -> int {
    bg::pi::setup_single_app(name.c_str(), "parent");
    exit(kqtest::runChild([&]() -> int {
           size_t before = kqtest::openHandles();
           bg::pi::setup_single_app((name + "-child").c_str(), "child");
           exit(kqtest::openHandles() == before ? 0 : 1);
         }).status);
  });
  EXPECT_EQ(forked.status, 0) << forked.err;
  kqtest::Child server(serving(name, 1));
  EXPECT_TRUE(server.waitOutput([&] { return kqtest::contains(server.out, "ready"); }));
  kqtest::ChildResult second = guard("second --open file");
  EXPECT_EQ(second.status, 0);
  // Sanitizers may add their own lines after ours in a forked child.
  EXPECT_EQ(second.err.rfind("[app] already exist, exit.\n", 0), 0u) << second.err;
  EXPECT_EQ(server.finish(), 0);
  EXPECT_EQ(server.out, "ready\nsecond --open file\n");
}

// kqbridge-pipe listen serves every client at once: two that connect and
// stay silent hold up nobody, and the messages that arrived before a stop
// request are all printed before it exits.
TEST_F(PipesTest, ListenToolIsNotHeldUpBySilentClients) {
  if (kqtest::kOnWindows) GTEST_SKIP() << "a stop request cannot be sent to a program there";
  std::string name = kqtest::uniqueName("tool");
  kqtest::Child tool([&] {
    return kqtest::runProgram(KQ_PIPE_TOOL_PATH, {"kqbridge-pipe", "listen", name});
  });
  ASSERT_TRUE(kqtest::waitFor([&] { return openError(name).empty(); })) << tool.err;
  INamedPipe* silent[2];
  for (INamedPipe*& c : silent) {
    c = bg::pi::create_pipe_client(name.c_str());
    c->Open();
  }
  ASSERT_TRUE(bg::pi::pipe_send_msg(name.c_str(), "third"));
  // At once: the bound only spares a loaded machine.
  EXPECT_TRUE(tool.waitOutput([&] { return kqtest::contains(tool.out, "third\n"); }, 5)) << tool.out;
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(bg::pi::pipe_send_msg(name.c_str(), "late " + std::to_string(i)));
  kill(tool.pid(), SIGINT);
  EXPECT_EQ(tool.finish(30), 0) << tool.err;
  for (int i = 0; i < 10; ++i)
    EXPECT_TRUE(kqtest::contains(tool.out, "late " + std::to_string(i) + "\n")) << tool.out;
  for (INamedPipe*& c : silent) bg::pi::destroy_pipe_client(&c);
}

// Of eight instances started at once, exactly one goes on and serves the
// name, and each of the others hands its message to it and ends. Soft
// assertions: a child on Windows replays the rounds before its own.
TEST_F(PipesTest, SingleInstanceGuardLetsOneOfManyStartedTogetherRun) {
  const int kInstances = 8;
  for (int round = 0; round < 20; ++round) {
    std::string name = kqtest::uniqueName("race");
    std::string go = m_dir.file("go" + std::to_string(round));
    std::vector<std::unique_ptr<kqtest::Child>> instances;
    for (int i = 0; i < kInstances; ++i) {
      instances.push_back(std::make_unique<kqtest::Child>([=] {
        while (!kqtest::fileExists(go)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        bg::pi::setup_single_app(name.c_str(), std::to_string(i).c_str());
        Inbox inbox;
        INamedPipeServer* server = bg::pi::listen_pipe(name.c_str(), 2, Inbox::collect, &inbox);
        CHILD_CHECK(server != nullptr);
        bool all = inbox.waitFor(kInstances - 1, 0, 30);
        std::vector<std::string> got(inbox.msgs);
        bg::pi::destroy_pipe_server(&server);
        got.push_back(std::to_string(i));
        std::sort(got.begin(), got.end());
        for (const std::string& m : got) printf("%s ", m.c_str());
        return all ? 10 : 11;
      }));
    }
    kqtest::writeFile(go, "");
    int served = 0, ended = 0;
    for (auto& instance : instances) {
      int status = instance->finish();
      served += status == 10;
      ended += status == 0;
      if (status == 10) {
        EXPECT_EQ(instance->out, "0 1 2 3 4 5 6 7 ") << "every message, once";
      } else if (status != 0) {
        ADD_FAILURE() << "round " << round << ": " << status << " " << instance->err;
      }
    }
    EXPECT_EQ(served, 1) << "round " << round;
    EXPECT_EQ(ended, kInstances - 1) << "round " << round;
  }
}

TEST_F(PipesTest, KilledServerLeavesNameThatFailsAtOnceAndCanBeServedAgain) {
  std::string name = kqtest::uniqueName("killed");
  kqtest::Child server0(serving(name, 1));
  ASSERT_TRUE(server0.waitOutput([&] { return kqtest::contains(server0.out, "ready"); }));
  kill(server0.pid(), SIGKILL);
  server0.finish();
  EXPECT_TRUE(kqtest::kOnWindows || kqtest::fileExists(socketDir() + "/" + name));
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ(openError(name), "Could not open pipe, GLE=2");
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(3)) << "no waiting for a dead server";
  INamedPipeServer* server = bg::pi::listen_pipe(name.c_str(), 1, echo, nullptr);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(openError(name), "");
  // A second live server for the name is refused, holding nothing open; on
  // Windows it adds instances of the same pipe, as the system means it to.
  if (!kqtest::kOnWindows) {
    size_t before = kqtest::openHandles();
    kqtest::ConsoleCapture quiet;
    for (int i = 0; i < 50; ++i) EXPECT_EQ(bg::pi::listen_pipe(name.c_str(), 1, echo, nullptr), nullptr);
    EXPECT_TRUE(kqtest::waitFor([&] { return kqtest::openHandles() < before + 20; }, 10));
  }
  bg::pi::destroy_pipe_server(&server);
}

// Even when another user reaches the socket (here the directory is opened up
// on purpose), the server turns it away and goes on serving its own user.
TEST_F(PipesTest, ClientOfAnotherUserIsRefused) {
  if (kqtest::kOnWindows) GTEST_SKIP() << "a pipe's default security keeps other users out on Windows";
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a client as another user";
  std::string name = kqtest::uniqueName("user");
  Inbox inbox;
  // One worker: a connection let through would be served before ours.
  INamedPipeServer* server = bg::pi::listen_pipe(name.c_str(), 1, Inbox::collect, &inbox);
  ASSERT_NE(server, nullptr);
  std::string sock = socketDir() + "/" + name;
  chmod(m_dir.path().c_str(), 0711);
  chmod(socketDir().c_str(), 0711);
  chmod(sock.c_str(), 0666);
  kqtest::ChildResult other = kqtest::runChild([&] {
    CHILD_CHECK(setuid(65534) == 0);
    CHILD_CHECK(!bg::pi::pipe_send_msg(name.c_str(), "library client"));
    int fd = kqtest::rawPipeConnect(sock);
    CHILD_CHECK(fd >= 0);
    // The refusal may come before our bytes go out.
    kqtest::rawSend(fd, std::string("\x03\0\0\0bad", 7));
    char c;
    CHILD_CHECK(read(fd, &c, 1) <= 0);
    return 0;
  });
  EXPECT_EQ(other.status, 0) << other.err;
  chmod(socketDir().c_str(), 0700);
  ASSERT_TRUE(bg::pi::pipe_send_msg(name.c_str(), "own user"));
  ASSERT_TRUE(inbox.waitFor(1, 1));
  EXPECT_EQ(inbox.msgs, std::vector<std::string>{"own user"});
  bg::pi::destroy_pipe_server(&server);
}

TEST_F(PipesTest, HostilePeersDoNotTakeTheServerDown) {
  std::string name = kqtest::uniqueName("hostile");
  Inbox inbox;
  INamedPipeServer* server = bg::pi::listen_pipe(name.c_str(), 2, Inbox::collect, &inbox);
  ASSERT_NE(server, nullptr);
  std::string sock = where(name, name);
  int silent = kqtest::rawPipeConnect(sock);
  int huge = kqtest::rawPipeConnect(sock);
  ASSERT_TRUE(kqtest::rawSend(huge, "\xff\xff\xff\xff"));
  int cut = kqtest::rawPipeConnect(sock);
  ASSERT_TRUE(kqtest::rawSend(cut, std::string("\x00\x00\x00\x40partial", 11)));
  close(cut);
  for (int i = 0; i < 1000; ++i) close(kqtest::rawPipeConnect(sock));
  ASSERT_TRUE(bg::pi::pipe_send_msg(name.c_str(), "still here"));
  ASSERT_TRUE(inbox.waitFor(1, 1002)) << inbox.msgs.size() << " " << inbox.ends.size();
  EXPECT_EQ(inbox.msgs, std::vector<std::string>{"still here"});
  EXPECT_TRUE(inbox.ended("Size is 0 or less"));
  EXPECT_TRUE(inbox.ended("pipe disconnected, GLE=109"));
  close(huge);
  close(silent);
  bg::pi::destroy_pipe_server(&server);
}

TEST_F(PipesTest, SendersReleaseTheirDescriptorsAndDisconnectAtOnce) {
  std::string name = kqtest::uniqueName("fds");
  Inbox inbox;
  INamedPipeServer* server = bg::pi::listen_pipe(name.c_str(), 2, Inbox::collect, &inbox);
  ASSERT_NE(server, nullptr);
  INamedPipe* client = bg::pi::create_pipe_client(name.c_str());
  client->Open();
  bg::pi::destroy_pipe_client(&client);
  ASSERT_TRUE(inbox.waitFor(0, 1));
  EXPECT_TRUE(inbox.ended("pipe disconnected, GLE=109"));
  size_t before = kqtest::openHandles();
  const int kSends = 10000;
  for (int i = 0; i < kSends; ++i) ASSERT_TRUE(bg::pi::pipe_send_msg(name.c_str(), "m"));
  ASSERT_TRUE(inbox.waitFor(kSends, kSends + 1)) << inbox.msgs.size() << " " << inbox.ends.size();
  {
    kqtest::ConsoleCapture quiet;  // each failed send says why
    for (int i = 0; i < 200; ++i) ASSERT_FALSE(bg::pi::pipe_send_msg((name + "-absent").c_str(), "m"));
  }
  EXPECT_LT(kqtest::openHandles(), before + 100)
      << "the system may open a few of its own; one per send is 10200";
  bg::pi::destroy_pipe_server(&server);
  // An idle worker takes a new client at once, not at its next look around.
  Inbox quick;
  server = bg::pi::listen_pipe(name.c_str(), 1, Inbox::collect, &quick);
  std::vector<double> ms;
  for (size_t i = 1; i <= 21; ++i) {
    Clock::time_point t0 = Clock::now();
    ASSERT_TRUE(bg::pi::pipe_send_msg(name.c_str(), "q") && quick.waitFor(i, 0));
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  std::nth_element(ms.begin(), ms.begin() + 10, ms.end());
  EXPECT_LT(ms[10], 20.0) << "the median time to hand over one message, in ms";
  bg::pi::destroy_pipe_server(&server);
}

// With no descriptor left a client of a served name fails with 4, too many
// open files, and a server that cannot take a waiting client says so and
// tries again a moment later, not in a tight loop.
TEST_F(PipesTest, OutOfDescriptorsAClientFailsAndAServerTriesAgainCalmly) {
  if (kqtest::kOnWindows) GTEST_SKIP() << "descriptor limits are POSIX";
  std::string name = kqtest::uniqueName("nofd");
  kqtest::ChildResult run = kqtest::runChild([&] {
    INamedPipe* client = bg::pi::create_pipe_client(name.c_str());
    auto attempt = [client] {
      std::string what;
      try {
        client->Open();
      } catch (const std::exception& e) {
        what = e.what();
      }
      return what;
    };
    // A first try, with descriptors, also makes these calls known to the
    // sanitizers, which need descriptors to look at memory they do not know.
    CHILD_CHECK(attempt() == "Could not open pipe, GLE=2");
    setenv("XDG_RUNTIME_DIR", "/dev/null", 1);  // and of a server refused its directory
    CHILD_CHECK(bg::pi::listen_pipe(name.c_str(), 1, echo, nullptr) == nullptr);
    setenv("XDG_RUNTIME_DIR", m_dir.path().c_str(), 1);
    INamedPipeServer* server = bg::pi::listen_pipe(name.c_str(), 1, echo, nullptr);
    rlimit saved;
    getrlimit(RLIMIT_NOFILE, &saved);
    int lowestFree = dup(0);
    close(lowestFree);
    rlimit none = saved;
    none.rlim_cur = static_cast<rlim_t>(lowestFree);
    CHILD_CHECK(setrlimit(RLIMIT_NOFILE, &none) == 0);
    std::string unserved;
    {
      kqtest::ConsoleCapture console;
      INamedPipeServer* other = bg::pi::listen_pipe((name + "-2").c_str(), 1, echo, nullptr);
      unserved = other == nullptr ? console.errors() : "served";
    }
    const std::string what = attempt();
    size_t complaints = 0;
    {
      kqtest::ConsoleCapture console;
      none.rlim_cur += 1;  // room for a raw client alone: the server's end finds none
      CHILD_CHECK(setrlimit(RLIMIT_NOFILE, &none) == 0);
      int raw = kqtest::rawPipeConnect(where(name, name));
      bool heard = kqtest::waitFor([&] { return console.errors().find("pipeSrv") != std::string::npos; });
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      setrlimit(RLIMIT_NOFILE, &saved);
      CHILD_CHECK(raw >= 0 && heard);
      close(raw);
      const std::string said = console.errors();
      for (size_t at = said.find("pipeSrv"); at != std::string::npos; at = said.find("pipeSrv", at + 1))
        ++complaints;
    }
    bg::pi::destroy_pipe_client(&client);
    bg::pi::destroy_pipe_server(&server);
    CHILD_CHECK(what == "Could not open pipe, GLE=4");
    CHILD_CHECK(unserved.find("GLE=4") != std::string::npos);
    CHILD_CHECK(complaints >= 1 && complaints <= 20);
    return 0;
  });
  EXPECT_EQ(run.status, 0) << run.err;
}

// Stop ends a server promptly; connections no worker took are closed by the
// destructor, so their clients see the disconnect.
TEST_F(PipesTest, StopIsPromptAndDestroyDrains) {
  std::string name = kqtest::uniqueName("stop");
  INamedPipeServer* server = bg::pi::listen_pipe(name.c_str(), 0, echo, nullptr);
  ASSERT_NE(server, nullptr);
  INamedPipe* client = bg::pi::create_pipe_client(name.c_str());
  client->Open();
  Clock::time_point t0 = Clock::now();
  server->Stop();
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
  bg::pi::destroy_pipe_server(&server);
  EXPECT_THROW(client->ReadString(), std::runtime_error);
  bg::pi::destroy_pipe_client(&client);
  bg::pi::destroy_pipe_client(nullptr);
  bg::pi::destroy_pipe_server(nullptr);
  // A wait for a client ends when its time is up, or at once after CancelWait.
  bg::pi::WinNamedPipe listener(kqtest::uniqueName("wait"), true);
  ASSERT_EQ(listener.CreateServer(), 1);
  EXPECT_EQ(listener.AsyncWaitForConnection(0), nullptr);
  t0 = Clock::now();
  EXPECT_EQ(listener.AsyncWaitForConnection(300), nullptr);
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(250));
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(10));
  listener.CancelWait();
  EXPECT_EQ(listener.AsyncWaitForConnection(0xFFFFFFFFu), nullptr);
}

}  // namespace
