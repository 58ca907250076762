// SPDX-License-Identifier: BSD-3-Clause
// Named shared memory on POSIX: the shared-memory object "/" + prefix + name (object_name.h).
// A Windows mapping lives while some process holds it; here every process that holds the object
// keeps a shared lock on it for as long as it lives, and an object that nobody locks is a
// leftover of processes that ended: it counts as absent, and a new mapping takes its place.
//
// Opening, creating and removing a leftover happen under the mapping lock: an exclusive lock
// on one empty object, "/" + prefix + "ctkorvin-mappings.lock", that every account can open, so
// that one process cannot remove or set up an object that another has just created and not yet
// locked. /dev/shm is sticky: a leftover of another account cannot be removed, so it is taken
// over in place (emptied and sized anew) under the same lock.
#include "platform/shared_memory.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "platform/posix/object_name.h"

namespace platform {
namespace {

constexpr mode_t kEveryone = 0666;
constexpr char kGuardObject[] = "ctkorvin-mappings.lock";

// The threads of this process take the lock one after the other; the first one in opens and
// locks the guard object, the last one out closes it (closing drops the lock).
std::recursive_mutex g_lock_mutex;
int g_guard_fd = -1;
int g_lock_depth = 0;

int OpenGuard() {
  const std::string guard = SystemObjectName(kGuardObject);
  int fd = shm_open(guard.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kEveryone);
  if (fd >= 0) {
    fchmod(fd, kEveryone);  // the mode went through the umask; fails harmlessly if not ours
  } else if (errno == EACCES) {
    fd = shm_open(guard.c_str(), O_RDONLY | O_CLOEXEC, 0);  // a lock needs no write access
  }
  return fd;
}

int LockFile(int fd, int operation) {
  int rc;
  do {
    rc = flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

bool ValidName(const char* name) {
  if (!name || !*name) return false;
  for (const char* p = name; *p; ++p) {
    if (*p == '/') return false;
  }
  return true;
}

enum class Held { kHeld, kAbsent, kLeftover, kFailed };

// Opens the object and tells whether some process holds it. An unheld one is removed; when
// that is not allowed (another account's, in the sticky folder) it is kLeftover, and *out is
// its descriptor with the exclusive lock held. A held one is kHeld with this process's shared
// lock taken. The mapping lock is held.
Held OpenHeld(const std::string& object, int* out) {
  int fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return errno == ENOENT ? Held::kAbsent : Held::kFailed;
  if (LockFile(fd, LOCK_EX | LOCK_NB) == 0) {
    if (shm_unlink(object.c_str()) == 0 || errno == ENOENT) {
      close(fd);  // nobody held it: what is left of ended processes
      return Held::kAbsent;
    }
    *out = fd;
    return Held::kLeftover;
  }
  if (LockFile(fd, LOCK_SH) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return Held::kFailed;
  }
  *out = fd;
  return Held::kHeld;
}

// Sizes a new object (or a leftover taken over) to `size` zero bytes and takes this process's
// shared lock on it.
bool SetUp(int fd, uint32_t size) {
  if (fchmod(fd, kEveryone) != 0 && errno != EPERM) return false;
  return ftruncate(fd, 0) == 0 && ftruncate(fd, size) == 0 && LockFile(fd, LOCK_SH) == 0;
}

void CloseKeepingErrno(int fd) {
  int saved = errno;
  close(fd);
  errno = saved;
}

}  // namespace

bool MappingLock() {
  g_lock_mutex.lock();
  if (g_lock_depth == 0) {
    int fd = OpenGuard();
    if (fd < 0 || LockFile(fd, LOCK_EX) != 0) {
      if (fd >= 0) CloseKeepingErrno(fd);
      g_lock_mutex.unlock();
      return false;
    }
    g_guard_fd = fd;
  }
  ++g_lock_depth;
  return true;
}

void MappingUnlock() {
  if (--g_lock_depth == 0) {
    close(g_guard_fd);
    g_guard_fd = -1;
  }
  g_lock_mutex.unlock();
}

MappingOpenResult MappingOpen(const char* name, MappingHandle* out) {
  *out = kNoMapping;
  if (!ValidName(name)) {
    errno = EINVAL;
    return MappingOpenResult::kFailed;
  }
  ScopedMappingLock lock;
  if (!lock.ok()) return MappingOpenResult::kFailed;
  int fd = -1;
  switch (OpenHeld(SystemObjectName(name), &fd)) {
    case Held::kHeld:
      *out = fd;
      return MappingOpenResult::kOpened;
    case Held::kLeftover:
      close(fd);
      return MappingOpenResult::kNotFound;
    case Held::kAbsent:
      return MappingOpenResult::kNotFound;
    case Held::kFailed:
      break;
  }
  return MappingOpenResult::kFailed;
}

bool MappingCreate(const char* name, uint32_t size, MappingHandle* out, bool* created) {
  *out = kNoMapping;
  *created = false;
  if (!ValidName(name) || size == 0) {
    errno = EINVAL;
    return false;
  }
  const std::string object = SystemObjectName(name);
  ScopedMappingLock lock;
  if (!lock.ok()) return false;
  int fd = -1;
  switch (OpenHeld(object, &fd)) {
    case Held::kHeld:
      *out = fd;
      return true;
    case Held::kLeftover:
      if (!SetUp(fd, size)) {
        CloseKeepingErrno(fd);
        return false;
      }
      break;
    case Held::kAbsent:
      fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kEveryone);
      if (fd < 0) return false;
      if (!SetUp(fd, size)) {
        int saved = errno;
        shm_unlink(object.c_str());
        close(fd);
        errno = saved;
        return false;
      }
      break;
    case Held::kFailed:
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
