#include "kqbridge/share_mem.h"

#include <cstdio>

#include "platform/console.h"
#include "platform/shared_memory.h"

namespace bg {

struct Share_Mem::State {
  platform::SharedSegment* segment;
  int state;  // 1 created, 2 opened
};

Share_Mem::Share_Mem() : m_state(nullptr) {}

Share_Mem::~Share_Mem() {
  close();
}

int Share_Mem::open(const char* name, unsigned size) {
  if (m_state != nullptr) {
    platform::consoleError("[share men]: already %s.\n", m_state->state == 2 ? "opened" : "created");
    return m_state->state;
  }
  if (platform::SharedSegment* opened = platform::openSharedMemory(name)) {
    m_state = new State{opened, 2};
  } else if (platform::SharedSegment* created = platform::createSharedMemory(name, size)) {
    m_state = new State{created, 1};
  }
  return m_state != nullptr ? m_state->state : 0;
}

int Share_Mem::state() {
  return m_state != nullptr ? m_state->state : 0;
}

int Share_Mem::close() {
  if (m_state == nullptr) return 0;
  bool closed = platform::closeSharedMemory(m_state->segment);
  delete m_state;
  m_state = nullptr;
  return closed ? 1 : 0;
}

void* Share_Mem::map() {
  return m_state == nullptr ? nullptr : platform::mapSharedMemory(m_state->segment);
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
