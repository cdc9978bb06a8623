#include <cstdio>
#include <cstring>

#include "kqbridge/bridge.h"
#include "kqbridge/data.h"
#include "kqbridge/utils.h"
#include "platform/console.h"

namespace bg {

namespace {

// The maker's web domain, published in KQBridge at start.
const char kMakerDomain[] = "kqbridge.dev";
const char kMainVariable[] = "Bridge_Main_CD";
const char kErrorKey[] = "BgError";

// Guards only against UninitBridge nested in code the destructor runs.
bool g_uninitializing = false;

typedef void (*ErrorHandler)(const char*, void*);

void forwardError(const char* key, const Value* value, ListenerRecord* rec) {
  if (key == nullptr || strcmp(key, kErrorKey) != 0) return;
  ErrorHandler handler = reinterpret_cast<ErrorHandler>(rec->user[0]);
  if (handler == nullptr) return;
  std::string text = value != nullptr ? value->toStdString() : std::string();
  handler(text.c_str(), reinterpret_cast<void*>(rec->user[1]));
}

}  // namespace

// The count is not read: argv[0] alone matters, and it has to be there.
int InitBridge(int /*argc*/, char** argv) {
  if (CD != nullptr) return 0;
  if (argv == nullptr || argv[0] == nullptr) {
    platform::consoleError(
        "InitBridge: argv[0] is null; the bridge needs the executable's path and was not started\n");
    return -1;
  }
  setEnv("KQBridge", kMakerDomain, 1);
  CD = new Admin();
  setExecutablePath(argv[0]);
  CD->init();
  SetEnvPtr(kMainVariable, CD);
  return 0;
}

int InitBridgeFromEnv(void** ppCD) {
  if (ppCD == nullptr) {
    platform::consoleError("err=-1: ppCD is NULL\n");
    return -1;
  }
  GetEnvPtr(kMainVariable, ppCD);
  if (*ppCD != nullptr) return 0;
  platform::consoleError("err=-2: *ppCD is NULL\n");
  return -2;
}

void GetEnvPtr(const char* name, void** out) {
  getEnvPtr(name, out);
}

int SetEnvPtr(const char* name, void* p) {
  return setEnvPtr(name, p);
}

// CD stays set while the central object is deleted, so its last log lines
// still reach the central logger.
void UninitBridge() {
  if (CD == nullptr || g_uninitializing) return;
  g_uninitializing = true;
  delete CD;
  CD = nullptr;
  g_uninitializing = false;
}

void RegistBgErrHandle(ErrorHandler handler, void* user) {
  if (CD == nullptr || CD->m_data == nullptr) {
    platform::consoleError(
        "RegistBgErrHandle: no bridge yet (InitBridge first); the handler was not registered\n");
    return;
  }
  ListenerRecord record = {};
  record.callback = forwardError;
  record.user[0] = reinterpret_cast<intptr_t>(handler);
  record.user[1] = reinterpret_cast<intptr_t>(user);
  CD->m_data->registListener(kErrorKey, &record);
}

void SetConsoleUtf8() {}

// The platform's sink has the same shape, so the host's goes in as it is.
void SetConsoleSink(ConsoleSinkFn sink, void* user) {
  platform::setConsoleSink(sink, user);
}

}  // namespace bg
