#include "admin/admin_request.h"

#include <limits>
#include <nlohmann/json.hpp>

namespace bg {

namespace {

using nlohmann::json;

struct OpName {
  const char* name;
  AdminRequest::Op op;
};

const OpName kOps[] = {
    {"hello", AdminRequest::kHello}, {"status", AdminRequest::kStatus}, {"get", AdminRequest::kGet},
    {"set", AdminRequest::kSet},     {"call", AdminRequest::kCall},     {"log", AdminRequest::kLog},
    {"stop", AdminRequest::kStop},
};

// Each reader leaves `*out` alone when the field is absent and not
// required, and says what is wrong otherwise.
class Fields {
 public:
  Fields(const json& object, std::string* error) : m_object(object), m_error(error) {}

  bool text(const char* name, bool required, std::string* out) {
    auto it = m_object.find(name);
    if (it == m_object.end()) return !required || missing(name);
    if (!it->is_string()) return wrong(name, "a string");
    *out = it->get_ref<const std::string&>();
    return true;
  }

  template <typename Int>
  bool integer(const char* name, bool required, Int low, Int high, Int* out) {
    auto it = m_object.find(name);
    if (it == m_object.end()) return !required || missing(name);
    bool fits = false;
    if (it->is_number_unsigned()) {
      fits = it->get<uint64_t>() <= static_cast<uint64_t>(high);
    } else if (it->is_number_integer()) {
      int64_t v = it->get<int64_t>();
      fits = v >= static_cast<int64_t>(low) && v <= static_cast<int64_t>(high);
    }
    if (!fits) return wrong(name, "an integer from " + std::to_string(low) + " to " + std::to_string(high));
    *out = static_cast<Int>(it->get<int64_t>());
    return true;
  }

 private:
  bool missing(const char* name) {
    *m_error = std::string("the request has no \"") + name + "\"";
    return false;
  }
  bool wrong(const char* name, const std::string& what) {
    *m_error = std::string("\"") + name + "\" must be " + what;
    return false;
  }

  const json& m_object;
  std::string* m_error;
};

template <typename Int>
constexpr Int lowest() {
  return std::numeric_limits<Int>::min();
}
template <typename Int>
constexpr Int highest() {
  return std::numeric_limits<Int>::max();
}

}  // namespace

bool decodeAdminRequest(const std::string& bytes, AdminRequest* out, std::string* error) {
  json object = json::parse(bytes, nullptr, false);
  if (object.is_discarded() || !object.is_object()) {
    *error = "the request is not a JSON object";
    return false;
  }
  Fields fields(object, error);
  std::string op;
  if (!fields.text("op", true, &op)) return false;
  const OpName* found = nullptr;
  for (const OpName& candidate : kOps) {
    if (op == candidate.name) found = &candidate;
  }
  if (found == nullptr) {
    *error = "\"op\" must be one of hello, status, get, set, call, log, stop";
    return false;
  }
  AdminRequest request;
  request.op = found->op;
  bool ok = true;
  switch (request.op) {
    case AdminRequest::kGet:
      ok = fields.text("key", true, &request.key);
      break;
    case AdminRequest::kSet:
      ok = fields.text("key", true, &request.key) && fields.text("value", true, &request.value);
      break;
    case AdminRequest::kCall:
      ok = fields.text("to", true, &request.to) &&
           fields.integer("cmd", true, lowest<int32_t>(), highest<int32_t>(), &request.cmd) &&
           fields.integer("sub", false, lowest<int32_t>(), highest<int32_t>(), &request.sub) &&
           fields.text("text", false, &request.text) &&
           fields.integer("word3", false, lowest<int64_t>(), highest<int64_t>(), &request.word3) &&
           fields.integer("word4", false, lowest<int64_t>(), highest<int64_t>(), &request.word4);
      break;
    case AdminRequest::kLog:
      ok = fields.integer("from", false, 0LL, highest<long long>(), &request.from) &&
           fields.integer("max", false, 1LL, kMaxLogChunk, &request.max);
      break;
    default:
      break;
  }
  if (ok) *out = std::move(request);
  return ok;
}

}  // namespace bg
