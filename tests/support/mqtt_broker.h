// A private Mosquitto broker for one test, on a free local port with its
// files in the test's directory, and Mosquitto's command-line clients, with
// which a test takes part in MQTT as any other program would.
#ifndef KQBRIDGE_TESTS_SUPPORT_MQTT_BROKER_H_
#define KQBRIDGE_TESTS_SUPPORT_MQTT_BROKER_H_

#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kqtest {

class Broker {
 public:
  // `listenerLines` follow the listener line of the configuration (TLS
  // files, password file); without them anyone may connect.
  explicit Broker(const std::string& dir, const std::string& listenerLines = "allow_anonymous true\n");
  ~Broker() { kill(); }

  // Starts the broker, on the port of its first start when it ran before;
  // true once it accepts connections.
  bool start();
  // SIGKILL, then reaps it.
  void kill();
  int port() const { return m_port; }
  std::string url(const char* scheme = "mqtt") const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(m_port);
  }
  // -h and -p for the command-line clients.
  std::vector<std::string> where() const { return {"-h", "127.0.0.1", "-p", std::to_string(m_port)}; }

 private:
  std::string m_dir;
  std::string m_lines;
  int m_port = 0;
  std::unique_ptr<Child> m_process;
};

// Runs Mosquitto's `program` (mosquitto_pub, mosquitto_rr, ...) with `args`.
ChildResult mqttClient(const std::string& program, std::vector<std::string> args);

// A test CA and a server certificate for 127.0.0.1 it signed, made with
// openssl in `dir` as ca.crt, server.crt and server.key; false on failure.
bool makeTestCertificates(const std::string& dir);

}  // namespace kqtest

#endif  // KQBRIDGE_TESTS_SUPPORT_MQTT_BROKER_H_
