// What the tests measure of the system, and raw pipe peers, over Windows calls.
#include <windows.h>
// windows.h first: the other system headers build on it.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <psapi.h>

#include <thread>

#include "support/test_support.h"

namespace kqtest {

// A client waits for a free instance of the pipe, as the system asks.
int rawPipeConnect(const std::string& path) {
  WaitNamedPipeA(path.c_str(), 5000);
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  return h == INVALID_HANDLE_VALUE ? -1 : _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
}

bool rawSend(int fd, const std::string& bytes) {
  return _write(fd, bytes.data(), static_cast<unsigned>(bytes.size())) == static_cast<int>(bytes.size());
}

bool peerHangsUp(int fd, int ms) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  for (int waited = 0; waited <= ms; waited += 10) {
    DWORD ready = 0;
    if (!PeekNamedPipe(h, nullptr, 0, nullptr, &ready, nullptr)) return true;
    if (ready > 0) return false;
    Sleep(10);
  }
  return false;
}

bool withoutRoomForThreads(const std::function<void()>&) {
  return false;
}

// A new handle takes the lowest free slot, so its number grows with the
// handles held; Wine does not count them for GetProcessHandleCount.
size_t openHandles() {
  HANDLE probe = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(probe);
  return reinterpret_cast<uintptr_t>(probe) / 4;
}

long peakMemoryKb() {
  PROCESS_MEMORY_COUNTERS pmc;
  return GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc))
             ? static_cast<long>(pmc.PeakWorkingSetSize / 1024)
             : -1L;
}

double threadCpuMs() {
  FILETIME created, ended, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
  auto ms = [](const FILETIME& t) {
    return ((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
  };
  return ms(kernel) + ms(user);
}

int threadId() {
  return static_cast<int>(GetCurrentThreadId());
}

bool isAsleep(int) {
  Sleep(200);
  return true;
}

// Windows cannot replace a process's program: the program runs as a child
// this process waits for, with the same standard streams.
int runProgram(const std::string& path, std::vector<std::string> args) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  intptr_t status = _spawnv(_P_WAIT, path.c_str(), argv.data());
  return status < 0 ? 122 : static_cast<int>(status);
}

}  // namespace kqtest

// A process here can only be ended, whatever the signal.
int kill(pid_t pid, int sig) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
  BOOL ended = process != nullptr && TerminateProcess(process, 128 + sig);
  if (process != nullptr) CloseHandle(process);
  return ended ? 0 : -1;
}

unsigned alarm(unsigned seconds) {
  std::thread([seconds] {
    Sleep(seconds * 1000);
    _exit(128 + 14);
  }).detach();
  return 0;
}
