#include "wire.h"

#include <cstdint>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>

namespace remote {

namespace {

using Json = nlohmann::json;

const char kRoot[] = "kqbridge/";
const char kDataRoot[] = "kqbridge/data/";

// One scalar member of a flat JSON object.
struct Member {
  enum Kind { kNull, kBool, kSigned, kUnsigned, kFloat, kString } kind = kNull;
  int64_t i = 0;
  uint64_t u = 0;
  std::string s;

  bool integer(int64_t lo, int64_t hi, int64_t* out) const {
    if (kind == kSigned && i >= lo && i <= hi) {
      *out = i;
      return true;
    }
    if (kind == kUnsigned && u <= static_cast<uint64_t>(hi)) {
      *out = static_cast<int64_t>(u);
      return true;
    }
    return false;
  }
};

// Reads one JSON object of scalars and refuses anything else (nesting
// included), so that no input can make the parser build deep structures.
class FlatObject {
 public:
  using number_integer_t = Json::number_integer_t;
  using number_unsigned_t = Json::number_unsigned_t;
  using number_float_t = Json::number_float_t;
  using string_t = Json::string_t;
  using binary_t = Json::binary_t;

  bool null() { return put(Member{}); }
  bool boolean(bool) { return put(Member{Member::kBool, 0, 0, {}}); }
  bool number_integer(number_integer_t v) { return put(Member{Member::kSigned, v, 0, {}}); }
  bool number_unsigned(number_unsigned_t v) { return put(Member{Member::kUnsigned, 0, v, {}}); }
  bool number_float(number_float_t, const string_t&) { return put(Member{Member::kFloat, 0, 0, {}}); }
  bool string(string_t& v) { return put(Member{Member::kString, 0, 0, std::move(v)}); }
  bool binary(binary_t&) { return false; }
  bool start_object(std::size_t) { return m_depth++ == 0; }
  bool end_object() { return --m_depth == 0; }
  bool start_array(std::size_t) { return false; }
  bool end_array() { return false; }
  bool key(string_t& k) {
    m_key = std::move(k);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

  bool parse(const std::string& text) {
    try {
      return Json::sax_parse(text.begin(), text.end(), this) && m_depth == 0;
    } catch (const std::exception&) {
      return false;
    }
  }

  const Member* find(const char* name) const {
    auto it = m_members.find(name);
    return it == m_members.end() ? nullptr : &it->second;
  }

 private:
  // A scalar outside an object is not ours.
  bool put(Member m) {
    if (m_depth != 1) return false;
    m_members[m_key] = std::move(m);
    return true;
  }

  int m_depth = 0;
  std::string m_key;
  std::map<std::string, Member> m_members;
};

std::string dump(const Json& j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string callTopic(const std::string& node, const std::string& component) {
  return kRoot + node + "/call/" + component;
}

std::string replyTopic(const std::string& node) {
  return kRoot + node + "/reply";
}

std::string statusTopic(const std::string& node) {
  return kRoot + node + "/status";
}

std::string dataTopic(const std::string& key) {
  return kDataRoot + key;
}

std::string dataFilter(const std::string& keyOrPrefix, bool prefix) {
  if (!prefix) return dataTopic(keyOrPrefix);
  size_t slash = keyOrPrefix.rfind('/');
  return kDataRoot + (slash == std::string::npos ? std::string() : keyOrPrefix.substr(0, slash + 1)) + "#";
}

Topic classify(const std::string& topic, const std::string& ownNode, std::string* name) {
  const size_t rootLen = sizeof(kRoot) - 1;
  const size_t dataLen = sizeof(kDataRoot) - 1;
  if (topic.compare(0, dataLen, kDataRoot) == 0) {
    *name = topic.substr(dataLen);
    return name->empty() ? Topic::kOther : Topic::kData;
  }
  if (topic.compare(0, rootLen, kRoot) != 0) return Topic::kOther;
  size_t slash = topic.find('/', rootLen);
  if (slash == std::string::npos || slash == rootLen) return Topic::kOther;
  std::string node = topic.substr(rootLen, slash - rootLen);
  std::string rest = topic.substr(slash + 1);
  if (rest == "status") {
    *name = node;
    return Topic::kStatus;
  }
  if (node != ownNode) return Topic::kOther;
  if (rest == "reply") return Topic::kReply;
  if (rest.compare(0, 5, "call/") == 0 && rest.size() > 5) {
    *name = rest.substr(5);
    return Topic::kCall;
  }
  return Topic::kOther;
}

std::string encodeRequest(const char* from, const BridgeMsg& msg) {
  Json j = {{"from", from != nullptr ? from : ""},
            {"cmd", msg.cmd},
            {"sub", msg.sub},
            {"text", msg.text != nullptr ? Json(msg.text) : Json(nullptr)},
            {"word3", static_cast<int64_t>(msg.word3)},
            {"word4", static_cast<int64_t>(msg.word4)}};
  return dump(j);
}

bool decodeRequest(const std::string& payload, Request* out) {
  FlatObject object;
  if (payload.size() > kMaxPayload || !object.parse(payload)) return false;
  const int64_t i32min = std::numeric_limits<int32_t>::min(), i32max = std::numeric_limits<int32_t>::max();
  const int64_t i64min = std::numeric_limits<int64_t>::min(), i64max = std::numeric_limits<int64_t>::max();
  int64_t cmd = 0, sub = 0, word3 = 0, word4 = 0;
  const Member* m = object.find("cmd");
  if (m == nullptr || !m->integer(i32min, i32max, &cmd)) return false;
  m = object.find("sub");
  if (m == nullptr || !m->integer(i32min, i32max, &sub)) return false;
  m = object.find("word3");
  if (m != nullptr && !m->integer(i64min, i64max, &word3)) return false;
  m = object.find("word4");
  if (m != nullptr && !m->integer(i64min, i64max, &word4)) return false;
  m = object.find("from");
  if (m != nullptr && m->kind != Member::kString) return false;
  out->from = m != nullptr ? m->s : std::string();
  const Member* text = object.find("text");
  if (text != nullptr && text->kind != Member::kString && text->kind != Member::kNull) return false;
  out->hasText = text != nullptr && text->kind == Member::kString;
  out->text = out->hasText ? text->s : std::string();
  out->cmd = static_cast<int32_t>(cmd);
  out->sub = static_cast<int32_t>(sub);
  out->word3 = word3;
  out->word4 = word4;
  return true;
}

std::string encodeValue(const std::string& textForm) {
  return dump(Json{{"value", textForm}});
}

bool decodeValue(const std::string& payload, bg::Value* out) {
  FlatObject object;
  if (payload.size() > kMaxPayload || !object.parse(payload)) return false;
  const Member* m = object.find("value");
  if (m == nullptr || m->kind != Member::kString) return false;
  return out->read(m->s.c_str()) || m->s == "<null>";
}

}  // namespace remote
