#include <windows.h>

#include "platform/shared_memory.h"

namespace bg {
namespace platform {

// A named file mapping backed by the paging file. The system removes it
// when the last handle or view on it goes, also when a holder is killed.
struct SharedSegment {
  HANDLE mapping;
};

namespace {

SharedSegment* wrap(HANDLE mapping) {
  if (mapping == nullptr) return nullptr;
  return new SharedSegment{mapping};
}

}  // namespace

// The handle is not inherited: a child some module starts holds nothing of ours.
SharedSegment* openSharedMemory(const char* name) {
  if (name == nullptr) return nullptr;
  return wrap(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name));
}

SharedSegment* createSharedMemory(const char* name, uint32_t size) {
  if (name == nullptr || size == 0) return nullptr;
  return wrap(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name));
}

bool closeSharedMemory(SharedSegment* segment) {
  if (segment == nullptr) return false;
  bool closed = CloseHandle(segment->mapping) != 0;
  delete segment;
  return closed;
}

void* mapSharedMemory(SharedSegment* segment) {
  if (segment == nullptr) return nullptr;
  return MapViewOfFile(segment->mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
}

void unmapSharedMemory(void* view) {
  if (view != nullptr) UnmapViewOfFile(view);
}

std::string sharedMemoryObjectName(const char* name) {
  return name == nullptr ? std::string() : std::string(name);
}

}  // namespace platform
}  // namespace bg
