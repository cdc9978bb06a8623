// What travels between nodes: the topics and the JSON payloads, readable
// and writable by any MQTT 5 client.
//
//   kqbridge/<node>/call/<component>  a request {"from","cmd","sub","text","word3","word4"},
//                                     with a response topic and correlation data
//   kqbridge/<node>/reply             answers {"value":"<Value text form>"}
//   kqbridge/<node>/status            "online" (retained), "offline" (retained, the last will)
//   kqbridge/data/<key>               a mirrored key {"value":"<Value text form>"}, retained,
//                                     with the origin node in the user property "origin"
//
// Decoding never trusts its input: anything else is refused whole. Every
// function is safe to call from any thread.
#ifndef KQBRIDGE_REMOTE_WIRE_H_
#define KQBRIDGE_REMOTE_WIRE_H_

#include <kqbridge/interface.h>
#include <kqbridge/value.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace remote {

// Larger payloads are refused unread.
constexpr size_t kMaxPayload = 256 * 1024;
// The user property that names the node a mirrored value comes from.
constexpr const char* kOriginProperty = "origin";
constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";

std::string callTopic(const std::string& node, const std::string& component);
std::string replyTopic(const std::string& node);
std::string statusTopic(const std::string& node);
std::string dataTopic(const std::string& key);
// What a node subscribes to for the keys it mirrors: the topic itself, or for
// a prefix everything below its last complete level (the rest is matched here).
std::string dataFilter(const std::string& keyOrPrefix, bool prefix);

// Which kind of topic a message came on, and the name in it (the component,
// the node, or the key).
enum class Topic { kOther, kCall, kReply, kStatus, kData };
Topic classify(const std::string& topic, const std::string& ownNode, std::string* name);

// A request as decoded.
struct Request {
  std::string from;
  int32_t cmd = 0;
  int32_t sub = 0;
  bool hasText = false;
  std::string text;
  int64_t word3 = 0;
  int64_t word4 = 0;

  // The message, its text pointing into this record. Words are integers on
  // the wire; a 32-bit build keeps their low half.
  BridgeMsg message() const {
    return BridgeMsg{cmd, sub, hasText ? text.c_str() : nullptr, static_cast<intptr_t>(word3),
                     static_cast<intptr_t>(word4)};
  }
};

std::string encodeRequest(const char* from, const BridgeMsg& msg);
// False unless `payload` is one JSON object whose "cmd" and "sub" are 32-bit
// integers; "from" and "text" are strings, "word3" and "word4" 64-bit
// integers (each optional; a missing or null "text" gives a null pointer).
// Other members are ignored.
bool decodeRequest(const std::string& payload, Request* out);

// {"value":"<textForm>"}. Text that is not UTF-8 has its stray bytes
// replaced, as JSON cannot carry them.
std::string encodeValue(const std::string& textForm);
// False unless `payload` is one JSON object with a string "value" that is a
// Value's text form ("<null>", the invalid value, included).
bool decodeValue(const std::string& payload, bg::Value* out);

}  // namespace remote

#endif  // KQBRIDGE_REMOTE_WIRE_H_
