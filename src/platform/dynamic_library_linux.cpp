#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/dynamic_library.h"
#include "platform/last_error.h"
#include "platform/path.h"

namespace bg {
namespace platform {

namespace {

// The fields of an ELF header that say which machine can load the file:
// class, byte order, object type and machine number.
struct ImageKind {
  unsigned char elfClass;
  unsigned char byteOrder;
  uint16_t type;
  uint16_t machine;
};

bool readImageKind(const char* file, ImageKind* kind) {
  int fd = open(file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char header[EI_NIDENT + 4];
  ssize_t n = read(fd, header, sizeof(header));
  close(fd);
  if (n != static_cast<ssize_t>(sizeof(header)) || memcmp(header, ELFMAG, SELFMAG) != 0) return false;
  kind->elfClass = header[EI_CLASS];
  kind->byteOrder = header[EI_DATA];
  memcpy(&kind->type, header + EI_NIDENT, sizeof(kind->type));
  memcpy(&kind->machine, header + EI_NIDENT + 2, sizeof(kind->machine));
  return true;
}

// The number Windows gives for the same cause, decided from the file itself
// so that it does not depend on the wording (or the language) of dlerror().
// A shared object for another machine is one whose header differs from our
// own executable's. A well-formed image the system still refused lacks
// something it needs: a library (126 on Windows) or a symbol in one (127);
// only the system's text tells those apart, so we say 126 for both.
unsigned classifyLoadFailure(const std::string& file) {
  struct stat st;
  if (stat(file.c_str(), &st) != 0) return errno == EACCES ? kErrAccessDenied : kErrModNotFound;
  if (!S_ISREG(st.st_mode)) return kErrBadExeFormat;
  if (access(file.c_str(), R_OK) != 0) return kErrAccessDenied;
  ImageKind image, self;
  if (!readImageKind(file.c_str(), &image) || image.type != ET_DYN) return kErrBadExeFormat;
  if (readImageKind("/proc/self/exe", &self) &&
      (image.elfClass != self.elfClass || image.byteOrder != self.byteOrder ||
       image.machine != self.machine)) {
    return kErrBadExeFormat;
  }
  return kErrModNotFound;
}

void keepReason(const char* text, std::string* why) {
  if (why != nullptr) *why = text != nullptr ? text : "";
}

// Whether `address` lies in `library` itself rather than in a library it
// depends on, which dlsym searches as well.
bool definedIn(void* library, void* address) {
  struct link_map* own = nullptr;
  struct link_map* holder = nullptr;
  Dl_info info;
  if (dlinfo(library, RTLD_DI_LINKMAP, &own) != 0) return false;
  return dladdr1(address, &info, reinterpret_cast<void**>(&holder), RTLD_DL_LINKMAP) != 0 && holder == own;
}

}  // namespace

void* openLibrary(const char* path, std::string* why) {
  std::string file = nativePath(path);
  void* handle = dlopen(file.c_str(), RTLD_NOW);
  if (handle != nullptr) {
    setLastError(kErrSuccess);
    keepReason(nullptr, why);
    return handle;
  }
  const char* text = dlerror();
  setLastError(classifyLoadFailure(file));
  keepReason(text, why);
  return nullptr;
}

void* findSymbol(void* library, const char* symbol, std::string* why) {
  if (library == nullptr || symbol == nullptr) {
    setLastError(kErrProcNotFound);
    keepReason("no library or no symbol name", why);
    return nullptr;
  }
  dlerror();
  void* address = dlsym(library, symbol);
  if (address != nullptr && definedIn(library, address)) {
    keepReason(nullptr, why);
    return address;
  }
  const char* text = address != nullptr ? "defined only by a library it depends on" : dlerror();
  setLastError(kErrProcNotFound);
  keepReason(text, why);
  return nullptr;
}

std::string fileHoldingCode(const void* code) {
  Dl_info info;
  return dladdr(code, &info) != 0 && info.dli_fname != nullptr ? std::string(info.dli_fname) : std::string();
}

}  // namespace platform
}  // namespace bg
