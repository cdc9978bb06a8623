#include "kqbridge/share_mem.h"

#include <cstdio>

#include "platform/shared_memory.h"

namespace bg {

struct SharedMapping {
  platform::SharedSegment* segment;
};

Share_Mem::Share_Mem() : m_mapping(nullptr), m_state(0) {}

Share_Mem::~Share_Mem() {
  close();
}

int Share_Mem::open(const char* name, unsigned size) {
  if (m_mapping != nullptr) {
    fprintf(stderr, "[share men]: already %s.\n", m_state == 2 ? "opened" : "created");
    fflush(stderr);
    return m_state;
  }
  if (platform::SharedSegment* opened = platform::openSharedMemory(name)) {
    m_mapping = new SharedMapping{opened};
    m_state = 2;
    return m_state;
  }
  if (platform::SharedSegment* created = platform::createSharedMemory(name, size)) {
    m_mapping = new SharedMapping{created};
    m_state = 1;
    return m_state;
  }
  m_state = 0;
  return m_state;
}

int Share_Mem::state() {
  return m_state;
}

int Share_Mem::close() {
  if (m_mapping == nullptr) return 0;
  bool closed = platform::closeSharedMemory(m_mapping->segment);
  delete m_mapping;
  m_mapping = nullptr;
  m_state = 0;
  return closed ? 1 : 0;
}

void* Share_Mem::map() {
  return m_mapping == nullptr ? nullptr : platform::mapSharedMemory(m_mapping->segment);
}

void Share_Mem::unmap(void* view) {
  platform::unmapSharedMemory(view);
}

Abstract_ShareMem* Share_Mem::create() {
  return new Share_Mem();
}

void Share_Mem::destroy(Abstract_ShareMem* p) {
  delete p;
}

}  // namespace bg
