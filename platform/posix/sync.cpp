// SPDX-License-Identifier: BSD-3-Clause
// Locks and counting semaphores on POSIX. A named object lives in the shared-memory object
// "/" + prefix + system name (see object_name.h) and is shared by every process that opens that
// name; it exists while some process has it open, like a named kernel object on Windows.
//
// Lifetime: every process that has the object open holds a shared flock on its descriptor. An
// opener that gets the exclusive lock knows that nobody uses the object and (re)initialises it
// before going down to the shared lock; a closer that gets the exclusive lock is the last user
// and removes the name. An opener checks, once it holds the shared lock, that the object is
// initialised, still carries the name and is of the requested kind; otherwise it starts over.
//
// A lock is a robust, recursive, process-shared mutex: the owning thread may take it again, and
// a holder that ended without releasing it leaves it abandoned. A semaphore is an unnamed
// process-shared POSIX semaphore plus its maximum; a robust mutex serialises releases so that
// the maximum holds. (A condition variable is avoided on purpose: a process that dies while
// waiting on a shared one can leave it unable to wake the others.)
#include "platform/sync.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <new>
#include <string>

#include "platform/posix/object_name.h"

namespace platform {

namespace {

constexpr uint32_t kKindLock = 1;
constexpr uint32_t kKindSemaphore = 2;
constexpr uint32_t kReadyMark = 0x4B565359;   // "KVSY": written last by the initialiser
constexpr uint32_t kPathSize = NAME_MAX + 2;  // "/", the name and the terminator
constexpr int kOpenAttempts = 100;

// The part that lives in shared memory (or, for a process-local object, on the heap).
struct SyncState {
  uint32_t ready;
  uint32_t kind;
  uint32_t maximum;
  pthread_mutex_t mutex;  // the lock itself, or the guard of a semaphore's releases
  sem_t semaphore;
};

}  // namespace

// One per process and name: opening a name twice in one process gives the same object, so that
// a lock taken through one record can be released through another.
struct SyncObject {
  SyncState* state;
  int fd;               // -1 for a process-local object
  uint32_t references;  // SyncCreate calls of this process that returned this object
  pid_t pid;            // the process that opened it; a forked child opens the name anew
  SyncObject* next;
  char path[kPathSize];
};

namespace {

pthread_mutex_t g_registry_lock = PTHREAD_MUTEX_INITIALIZER;
SyncObject* g_registry = nullptr;  // the named objects of this process

void SetError(uint32_t* system_error, int error) {
  if (system_error) *system_error = static_cast<uint32_t>(error);
}

uint32_t KindFor(uint32_t count) {
  return count == 0 ? kKindLock : kKindSemaphore;
}

bool Deadline(uint32_t timeout_ms, timespec* deadline) {
  if (clock_gettime(CLOCK_MONOTONIC, deadline) != 0) return false;
  deadline->tv_sec += static_cast<time_t>(timeout_ms / 1000);
  deadline->tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
  if (deadline->tv_nsec >= 1000000000L) {
    deadline->tv_sec += 1;
    deadline->tv_nsec -= 1000000000L;
  }
  return true;
}

// Returns 0 or an error number.
int InitState(SyncState* state, uint32_t kind, uint32_t count, bool shared) {
  __atomic_store_n(&state->ready, 0, __ATOMIC_RELEASE);
  state->kind = kind;
  state->maximum = count;
  pthread_mutexattr_t attr;
  int error = pthread_mutexattr_init(&attr);
  if (error != 0) return error;
  error = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  if (error == 0 && shared) error = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  if (error == 0 && kind == kKindLock) {
    error = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  }
  if (error == 0) error = pthread_mutex_init(&state->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  if (error != 0) return error;
  if (kind == kKindSemaphore && sem_init(&state->semaphore, shared ? 1 : 0, count) != 0) {
    error = errno;
    pthread_mutex_destroy(&state->mutex);
    return error;
  }
  __atomic_store_n(&state->ready, kReadyMark, __ATOMIC_RELEASE);
  return 0;
}

int LockFile(int fd, int operation) {
  int rc;
  do {
    rc = flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

enum class Attach { kReady, kRetry, kWrongKind, kFailed };

// Takes this process's shared lock on the object behind `fd`, initialising it first when no
// other process has it open. On kReady `*state` is the mapped object.
Attach AttachState(int fd, uint32_t kind, uint32_t count, SyncState** state, int* error) {
  *error = LockFile(fd, LOCK_EX | LOCK_NB);
  bool exclusive = *error == 0;
  if (!exclusive) {
    if (*error != EWOULDBLOCK) return Attach::kFailed;
    *error = LockFile(fd, LOCK_SH);
    if (*error != 0) return Attach::kFailed;
  }
  struct stat st;
  if (exclusive) {
    if (ftruncate(fd, sizeof(SyncState)) != 0) {
      *error = errno;
      return Attach::kFailed;
    }
  } else {
    if (fstat(fd, &st) != 0) {
      *error = errno;
      return Attach::kFailed;
    }
    // Its initialiser ended before sizing it; mapping it would fault.
    if (st.st_size < static_cast<off_t>(sizeof(SyncState))) return Attach::kRetry;
  }
  void* map = mmap(nullptr, sizeof(SyncState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    *error = errno;
    return Attach::kFailed;
  }
  SyncState* mapped = static_cast<SyncState*>(map);
  Attach result = Attach::kReady;
  if (exclusive) {
    memset(mapped, 0, sizeof(SyncState));
    *error = InitState(mapped, kind, count, true);
    // Going down to the shared lock is not atomic: another opener may slip in and initialise
    // the object once more. That is harmless (nobody uses it yet); the checks below see its
    // result.
    if (*error == 0) *error = LockFile(fd, LOCK_SH);
    if (*error != 0) result = Attach::kFailed;
  }
  if (result == Attach::kReady) {
    if (fstat(fd, &st) != 0) {
      *error = errno;
      result = Attach::kFailed;
    } else if (st.st_nlink == 0) {
      result = Attach::kRetry;  // the last user removed the name while we were coming
    } else if (__atomic_load_n(&mapped->ready, __ATOMIC_ACQUIRE) != kReadyMark) {
      result = Attach::kRetry;  // its initialiser ended half-way
    } else if (mapped->kind != kind) {
      *error = EINVAL;
      result = Attach::kWrongKind;
    }
  }
  if (result == Attach::kReady) {
    *state = mapped;
  } else {
    munmap(map, sizeof(SyncState));
  }
  return result;
}

SyncObject* FindNamed(const char* path) {
  for (SyncObject* object = g_registry; object; object = object->next) {
    if (object->pid == getpid() && strcmp(object->path, path) == 0) return object;
  }
  return nullptr;
}

void Unregister(SyncObject* object) {
  for (SyncObject** link = &g_registry; *link; link = &(*link)->next) {
    if (*link == object) {
      *link = object->next;
      return;
    }
  }
}

// Called with the registry lock held.
SyncCreateResult OpenNamed(const char* path, uint32_t count, SyncObject** out, int* error) {
  if (SyncObject* existing = FindNamed(path)) {
    if (existing->state->kind != KindFor(count)) {
      *error = EINVAL;
      return SyncCreateResult::kInvalidName;
    }
    existing->references += 1;
    *out = existing;
    return SyncCreateResult::kOk;
  }
  SyncObject* object = new (std::nothrow) SyncObject();
  if (!object) {
    *error = ENOMEM;
    return SyncCreateResult::kFailed;
  }
  snprintf(object->path, sizeof object->path, "%s", path);
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    int fd = shm_open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
      *error = errno;
      delete object;
      return (*error == EINVAL || *error == ENAMETOOLONG) ? SyncCreateResult::kInvalidName
                                                          : SyncCreateResult::kFailed;
    }
    // The creation mode went through the umask; every account must be able to use the object.
    // This fails harmlessly for an object that another account created (already open to all).
    fchmod(fd, 0666);
    SyncState* state = nullptr;
    Attach attach = AttachState(fd, KindFor(count), count, &state, error);
    if (attach == Attach::kReady) {
      object->state = state;
      object->fd = fd;
      object->references = 1;
      object->pid = getpid();
      object->next = g_registry;
      g_registry = object;
      *out = object;
      return SyncCreateResult::kOk;
    }
    close(fd);
    if (attach != Attach::kRetry) {
      delete object;
      return attach == Attach::kWrongKind ? SyncCreateResult::kInvalidName
                                          : SyncCreateResult::kFailed;
    }
    sched_yield();
  }
  delete object;
  *error = EAGAIN;
  return SyncCreateResult::kFailed;
}

SyncCreateResult CreateLocal(uint32_t count, SyncObject** out, int* error) {
  SyncObject* object = new (std::nothrow) SyncObject();
  SyncState* state = new (std::nothrow) SyncState();
  if (!object || !state) {
    delete object;
    delete state;
    *error = ENOMEM;
    return SyncCreateResult::kFailed;
  }
  *error = InitState(state, KindFor(count), count, false);
  if (*error != 0) {
    delete object;
    delete state;
    return SyncCreateResult::kFailed;
  }
  object->state = state;
  object->fd = -1;
  object->references = 1;
  object->pid = getpid();
  *out = object;
  return SyncCreateResult::kOk;
}

SyncWaitResult WaitLock(SyncState* state, uint32_t timeout_ms, int* error) {
  int rc;
  if (timeout_ms == 0) {
    rc = pthread_mutex_trylock(&state->mutex);
  } else if (timeout_ms == kWaitForever) {
    rc = pthread_mutex_lock(&state->mutex);
  } else {
    timespec deadline;
    if (!Deadline(timeout_ms, &deadline)) {
      *error = errno;
      return SyncWaitResult::kFailed;
    }
    rc = pthread_mutex_clocklock(&state->mutex, CLOCK_MONOTONIC, &deadline);
  }
  switch (rc) {
    case 0:
      return SyncWaitResult::kAcquired;
    case EOWNERDEAD:
      // The holder ended without releasing it; the lock guards nothing of ours that could be
      // inconsistent, so it is taken over as it stands.
      pthread_mutex_consistent(&state->mutex);
      return SyncWaitResult::kAbandoned;
    case EBUSY:
    case ETIMEDOUT:
      *error = rc;
      return SyncWaitResult::kTimeout;
    default:
      *error = rc;
      return SyncWaitResult::kFailed;
  }
}

SyncWaitResult WaitSemaphore(SyncState* state, uint32_t timeout_ms, int* error) {
  timespec deadline;
  if (timeout_ms != 0 && timeout_ms != kWaitForever && !Deadline(timeout_ms, &deadline)) {
    *error = errno;
    return SyncWaitResult::kFailed;
  }
  int rc;
  do {
    if (timeout_ms == 0) {
      rc = sem_trywait(&state->semaphore);
    } else if (timeout_ms == kWaitForever) {
      rc = sem_wait(&state->semaphore);
    } else {
      rc = sem_clockwait(&state->semaphore, CLOCK_MONOTONIC, &deadline);
    }
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return SyncWaitResult::kAcquired;
  *error = errno;
  return (*error == EAGAIN || *error == ETIMEDOUT) ? SyncWaitResult::kTimeout
                                                   : SyncWaitResult::kFailed;
}

// Returns 0 or an error number.
int LockGuard(SyncState* state) {
  int rc = pthread_mutex_lock(&state->mutex);
  if (rc == EOWNERDEAD) {
    // A releaser died inside the guard; the count is kept by the semaphore itself.
    rc = pthread_mutex_consistent(&state->mutex);
  }
  return rc;
}

int ReleaseSemaphore(SyncState* state) {
  int error = LockGuard(state);
  if (error != 0) return error;
  int value = 0;
  if (sem_getvalue(&state->semaphore, &value) != 0) {
    error = errno;
  } else if (value < 0 || static_cast<uint32_t>(value) >= state->maximum) {
    error = EOVERFLOW;  // no more releases than the maximum count
  } else if (sem_post(&state->semaphore) != 0) {
    error = errno;
  }
  pthread_mutex_unlock(&state->mutex);
  return error;
}

// A lock still held by the calling thread is released before its memory goes away: the thread
// keeps a list of the robust locks it holds, and an entry in freed memory would corrupt it.
void ReleaseHeldLock(SyncState* state) {
  if (state->kind != kKindLock) return;
  while (pthread_mutex_unlock(&state->mutex) == 0) {
  }
}

}  // namespace

SyncCreateResult SyncCreate(const char* system_name, uint32_t count, SyncObject** out,
                            uint32_t* system_error) {
  if (!out) {
    SetError(system_error, EINVAL);
    return SyncCreateResult::kFailed;
  }
  *out = nullptr;
  if (count > static_cast<uint32_t>(SEM_VALUE_MAX)) {
    SetError(system_error, EINVAL);
    return SyncCreateResult::kFailed;
  }
  int error = 0;
  if (!system_name || !*system_name) {
    SyncCreateResult result = CreateLocal(count, out, &error);
    if (result != SyncCreateResult::kOk) SetError(system_error, error);
    return result;
  }
  if (strchr(system_name, '/')) {
    SetError(system_error, EINVAL);
    return SyncCreateResult::kInvalidName;
  }
  const std::string object_name = SystemObjectName(system_name);
  if (object_name.size() > NAME_MAX + 1) {
    SetError(system_error, ENAMETOOLONG);
    return SyncCreateResult::kInvalidName;
  }
  char path[kPathSize];
  memcpy(path, object_name.c_str(), object_name.size() + 1);

  pthread_mutex_lock(&g_registry_lock);
  SyncCreateResult result = OpenNamed(path, count, out, &error);
  pthread_mutex_unlock(&g_registry_lock);
  if (result != SyncCreateResult::kOk) SetError(system_error, error);
  return result;
}

SyncWaitResult SyncWait(SyncObject* object, uint32_t timeout_ms, uint32_t* system_error) {
  if (!object) {
    SetError(system_error, EINVAL);
    return SyncWaitResult::kFailed;
  }
  int error = 0;
  SyncWaitResult result = object->state->kind == kKindLock
                              ? WaitLock(object->state, timeout_ms, &error)
                              : WaitSemaphore(object->state, timeout_ms, &error);
  if (result != SyncWaitResult::kAcquired && result != SyncWaitResult::kAbandoned) {
    SetError(system_error, error);
  }
  return result;
}

bool SyncRelease(SyncObject* object, uint32_t* system_error) {
  if (!object) {
    SetError(system_error, EINVAL);
    return false;
  }
  // A lock that the calling thread does not hold answers EPERM.
  int error = object->state->kind == kKindLock ? pthread_mutex_unlock(&object->state->mutex)
                                               : ReleaseSemaphore(object->state);
  if (error != 0) {
    SetError(system_error, error);
    return false;
  }
  return true;
}

void SyncClose(SyncObject* object) {
  if (!object) return;
  if (object->fd < 0) {
    ReleaseHeldLock(object->state);
    pthread_mutex_destroy(&object->state->mutex);
    if (object->state->kind == kKindSemaphore) sem_destroy(&object->state->semaphore);
    delete object->state;
    delete object;
    return;
  }
  pthread_mutex_lock(&g_registry_lock);
  object->references -= 1;
  if (object->references > 0) {
    pthread_mutex_unlock(&g_registry_lock);
    return;
  }
  Unregister(object);
  pthread_mutex_unlock(&g_registry_lock);

  ReleaseHeldLock(object->state);
  munmap(object->state, sizeof(SyncState));
  // The descriptor of an object inherited from the parent shares the parent's lock: changing
  // that lock would change the parent's, so a forked child only lets go of its copy.
  if (object->pid == getpid() && LockFile(object->fd, LOCK_EX | LOCK_NB) == 0) {
    shm_unlink(object->path);  // nobody else has it open: the name goes with the object
  }
  close(object->fd);
  delete object;
}

}  // namespace platform
