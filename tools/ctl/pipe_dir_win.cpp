#include <windows.h>
// After windows.h.
#include <tlhelp32.h>

#include <cctype>

#include "ctl.h"

namespace ctl {

namespace {

// The pipe a host of this executable and pid serves (README, "The
// endpoint"): the file name cut at its first dot, its other characters
// than A-Z a-z 0-9 _ - dropped, the whole at most 64 characters.
std::string hostPipe(const char* exeFile, DWORD pid) {
  std::string suffix = "." + std::to_string(pid);
  std::string name;
  for (const char* c = exeFile; *c != '\0' && *c != '.'; ++c) {
    if (isalnum(static_cast<unsigned char>(*c)) || *c == '_' || *c == '-') name += *c;
  }
  if (name.empty()) name = "host";
  return "kqbridge." + name.substr(0, 64 - 9 - suffix.size()) + suffix;
}

// A pipe whose instances are all busy exists as well.
bool pipeExists(const std::string& name) {
  return WaitNamedPipeA(("\\\\.\\pipe\\" + name).c_str(), 1) || GetLastError() == ERROR_SEM_TIMEOUT;
}

// Where the system cannot list its pipes (Wine cannot), the pipe each
// running process would serve is looked for instead.
std::vector<std::string> probeProcesses() {
  std::vector<std::string> names;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return names;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    std::string pipe = hostPipe(entry.szExeFile, entry.th32ProcessID);
    if (pipeExists(pipe)) names.push_back(pipe);
  }
  CloseHandle(snapshot);
  return names;
}

}  // namespace

// Pipes are objects of the system's own name space, listed like files.
std::vector<std::string> pipeNames() {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("\\\\.\\pipe\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return probeProcesses();
  std::vector<std::string> names;
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
