// Named shared memory on POSIX: the shared-memory object "/" + name. A Windows mapping lives
// while some process holds it; here every process that holds the object keeps a shared lock on
// it for as long as it lives, and an object that nobody locks is a leftover of processes that
// ended: it is removed and counts as absent, so that a new one is made and initialised.
//
// Opening, creating and removing a leftover are serialised by an exclusive lock on one empty
// object, "/ctkorvin-mappings.lock", so that one process cannot remove an object that another
// has just created and not yet locked.
#include "platform/shared_memory.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace platform {
namespace {

constexpr mode_t kEveryone = 0666;
constexpr char kGuardObject[] = "/ctkorvin-mappings.lock";

// Holds the guard lock of all mappings for its lifetime.
class MappingGuard {
 public:
  MappingGuard() {
    fd_ = shm_open(kGuardObject, O_RDWR | O_CREAT | O_CLOEXEC, kEveryone);
    if (fd_ < 0) return;
    fchmod(fd_, kEveryone);
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~MappingGuard() {
    if (fd_ >= 0) close(fd_);  // closing drops the lock
  }
  MappingGuard(const MappingGuard&) = delete;
  MappingGuard& operator=(const MappingGuard&) = delete;
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

std::string ObjectName(const char* name) {
  return std::string("/") + name;
}

bool ValidName(const char* name) {
  if (!name || !*name) return false;
  for (const char* p = name; *p; ++p) {
    if (*p == '/') return false;
  }
  return true;
}

// Opens the object when some process holds it, removing it when nobody does. The guard is held.
MappingOpenResult OpenHeld(const std::string& object, int* out) {
  int fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return errno == ENOENT ? MappingOpenResult::kNotFound : MappingOpenResult::kFailed;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    shm_unlink(object.c_str());  // nobody holds it: what is left of ended processes
    close(fd);
    return MappingOpenResult::kNotFound;
  }
  if (flock(fd, LOCK_SH) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return MappingOpenResult::kFailed;
  }
  *out = fd;
  return MappingOpenResult::kOpened;
}

}  // namespace

MappingOpenResult MappingOpen(const char* name, MappingHandle* out) {
  *out = kNoMapping;
  if (!ValidName(name)) {
    errno = EINVAL;
    return MappingOpenResult::kFailed;
  }
  const std::string object = ObjectName(name);
  MappingGuard guard;
  if (!guard.ok()) return MappingOpenResult::kFailed;
  int fd = -1;
  MappingOpenResult result = OpenHeld(object, &fd);
  if (result == MappingOpenResult::kOpened) *out = fd;
  return result;
}

bool MappingCreate(const char* name, uint32_t size, MappingHandle* out, bool* created) {
  *out = kNoMapping;
  *created = false;
  if (!ValidName(name) || size == 0) {
    errno = EINVAL;
    return false;
  }
  const std::string object = ObjectName(name);
  MappingGuard guard;
  if (!guard.ok()) return false;
  int fd = -1;
  MappingOpenResult existing = OpenHeld(object, &fd);
  if (existing == MappingOpenResult::kOpened) {
    *out = fd;
    return true;
  }
  if (existing == MappingOpenResult::kFailed) return false;
  fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kEveryone);
  if (fd < 0) return false;
  if (fchmod(fd, kEveryone) != 0 || ftruncate(fd, size) != 0 || flock(fd, LOCK_SH) != 0) {
    int saved = errno;
    shm_unlink(object.c_str());
    close(fd);
    errno = saved;
    return false;
  }
  *out = fd;
  *created = true;
  return true;
}

void* MappingMapView(MappingHandle mapping) {
  struct stat st;
  int fd = static_cast<int>(mapping);
  if (fstat(fd, &st) != 0 || st.st_size <= 0) return nullptr;
  void* view =
      mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return view == MAP_FAILED ? nullptr : view;
}

void MappingClose(MappingHandle mapping) {
  if (mapping != kNoMapping) close(static_cast<int>(mapping));
}

}  // namespace platform
