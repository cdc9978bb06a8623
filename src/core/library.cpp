#include "core/library.h"

#include "kqbridge/logger.h"
#include "kqbridge/utils.h"
#include "platform/dynamic_library.h"
#include "platform/last_error.h"

namespace kq {

Library::Library(const char* path)
    : m_path(bg::normalizePath(path != nullptr ? path : "")), m_handle(nullptr) {}

Library::~Library() = default;

namespace {

// Writing the log line makes system calls of its own, which may set the
// system's last error; errorText() must still see the loader's number.
void keepErrorWhileLogging(const std::string& why) {
  unsigned error = bg::platform::getLastError();
  BG_LOG(DEBUG, "%s", why.c_str());
  bg::platform::setLastError(error);
}

}  // namespace

// The path is handed over as UTF-8 bytes: POSIX file names are bytes, and the
// wide conversion belongs to a Windows implementation of the platform layer.
bool Library::load() {
  std::string why;
  m_handle = bg::platform::openLibrary(m_path.c_str(), &why);
  if (m_handle == nullptr) keepErrorWhileLogging(why);
  return m_handle != nullptr;
}

void* Library::resolve(const char* symbol) {
  std::string why;
  void* address = bg::platform::findSymbol(m_handle, symbol, &why);
  if (address == nullptr) keepErrorWhileLogging(why);
  return address;
}

std::string Library::errorText() {
  return bg::format("libray err: %d", static_cast<int>(bg::platform::getLastError()));
}

}  // namespace kq
