// A component that keeps its host busy: every worker of the shared pool
// taken (one of them blocked reading a channel nobody writes), more jobs
// waiting, a channel full of messages nobody reads, a packet pool with a
// node taken, a filter, and a listener that says what it was told. At its
// stop it says whether the host's admin pipe still takes a message. It
// reports on standard output.
#include <kqbridge/kqbridge.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

const int kBacklog = 1000;
const int kSleepers = 4;
const int kWaitingJobs = 3;
const int kNodeSize = 100;

class Busy : public bg::Interface {
 public:
  Busy() { strcpy(m_name, "busy"); }

  bool init() override {
    ListenerRecord record = {};
    record.callback = [](const char* key, const bg::Value* v, ListenerRecord*) {
      printf("busy: %s = %s\n", key, v->write().c_str());
      fflush(stdout);
    };
    m_data->registListener("busy.setting", &record);
    ListenerRecord filter = {};
    filter.callback = [](const char*, const bg::Value*, ListenerRecord*) {};
    m_data->registListener(nullptr, &filter);
    return true;
  }

  bool initExtend() override {
    m_backlog = m_channelMgr->createChannel("busy.backlog");
    for (int i = 0; i < kBacklog; ++i) m_backlog->write("0123456789", 10);
    m_feed = m_channelMgr->createChannel("busy.feed");
    m_threadPool->addTask(readFeed, this);
    for (int i = 0; i < kSleepers; ++i) m_threadPool->addTask(sleepUntilStop, this);
    for (int i = 0; i < kWaitingJobs; ++i) m_threadPool->addTask(sleepUntilStop, this);
    m_packets = pp::create_pktpool();
    m_node = m_packets->getNode(kNodeSize);
    printf("busy: at work\n");
    fflush(stdout);
    return true;
  }

  bool uninit() override {
    std::string adminPipe = "kqbridge." + bg::g_exeName + "." + std::to_string(getpid());
    printf("busy: admin pipe %s at uninit\n",
           bg::pi::pipe_send_msg(adminPipe.c_str(), "{}") ? "open" : "closed");
    pp::release_pnode(&m_node);
    pp::destroy_pktpool(&m_packets);
    m_channelMgr->releaseChannel(&m_backlog);
    m_channelMgr->releaseChannel(&m_feed);
    printf("busy:uninit\n");
    fflush(stdout);
    return true;
  }

  bg::Value process(const char*, BridgeMsg msg) override {
    std::string text = msg.text != nullptr ? msg.text : "";
    BG_LOG(ERROR, "busy: call %d %s", msg.cmd, text.c_str());
    return bg::Value("busy got " + std::to_string(msg.cmd) + " " + text);
  }

 private:
  // The opener's end: its read waits for the creator, who never writes.
  static void readFeed(void* self) {
    bg::Abstract_Channel* end = static_cast<Busy*>(self)->m_channelMgr->openChannel("busy.feed");
    char byte;
    end->read(&byte, 1);
    static_cast<Busy*>(self)->m_channelMgr->releaseChannel(&end);
  }

  static void sleepUntilStop(void* self) {
    while (!static_cast<Busy*>(self)->m_threadPool->isAborting())
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  bg::Abstract_Channel* m_backlog = nullptr;
  bg::Abstract_Channel* m_feed = nullptr;
  pp::Abstract_PacketPool* m_packets = nullptr;
  pp::FLMemNode* m_node = nullptr;
};

}  // namespace

KQ_MODULE_EXPORT bg::Interface* get_component(bg::Interface*) {
  static Busy busy;
  return &busy;
}
