// A request to the admin endpoint: one JSON object, {"op": ...} and the
// fields its operation takes (README, "The admin endpoint"). Decoding takes
// any bytes a client may send and never throws.
#ifndef KQBRIDGE_ADMIN_ADMIN_REQUEST_H_
#define KQBRIDGE_ADMIN_ADMIN_REQUEST_H_

#include <cstdint>
#include <string>

namespace bg {

// The most the endpoint reads of one request; a longer one is refused
// unread.
const uint32_t kMaxAdminRequest = 1 << 20;
// The most bytes of the central log one answer carries.
const long long kMaxLogChunk = 1 << 20;

struct AdminRequest {
  enum Op { kHello, kStatus, kGet, kSet, kCall, kLog, kStop };
  Op op = kHello;
  std::string key;    // get, set
  std::string value;  // set: a value in its text form
  // call: the message for component `to`
  std::string to;
  int32_t cmd = 0;
  int32_t sub = 0;
  std::string text;
  int64_t word3 = 0;
  int64_t word4 = 0;
  // log: where in the central log to start, and how many bytes at most
  long long from = 0;
  long long max = 64 * 1024;
};

// True with `out` filled, or false with `error` saying, in one line, which
// field is missing or wrong. Fields an operation does not take are ignored.
bool decodeAdminRequest(const std::string& bytes, AdminRequest* out, std::string* error);

}  // namespace bg

#endif  // KQBRIDGE_ADMIN_ADMIN_REQUEST_H_
