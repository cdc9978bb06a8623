#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/shared_memory.h"

namespace bg {
namespace platform {

// Named blocks outlive every handle on Windows only until the last one is
// closed; POSIX names stay until unlinked. So each object carries a header
// page in front of the caller's bytes with a count of the handles open on
// it in every process. The count and the unlink are made under flock(2) on
// the object itself: a process that opened the name just before the last
// holder unlinked it finds `removed` set once it gets the lock and starts
// over, so nobody joins a block that has already lost its name. The header
// fields are atomics so that threads of one process, which flock orders but
// the compiler cannot see, agree on them too. A holder that dies without
// closing leaves its count behind, and the name with it.
struct SegmentHeader {
  std::atomic<uint64_t> magic;
  std::atomic<uint32_t> size;
  std::atomic<uint32_t> holders;
  std::atomic<uint32_t> removed;
};

struct SharedSegment {
  int fd;
  std::string objectName;
  SegmentHeader* header;
  uint32_t size;
};

namespace {

const uint64_t kSegmentMagic = 0x6b71624d656d3031ULL;
// A creator makes its object and then initialises it under the lock; an
// opener that got the lock in between sees an object without a header and
// retries. Once the object has not changed for kStaleAfterMs and still has
// no header under the lock, its creator died before writing one (or the
// object is not one of ours): it is stale, and waiting longer cannot help.
const int kOpenAttempts = 200;
const useconds_t kOpenRetryUs = 5000;
const long kStaleAfterMs = 100;
const size_t kMaxPlainNameLength = 200;

size_t headerSize() {
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

SegmentHeader* mapHeader(int fd) {
  void* p = mmap(nullptr, headerSize(), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return p == MAP_FAILED ? nullptr : static_cast<SegmentHeader*>(p);
}

SharedSegment* makeSegment(int fd, const std::string& objectName, SegmentHeader* header) {
  return new SharedSegment{fd, objectName, header, header->size.load()};
}

enum class JoinResult { kJoined, kRetry, kStale, kFailed };

bool changedLongAgo(const struct stat& st) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const struct timespec& changed = st.st_ctim.tv_sec > st.st_mtim.tv_sec ? st.st_ctim : st.st_mtim;
  long ageMs = (now.tv_sec - changed.tv_sec) * 1000 + (now.tv_nsec - changed.tv_nsec) / 1000000;
  return ageMs >= kStaleAfterMs;
}

// The object on `fd` has no usable header: still being made, or stale. A
// stale one's name is dropped when `dropStale` is set and the name still
// leads to this very object (checked and done under its lock, so of two
// processes finding it stale only one drops it, and never a successor).
JoinResult notReady(const struct stat& st, const std::string& objectName, bool dropStale) {
  if (!changedLongAgo(st)) return JoinResult::kRetry;
  if (dropStale) {
    int again = shm_open(objectName.c_str(), O_RDONLY, 0);
    struct stat now;
    if (again >= 0 && fstat(again, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino)
      shm_unlink(objectName.c_str());
    if (again >= 0) ::close(again);
  }
  return JoinResult::kStale;
}

// Counts this process in as a holder of the object open on `fd`.
JoinResult joinSegment(int fd, const std::string& objectName, bool dropStale, SegmentHeader** out) {
  flock(fd, LOCK_EX);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    flock(fd, LOCK_UN);
    return JoinResult::kFailed;
  }
  if (static_cast<size_t>(st.st_size) < headerSize()) {
    JoinResult result = notReady(st, objectName, dropStale);
    flock(fd, LOCK_UN);
    return result;
  }
  SegmentHeader* header = mapHeader(fd);
  if (header == nullptr) {
    flock(fd, LOCK_UN);
    return JoinResult::kFailed;
  }
  if (header->magic.load() != kSegmentMagic || header->removed.load() != 0) {
    munmap(header, headerSize());
    JoinResult result = notReady(st, objectName, dropStale);
    flock(fd, LOCK_UN);
    return result;
  }
  header->holders.fetch_add(1);
  flock(fd, LOCK_UN);
  *out = header;
  return JoinResult::kJoined;
}

void appendEscaped(std::string* out, unsigned char c) {
  static const char kHex[] = "0123456789abcdef";
  bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
               c == '_' || c == '-';
  if (plain) {
    out->push_back(static_cast<char>(c));
  } else {
    out->push_back('%');
    out->push_back(kHex[c >> 4]);
    out->push_back(kHex[c & 15]);
  }
}

uint64_t hashName(const char* name) {
  uint64_t h = 1469598103934665603ULL;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
    h = (h ^ *p) * 1099511628211ULL;
  }
  return h;
}

}  // namespace

// Any text becomes a valid object name: characters outside [A-Za-z0-9._-]
// (the separator included) are written as %XX, and a name too long for the
// system keeps a readable prefix followed by a hash of the whole name.
std::string sharedMemoryObjectName(const char* name) {
  std::string escaped;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p)
    appendEscaped(&escaped, *p);
  if (escaped.size() > kMaxPlainNameLength) {
    char hash[20];
    snprintf(hash, sizeof(hash), "~%016llx", static_cast<unsigned long long>(hashName(name)));
    escaped.resize(kMaxPlainNameLength - sizeof(hash));
    escaped += hash;
  }
  return "/kqb-" + escaped;
}

namespace {

// Null when there is no usable object of that name; `*stale` tells whether
// there was one that will never become usable.
SharedSegment* openSegment(const std::string& objectName, bool dropStale, bool* stale) {
  *stale = false;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    int fd = shm_open(objectName.c_str(), O_RDWR, 0);
    if (fd < 0) return nullptr;
    SegmentHeader* header = nullptr;
    JoinResult joined = joinSegment(fd, objectName, dropStale, &header);
    if (joined == JoinResult::kJoined) return makeSegment(fd, objectName, header);
    ::close(fd);
    *stale = joined == JoinResult::kStale;
    if (joined != JoinResult::kRetry) return nullptr;
    usleep(kOpenRetryUs);
  }
  return nullptr;
}

}  // namespace

// shm_open always sets FD_CLOEXEC, so a child some module starts holds none
// of our blocks.
SharedSegment* openSharedMemory(const char* name) {
  if (name == nullptr) return nullptr;
  bool stale = false;
  return openSegment(sharedMemoryObjectName(name), false, &stale);
}

namespace {

// Makes a new object of `size` bytes; null with errno set on failure.
SharedSegment* makeNewSegment(const std::string& objectName, uint32_t size) {
  int fd = shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return nullptr;
  flock(fd, LOCK_EX);
  fchmod(fd, 0600);
  SegmentHeader* header = nullptr;
  if (ftruncate(fd, static_cast<off_t>(headerSize() + size)) == 0) header = mapHeader(fd);
  if (header == nullptr) {
    shm_unlink(objectName.c_str());
    flock(fd, LOCK_UN);
    ::close(fd);
    errno = ENOMEM;
    return nullptr;
  }
  header->size.store(size);
  header->holders.store(1);
  header->removed.store(0);
  header->magic.store(kSegmentMagic);
  flock(fd, LOCK_UN);
  return makeSegment(fd, objectName, header);
}

}  // namespace

SharedSegment* createSharedMemory(const char* name, uint32_t size) {
  // A mapping of no bytes cannot be made, as with paging-file mappings.
  if (name == nullptr || size == 0) return nullptr;
  std::string objectName = sharedMemoryObjectName(name);
  // Someone else may create the name, or drop it again, between our tries;
  // a stale object under the name is dropped and the name made anew.
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (SharedSegment* made = makeNewSegment(objectName, size)) return made;
    if (errno != EEXIST) return nullptr;
    bool stale = false;
    if (SharedSegment* opened = openSegment(objectName, true, &stale)) return opened;
  }
  return nullptr;
}

bool closeSharedMemory(SharedSegment* segment) {
  if (segment == nullptr) return false;
  flock(segment->fd, LOCK_EX);
  if (segment->header->holders.fetch_sub(1) == 1) {
    segment->header->removed.store(1);
    shm_unlink(segment->objectName.c_str());
  }
  flock(segment->fd, LOCK_UN);
  munmap(segment->header, headerSize());
  bool closed = ::close(segment->fd) == 0;
  delete segment;
  return closed;
}

void* mapSharedMemory(SharedSegment* segment) {
  if (segment == nullptr) return nullptr;
  void* base =
      mmap(nullptr, headerSize() + segment->size, PROT_READ | PROT_WRITE, MAP_SHARED, segment->fd, 0);
  if (base == MAP_FAILED) return nullptr;
  return static_cast<uint8_t*>(base) + headerSize();
}

// The header page sits right before every view and tells its length.
void unmapSharedMemory(void* view) {
  if (view == nullptr) return;
  uint8_t* base = static_cast<uint8_t*>(view) - headerSize();
  size_t length = headerSize() + reinterpret_cast<SegmentHeader*>(base)->size.load();
  munmap(base, length);
}

}  // namespace platform
}  // namespace bg
