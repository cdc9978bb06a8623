#include <algorithm>
#include <cstdio>

#include "ctl.h"

namespace ctl {

namespace {

std::string format(const char* fmt, double a, const char* b = "") {
  char text[64];
  snprintf(text, sizeof(text), fmt, a, b);
  return text;
}

std::string bytes(long long n) {
  if (n < 0) return "?";
  const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double v = static_cast<double>(n);
  int unit = 0;
  while (v >= 1024 && unit < 4) {
    v /= 1024;
    ++unit;
  }
  return unit == 0 ? std::to_string(n) + " B" : format("%.1f %s", v, units[unit]);
}

std::string duration(double seconds) {
  long s = static_cast<long>(seconds);
  char text[32];
  if (s < 60) {
    snprintf(text, sizeof(text), "%lds", s);
  } else if (s < 3600) {
    snprintf(text, sizeof(text), "%ldm%02lds", s / 60, s % 60);
  } else {
    snprintf(text, sizeof(text), "%ldh%02ldm", s / 3600, s / 60 % 60);
  }
  return text;
}

std::string text(const json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_null()) return "";
  return v.dump();
}

// Columns as wide as their widest cell, two blanks apart.
class Table {
 public:
  explicit Table(std::vector<std::string> header) { m_rows.push_back(std::move(header)); }
  void add(std::vector<std::string> row) { m_rows.push_back(std::move(row)); }
  std::string str(const char* indent = "  ") const {
    std::vector<size_t> width;
    for (const auto& row : m_rows) {
      for (size_t i = 0; i < row.size(); ++i) {
        if (width.size() <= i) width.push_back(0);
        width[i] = std::max(width[i], row[i].size());
      }
    }
    std::string out;
    for (const auto& row : m_rows) {
      std::string line = indent;
      for (size_t i = 0; i < row.size(); ++i)
        line += row[i] + (i + 1 < row.size() ? std::string(width[i] - row[i].size() + 2, ' ') : "");
      out += line + "\n";
    }
    return out;
  }

 private:
  std::vector<std::vector<std::string>> m_rows;
};

std::string summary(json& s) {
  json& host = s["host"];
  json& pool = s["pool"];
  json& arenas = s["memory"]["arenas"];
  json& packets = s["memory"]["packetPools"];
  std::string out;
  out += "host     " + text(host["name"]) + "  pid " + text(host["pid"]) + "  up " +
         duration(host["uptime"].get<double>()) + "\n";
  out += "exe      " + text(host["exe"]) + "\n";
  out += "config   " + text(host["configDir"]) + "\n";
  out += "process  " + bytes(s["process"]["residentBytes"].get<long long>()) + " resident, " +
         text(s["process"]["threads"]) + " threads\n";
  out += "pool     " +
         (pool["started"].get<bool>()
              ? text(pool["workers"]) + " workers, " + text(pool["running"]) + " running, " +
                    text(pool["queued"]) + " queued, " + text(pool["completed"]) + " completed"
              : std::string("not running")) +
         "\n";
  out += "memory   " + text(arenas["count"]) + " arenas (" + text(arenas["blocks"]) + " blocks, " +
         bytes(arenas["bytes"].get<long long>()) + "), " + text(packets["count"]) + " packet pools (" +
         text(packets["nodes"]) + " nodes, " + bytes(packets["bytes"].get<long long>()) + ")\n";
  return out;
}

std::string components(json& s) {
  Table table({"NAME", "STATE", "MODULE"});
  for (json& c : s["components"]) table.add({text(c["name"]), text(c["state"]), text(c["module"])});
  return "\ncomponents (" + std::to_string(s["components"].size()) + ")\n" + table.str();
}

std::string channels(json& s, bool byDepth, int rows) {
  std::vector<json> all(s["channels"].begin(), s["channels"].end());
  if (byDepth) {
    std::stable_sort(all.begin(), all.end(), [](const json& a, const json& b) {
      return a.value("queued", 0LL) > b.value("queued", 0LL);
    });
  }
  Table table({"CHANNEL", "QUEUED", "BYTES", "READERS WAITING"});
  size_t shown = rows > 0 ? std::min(all.size(), static_cast<size_t>(rows)) : all.size();
  for (size_t i = 0; i < shown; ++i)
    table.add({text(all[i]["name"]), text(all[i]["queued"]), text(all[i]["bytes"]),
               text(all[i]["readersWaiting"])});
  std::string more = shown < all.size() ? "  ... " + std::to_string(all.size() - shown) + " more\n" : "";
  return "\nchannels (" + std::to_string(all.size()) + ")\n" + table.str() + more;
}

std::string dataBus(json& s) {
  json& data = s["data"];
  Table keys({"KEY", "KIND", "SIZE", "LISTENERS"});
  for (json& k : data["keys"])
    keys.add({text(k["key"]), text(k["kind"]), text(k["size"]), text(k["listeners"])});
  Table filters({"FILTER", "MODULE"});
  for (json& f : data["filters"]) filters.add({text(f["id"]), text(f["module"])});
  return "\ndata bus (" + text(data["keyCount"]) + " keys, " + std::to_string(data["filters"].size()) +
         " filters)\n" + keys.str() + (data["filters"].empty() ? "" : filters.str());
}

std::string logFiles(json& s) {
  std::string out = "\nlog files\n";
  for (json& f : s["host"]["logFiles"]) out += "  " + text(f) + "\n";
  return out;
}

}  // namespace

// The answer is a copy: a field it lacks reads as null (and fails as a
// json::exception when used), never as a missing element of a const object.
// `top` keeps to one screen: the summary, the deepest channels, and the
// components.
std::string describeStatus(json s, bool top, int rows) {
  if (!top) return summary(s) + components(s) + dataBus(s) + channels(s, false, 0) + logFiles(s);
  int room = rows > 0 ? std::max(rows - 12 - static_cast<int>(s["components"].size()), 3) : 0;
  return summary(s) + channels(s, true, room) + components(s) + "\n(q quits)\n";
}

std::string describeHosts(std::vector<json> hellos) {
  Table table({"NAME", "PID", "UPTIME", "COMPONENTS", "EXECUTABLE"});
  for (json& h : hellos)
    table.add({text(h["name"]), text(h["pid"]), duration(h["uptime"].get<double>()), text(h["components"]),
               text(h["exe"])});
  return table.str("");
}

}  // namespace ctl
