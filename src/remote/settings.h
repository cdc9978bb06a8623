// What remote.conf says, read and checked once when the module starts.
#ifndef KQBRIDGE_REMOTE_SETTINGS_H_
#define KQBRIDGE_REMOTE_SETTINGS_H_

#include <string>
#include <vector>

namespace bg {
class Abstract_Config;
}

namespace remote {

// A component of another node made callable here under its own name.
struct Import {
  std::string component;
  std::string node;
};

// Plain data, read by every thread of the module after init without locking:
// nothing changes it once readSettings returned.
struct Settings {
  std::string host = "localhost";
  int port = 1883;
  bool tls = false;
  std::string node;
  std::vector<std::string> exports;
  bool exportAll = false;
  std::vector<Import> imports;
  // Mirrored data-bus keys: an exact key, or a prefix when the pattern ended in '*'.
  std::vector<std::string> exactKeys;
  std::vector<std::string> keyPrefixes;
  int callTimeoutMs = 5000;
  std::string username;
  std::string password;
  std::string caFile;
  std::string certFile;
  std::string keyFile;

  // Whether other nodes may call `component`. "*" allows every component
  // but the central object, which must be named to be reachable.
  bool exported(const std::string& component) const;
  bool mirrored(const std::string& key) const;
};

// Fills `out` from the "Broker", "Node", "Export", "Import", "Keys",
// "CallTimeoutMs", "Username", "Password", "CAFile", "CertFile" and "KeyFile"
// entries of `config`. Each entry that cannot be used adds one line to
// `problems` and is left at its default or skipped. False when the module
// cannot run at all: an unusable Broker or Node.
bool readSettings(bg::Abstract_Config* config, Settings* out, std::vector<std::string>* problems);

// 1-64 characters of A-Z a-z 0-9 . _ -, so that a node name is one topic level.
bool isNodeName(const std::string& name);

}  // namespace remote

#endif  // KQBRIDGE_REMOTE_SETTINGS_H_
