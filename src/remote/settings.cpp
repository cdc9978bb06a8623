#include "settings.h"

#include <kqbridge/config.h>

#include <cstdlib>
#include <fstream>

namespace remote {

namespace {

const size_t kMaxNodeName = 64;
const size_t kMaxComponentName = 31;  // what fits in Interface::m_name

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// The non-empty, trimmed items of a comma list.
std::vector<std::string> items(const std::string& list) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string item = trimmed(list.substr(start, comma - start));
    if (!item.empty()) out.push_back(item);
    start = comma + 1;
  }
  return out;
}

bool isNodeChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '-';
}

// The machine's host name, kept to the characters a node name allows. It is
// read where each system keeps it, so that no system call needs a branch here.
std::string machineName() {
  std::string name;
  if (const char* windows = std::getenv("COMPUTERNAME")) name = windows;
  for (const char* file : {"/proc/sys/kernel/hostname", "/etc/hostname"}) {
    if (!name.empty()) break;
    std::ifstream in(file);
    std::getline(in, name);
  }
  std::string kept;
  for (char c : name) {
    if (isNodeChar(c) && kept.size() < kMaxNodeName) kept += c;
  }
  return kept.empty() ? "node" : kept;
}

// "mqtt://host:port" or "mqtts://host:port"; the port defaults to the
// scheme's, and a numeric IPv6 host is written in brackets.
bool parseBroker(const std::string& url, Settings* out) {
  std::string rest;
  if (url.rfind("mqtt://", 0) == 0) {
    out->tls = false;
    out->port = 1883;
    rest = url.substr(7);
  } else if (url.rfind("mqtts://", 0) == 0) {
    out->tls = true;
    out->port = 8883;
    rest = url.substr(8);
  } else {
    return false;
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  size_t colon = rest.rfind(':');
  size_t bracket = rest.rfind(']');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
    std::string port = rest.substr(colon + 1);
    char* end = nullptr;
    long n = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || n < 1 || n > 65535) return false;
    out->port = static_cast<int>(n);
    rest = rest.substr(0, colon);
  }
  if (rest.size() > 2 && rest.front() == '[' && rest.back() == ']') rest = rest.substr(1, rest.size() - 2);
  if (rest.empty() || rest.find_first_of("/@ ") != std::string::npos) return false;
  out->host = rest;
  return true;
}

}  // namespace

bool isNodeName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNodeName) return false;
  for (char c : name) {
    if (!isNodeChar(c)) return false;
  }
  return true;
}

bool Settings::exported(const std::string& component) const {
  for (const std::string& e : exports) {
    if (e == component) return true;
  }
  return exportAll && component != "Admin";
}

bool Settings::mirrored(const std::string& key) const {
  for (const std::string& k : exactKeys) {
    if (k == key) return true;
  }
  for (const std::string& p : keyPrefixes) {
    if (key.compare(0, p.size(), p) == 0) return true;
  }
  return false;
}

bool readSettings(bg::Abstract_Config* config, Settings* out, std::vector<std::string>* problems) {
  auto get = [config](const char* key) { return trimmed(config->getValue(key, "")); };
  bool usable = true;

  std::string broker = get("Broker");
  if (!broker.empty() && !parseBroker(broker, out)) {
    problems->push_back("Broker '" + broker + "' is not mqtt://host:port or mqtts://host:port");
    usable = false;
  }
  out->node = get("Node");
  if (out->node.empty()) out->node = machineName();
  if (!isNodeName(out->node)) {
    problems->push_back("Node '" + out->node + "' is not 1-64 characters of A-Z a-z 0-9 . _ -");
    usable = false;
  }

  for (const std::string& e : items(get("Export"))) {
    if (e == "*") {
      out->exportAll = true;
    } else {
      out->exports.push_back(e);
    }
  }
  for (const std::string& entry : items(get("Import"))) {
    size_t at = entry.rfind('@');
    Import import;
    if (at != std::string::npos) import = Import{trimmed(entry.substr(0, at)), trimmed(entry.substr(at + 1))};
    if (import.component.empty() || import.component.size() > kMaxComponentName || !isNodeName(import.node)) {
      problems->push_back("Import '" + entry + "' is not component@node; skipped");
      continue;
    }
    out->imports.push_back(import);
  }
  // A key becomes a topic level: MQTT's wildcards cannot be part of it.
  for (const std::string& pattern : items(get("Keys"))) {
    bool prefix = pattern.back() == '*';
    std::string key = prefix ? pattern.substr(0, pattern.size() - 1) : pattern;
    if (key.find_first_of("+#") != std::string::npos) {
      problems->push_back("Keys entry '" + pattern + "' holds + or #, which no topic may; skipped");
      continue;
    }
    (prefix ? out->keyPrefixes : out->exactKeys).push_back(key);
  }

  std::string timeout = get("CallTimeoutMs");
  if (!timeout.empty()) {
    char* end = nullptr;
    long ms = std::strtol(timeout.c_str(), &end, 10);
    if (*end != '\0' || ms < 1 || ms > 3600 * 1000) {
      problems->push_back("CallTimeoutMs '" + timeout + "' is not 1-3600000; 5000 is used");
    } else {
      out->callTimeoutMs = static_cast<int>(ms);
    }
  }
  out->username = get("Username");
  out->password = get("Password");
  out->caFile = get("CAFile");
  out->certFile = get("CertFile");
  out->keyFile = get("KeyFile");
  return usable;
}

}  // namespace remote
