#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/mqtt_broker.h"

namespace kqtest {

namespace {

sockaddr_in loopback(int port) {
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

// A port the system just handed out and took back: free unless someone
// grabs it in the moment before the broker does (start() then fails).
int freePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr = loopback(0);
  socklen_t len = sizeof(addr);
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  close(fd);
  return port;
}

bool accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr = loopback(port);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return ok;
}

std::string program(const std::string& name) {
  for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/usr/local/sbin/", "/usr/local/bin/"}) {
    if (access((dir + name).c_str(), X_OK) == 0) return dir + name;
  }
  return name;
}

}  // namespace

Broker::Broker(const std::string& dir, const std::string& listenerLines)
    : m_dir(dir), m_lines(listenerLines) {}

bool Broker::start() {
  for (int attempt = 0; attempt < 5; ++attempt) {
    bool again = m_port != 0;
    if (!again) m_port = freePort();
    const passwd* me = getpwuid(getuid());
    std::string conf = m_dir + "/broker.conf";
    // As root the broker would drop to its own user, who may not read our files.
    writeFile(conf, "listener " + std::to_string(m_port) + " 127.0.0.1\n" + m_lines +
                        "persistence false\nuser " + (me != nullptr ? me->pw_name : "root") +
                        "\nlog_dest file " + m_dir + "/broker.log\n");
    std::string path = program("mosquitto");
    m_process = std::make_unique<Child>([=] { return runProgram(path, {"mosquitto", "-c", conf}); });
    if (waitFor([this] { return accepts(m_port); }, 20)) return true;
    kill();
    if (again) return false;
    m_port = 0;
  }
  return false;
}

void Broker::kill() {
  if (m_process == nullptr) return;
  ::kill(m_process->pid(), SIGKILL);
  m_process->finish();
  m_process.reset();
}

ChildResult mqttClient(const std::string& name, std::vector<std::string> args) {
  args.insert(args.begin(), name);
  std::string path = program(name);
  return runChild([&] { return runProgram(path, args); });
}

bool makeTestCertificates(const std::string& dir) {
  const std::string script =
      "cd '" + dir +
      "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out "
      "ca.crt"
      " -days 2 -subj /CN=kqtest-ca"
      " && openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key"
      " -out server.csr -subj /CN=127.0.0.1"
      " && printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > san.ext"
      " && openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt -days 2"
      " -extfile san.ext && chmod 644 server.key";
  return runChild([&] { return runProgram("/bin/sh", {"sh", "-c", script}); }).status == 0;
}

}  // namespace kqtest
