#include <windows.h>

#include "ctl.h"

namespace ctl {

// Pipes are objects of the system's own name space, listed like files.
std::vector<std::string> pipeNames() {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("\\\\.\\pipe\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

bool processRuns(long pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  bool runs = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return runs;
}

// A pipe goes with its server's last handle, also when the server was
// killed: nothing is left behind to remove.
void removeDeadPipe(const std::string&) {}

}  // namespace ctl
