#include "core/library.h"

#include "kqbridge/logger.h"
#include "kqbridge/utils.h"
#include "platform/dynamic_library.h"
#include "platform/last_error.h"

namespace kq {

Library::Library(const char* path)
    : m_path(bg::normalizePath(path != nullptr ? path : "")), m_handle(nullptr) {}

Library::~Library() = default;

// The path is handed over as UTF-8 bytes: POSIX file names are bytes, and the
// wide conversion belongs to a Windows implementation of the platform layer.
bool Library::load() {
  std::string why;
  m_handle = bg::platform::openLibrary(m_path.c_str(), &why);
  if (m_handle == nullptr) BG_LOG(DEBUG, "%s", why.c_str());
  return m_handle != nullptr;
}

void* Library::resolve(const char* symbol) {
  std::string why;
  void* address = bg::platform::findSymbol(m_handle, symbol, &why);
  if (address == nullptr) BG_LOG(DEBUG, "%s", why.c_str());
  return address;
}

std::string Library::errorText() {
  return bg::format("libray err: %d", static_cast<int>(bg::platform::getLastError()));
}

}  // namespace kq
