// What the admin endpoint answers: one JSON object per request, built from
// the services of one central object. Called on the endpoint's workers,
// several at once; each service is read under its own lock.
#ifndef KQBRIDGE_ADMIN_ADMIN_ANSWERS_H_
#define KQBRIDGE_ADMIN_ADMIN_ANSWERS_H_

#include <chrono>
#include <string>

#include "admin/admin_request.h"

namespace bg {

class Interface;
class ComponentRoster;

// The process an endpoint speaks for.
struct AdminHost {
  Interface* central;
  const ComponentRoster* roster;
  std::string name;  // the pipe's name
  std::chrono::steady_clock::time_point started;
};

struct AdminAnswer {
  std::string json;
  // The central object's stop message is to be delivered once the answer
  // has gone out (the process ends there).
  bool thenStop = false;
};

// {"ok":true,...}, or {"ok":false,"error":...} when the host refuses.
AdminAnswer answerAdminRequest(const AdminHost& host, const AdminRequest& request);
std::string adminErrorAnswer(const std::string& error);

}  // namespace bg

#endif  // KQBRIDGE_ADMIN_ADMIN_ANSWERS_H_
