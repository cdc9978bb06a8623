#include "admin/admin_answers.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "admin/status_probe.h"
#include "core/component_roster.h"
#include "diagnostics/memory_tally.h"
#include "kqbridge/data.h"
#include "kqbridge/interface.h"
#include "kqbridge/logger.h"
#include "kqbridge/registry.h"
#include "kqbridge/utils.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"

namespace bg {

namespace {

using nlohmann::json;

const char* kindName(Value::VT kind) {
  static const char* const kNames[] = {"invalid", "map",   "int", "uint", "float", "double",
                                       "void",    "int64", "str", "bool", "argv"};
  return kind >= 0 && kind <= Value::VT_ARGV ? kNames[kind] : "invalid";
}

// Text from the host (keys, log lines, values) need not be UTF-8: what is
// not comes out as U+FFFD instead of failing the whole answer.
std::string encode(const json& answer) {
  return answer.dump(-1, ' ', false, json::error_handler_t::replace);
}

json ok() {
  return json{{"ok", true}};
}

std::string fileName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

json hostPart(const AdminHost& host) {
  double uptime = std::chrono::duration<double>(std::chrono::steady_clock::now() - host.started).count();
  // The name kqbridge-ctl shows: the pipe's, without its fixed first word.
  std::string name = host.name.substr(host.name.find('.') + 1);
  return json{{"name", name},
              {"pipe", host.name},
              {"pid", platform::processId()},
              {"exe", g_exePath},
              {"uptime", uptime},
              {"configDir", g_configDir},
              {"log", host.central->m_logger != nullptr ? host.central->m_logger->getPath() : ""}};
}

json hello(const AdminHost& host) {
  json answer = ok();
  answer.update(hostPart(host));
  answer["components"] = host.roster->entries().size();
  return answer;
}

// An array of `n` objects, each filled in place by `fill(object, i)`:
// several times faster than building each from an initializer list, which
// matters with ten thousand keys.
template <typename Fill>
json arrayOf(size_t n, Fill fill) {
  json array = json::array();
  array.get_ref<json::array_t&>().reserve(n);
  for (size_t i = 0; i < n; ++i) fill(array.emplace_back(json::object()), i);
  return array;
}

json dataPart(Data* bus) {
  DataReport report;
  StatusProbe::dataBus(bus, &report);
  json part = json::object();
  part["keyCount"] = report.keys.size();
  part["keys"] = arrayOf(report.keys.size(), [&](json& o, size_t i) {
    KeyReport& k = report.keys[i];
    o["key"] = std::move(k.key);
    o["kind"] = kindName(k.kind);
    o["size"] = k.size;
    o["listeners"] = k.listeners;
  });
  part["filters"] = arrayOf(report.filters.size(), [&](json& o, size_t i) {
    o["id"] = report.filters[i].id;
    o["module"] = fileName(platform::fileHoldingCode(report.filters[i].code));
  });
  return part;
}

json channelPart(Channel_Mgr* manager) {
  std::vector<ChannelReport> reports;
  StatusProbe::channels(manager, &reports);
  return arrayOf(reports.size(), [&](json& o, size_t i) {
    ChannelReport& c = reports[i];
    o["name"] = std::move(c.name);
    o["queued"] = c.queued;
    o["bytes"] = c.bytes;
    o["readersWaiting"] = c.readersWaiting;
  });
}

json tallyPart(const MemoryTally& tally, const char* pieces) {
  return json{{"count", tally.owners.load()}, {pieces, tally.pieces.load()}, {"bytes", tally.bytes.load()}};
}

json status(const AdminHost& host) {
  Interface* central = host.central;
  json answer = ok();
  answer["host"] = hostPart(host);
  json components = json::array();
  json logs = json::array({answer["host"]["log"]});
  for (const ComponentRoster::Entry& e : host.roster->entries()) {
    components.push_back(
        {{"name", e.name}, {"module", e.module}, {"state", phaseName(e.phase)}, {"log", e.log}});
    logs.push_back(e.log);
  }
  answer["host"]["logFiles"] = std::move(logs);
  answer["components"] = std::move(components);
  answer["data"] = dataPart(central->m_data);
  answer["channels"] = channelPart(central->m_channelMgr);
  PoolReport pool = StatusProbe::pool(central->m_threadPool);
  answer["pool"] = {{"started", pool.started},
                    {"workers", pool.workers},
                    {"queued", pool.queued},
                    {"running", pool.running},
                    {"completed", pool.completed}};
  answer["memory"] = {{"arenas", tallyPart(arenaTally(), "blocks")},
                      {"packetPools", tallyPart(packetTally(), "nodes")}};
  platform::ProcessUsage usage = platform::processUsage();
  answer["process"] = {{"residentBytes", usage.residentBytes}, {"threads", usage.threads}};
  return answer;
}

json valueAnswer(const Value& v) {
  json answer = ok();
  answer["kind"] = kindName(v.type());
  answer["value"] = v.write();
  return answer;
}

json get(const AdminHost& host, const AdminRequest& request) {
  Data* bus = host.central->m_data;
  json answer =
      bus->hasData(request.key.c_str()) ? valueAnswer(bus->getData(request.key.c_str(), Value())) : ok();
  answer["key"] = request.key;
  answer["found"] = answer.contains("value");
  return answer;
}

json set(const AdminHost& host, const AdminRequest& request) {
  Value v;
  if (!v.read(request.value.c_str()) || !v.isValid())
    return json{{"ok", false},
                {"error", "'" + request.value + "' is not a value in text form ([i]42, [str]text, ...)"}};
  host.central->m_data->setDataNotify(request.key.c_str(), v, true);
  return ok();
}

bool isStopMessage(const AdminRequest& request) {
  return request.to == "Admin" && (request.cmd == 1 || request.cmd == 2) && request.sub == 0;
}

// The message goes through the central object, as from "Admin".
json call(const AdminHost& host, const AdminRequest& request) {
  if (getInstance(request.to.c_str()) == nullptr)
    return json{{"ok", false}, {"error", "no component named '" + request.to + "'"}};
  BridgeMsg msg = {request.cmd, request.sub, request.text.c_str(), static_cast<intptr_t>(request.word3),
                   static_cast<intptr_t>(request.word4)};
  return valueAnswer(host.central->call(request.to.c_str(), msg));
}

// Whole lines only, unless one line alone is longer than the chunk, so
// that a follower never prints half a line it would have to take back.
json log(const AdminHost& host, const AdminRequest& request) {
  Logger* logger = host.central->m_logger;
  FILE* stream = logger != nullptr ? logger->getStream() : nullptr;
  if (logger == nullptr || stream == stdout || stream == stderr)
    return json{{"ok", false}, {"error", "the central log goes to standard output, not to a file"}};
  std::string path = logger->getPath();
  std::string text;
  long long from = request.from;
  if (FILE* f = openFile(path.c_str(), "rb")) {
    if (fseek(f, 0, SEEK_END) == 0 && ftell(f) < from) from = 0;  // a new file since
    if (fseek(f, static_cast<long>(from), SEEK_SET) == 0) {
      text.resize(static_cast<size_t>(request.max));
      text.resize(fread(&text[0], 1, text.size(), f));
    }
    fclose(f);
  }
  size_t lastLine = text.rfind('\n');
  if (lastLine != std::string::npos && text.size() == static_cast<size_t>(request.max))
    text.resize(lastLine + 1);
  json answer = ok();
  answer["file"] = path;
  answer["from"] = from;
  answer["next"] = from + static_cast<long long>(text.size());
  answer["text"] = std::move(text);
  return answer;
}

}  // namespace

std::string adminErrorAnswer(const std::string& error) {
  return encode(json{{"ok", false}, {"error", error}});
}

AdminAnswer answerAdminRequest(const AdminHost& host, const AdminRequest& request) {
  AdminAnswer answer;
  switch (request.op) {
    case AdminRequest::kHello:
      answer.json = encode(hello(host));
      break;
    case AdminRequest::kStatus:
      answer.json = encode(status(host));
      break;
    case AdminRequest::kGet:
      answer.json = encode(get(host, request));
      break;
    case AdminRequest::kSet:
      answer.json = encode(set(host, request));
      break;
    case AdminRequest::kCall:
      answer.thenStop = isStopMessage(request);
      answer.json = encode(answer.thenStop ? json{{"ok", true}, {"stopping", true}} : call(host, request));
      break;
    case AdminRequest::kLog:
      answer.json = encode(log(host, request));
      break;
    case AdminRequest::kStop:
      answer.thenStop = true;
      answer.json = encode(json{{"ok", true}, {"stopping", true}});
      break;
  }
  return answer;
}

}  // namespace bg
