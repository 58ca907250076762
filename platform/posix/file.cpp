// SPDX-License-Identifier: BSD-3-Clause
// Files on POSIX. The read-only attribute is a file without any write permission bit; it is
// checked here before every write access, delete or copy over the file, so that a read-only file
// stays read-only even for root, whom the kernel would let write anything.
//
// POSIX has no share modes. Writing is the one sharing rule kept, with advisory locks, because
// two writers appending at once (two processes logging errors) would overwrite each other: a
// writer that lets nobody else write holds an exclusive lock, any other writer a shared one, and
// an open that cannot get its lock fails at once as a sharing violation. Readers take no lock.
//
// A file is saved as a whole by writing the new content beside it and renaming it into place;
// the saves of one folder take turns through an advisory lock on the folder itself, which every
// account that may read the folder can take and which no leftover file stands for.
#include "platform/file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace platform {
namespace {

constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;

int Fd(FileHandle file) {
  return static_cast<int>(file);
}

uint32_t AttributesOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return kAttrDirectory;
  return (st.st_mode & kAnyWrite) == 0 ? kAttrReadOnly : kAttrNormal;
}

// Fails with EACCES when `path` is a read-only file, and with EISDIR when it is a folder.
bool MayWrite(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return true;  // a missing file is for open() to judge
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if ((st.st_mode & kAnyWrite) == 0) {
    errno = EACCES;
    return false;
  }
  return true;
}

bool WriteAll(int fd, const char* data, size_t size, size_t* written) {
  *written = 0;
  while (*written < size) {
    ssize_t n = write(fd, data + *written, size - *written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return *written > 0;  // a short write is reported through the count
    }
    if (n == 0) break;
    *written += static_cast<size_t>(n);
  }
  return true;
}

// --- saving a file as a whole ---

constexpr int kMaxLinkHops = 40;
constexpr int kNameTries = 100;

std::atomic<uint32_t> g_save_counter{0};

void CloseKeepingErrno(int fd) {
  int saved = errno;
  close(fd);
  errno = saved;
}

bool CopyPath(char (&out)[kSavePathSize], const char* path) {
  size_t length = strlen(path);
  if (length >= kSavePathSize) {
    errno = ENAMETOOLONG;
    return false;
  }
  memcpy(out, path, length + 1);
  return true;
}

// The folder part of `path` ("." when it has none), without its last separator.
void FolderOf(const char* path, char (&out)[kSavePathSize]) {
  const char* slash = strrchr(path, '/');
  if (!slash) {
    CopyPath(out, ".");
    return;
  }
  size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
  memcpy(out, path, length);
  out[length] = '\0';
}

// A link that another account planted in a folder everybody may write to (a sticky one, like
// /tmp) is not followed, unless the folder's owner made it: a save would otherwise write
// wherever that account chose.
bool MayFollow(const char* link, const struct stat& st) {
  char folder[kSavePathSize];
  FolderOf(link, folder);
  struct stat dir;
  if (stat(folder, &dir) != 0) return false;
  const bool shared = (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH);
  if (!shared || st.st_uid == geteuid() || st.st_uid == dir.st_uid) return true;
  errno = EACCES;
  return false;
}

// Follows symbolic links from `path` to the name of the file they lead to, which need not exist
// yet (a link to a missing file makes the file where the link points).
bool FollowLinks(const char* path, char (&out)[kSavePathSize]) {
  if (!CopyPath(out, path)) return false;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st;
    if (lstat(out, &st) != 0) return errno == ENOENT;
    if (!S_ISLNK(st.st_mode)) return true;
    if (!MayFollow(out, st)) return false;
    char link[kSavePathSize];
    ssize_t length = readlink(out, link, sizeof link);
    if (length < 0) return false;
    if (static_cast<size_t>(length) >= sizeof link) {
      errno = ENAMETOOLONG;
      return false;
    }
    link[length] = '\0';
    if (link[0] == '/') {
      CopyPath(out, link);
      continue;
    }
    char folder[kSavePathSize];
    FolderOf(out, folder);
    if (snprintf(out, sizeof out, "%s/%s", folder, link) >= static_cast<int>(sizeof out)) {
      errno = ENAMETOOLONG;
      return false;
    }
  }
  errno = ELOOP;
  return false;
}

// Creates a file beside `path` under a name nobody else has: exclusively, never through a link.
int CreateBeside(const char* path, mode_t mode, char (&name)[kSavePathSize]) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    uint32_t unique =
        static_cast<uint32_t>(now.tv_nsec) ^ (g_save_counter.fetch_add(1) * 2654435761u);
    if (snprintf(name, sizeof name, "%s.%x-%08x.kvtmp", path, static_cast<unsigned>(getpid()),
                 unique) >= static_cast<int>(sizeof name)) {
      errno = ENAMETOOLONG;
      return -1;
    }
    int fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// A file without a name in the temporary folder, for a folder that takes no new file.
int CreateUnnamed() {
  const char* base = getenv("TMPDIR");
  char name[kSavePathSize];
  if (snprintf(name, sizeof name, "%s/kvsave.XXXXXX", base && *base ? base : "/tmp") >=
      static_cast<int>(sizeof name)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int fd = mkostemp(name, O_CLOEXEC);
  if (fd >= 0) unlink(name);
  return fd;
}

// Copies the new content over the file's own bytes. The room is reserved first, so that a full
// disk refuses the copy before a byte of the file is changed; *touched tells whether one was.
bool CopyInPlace(int from, int to, bool* touched) {
  *touched = false;
  off_t size = lseek(from, 0, SEEK_END);
  if (size < 0) return false;
  if (size > 0) {
    int error = posix_fallocate(to, 0, size);
    if (error != 0) {
      errno = error;
      return false;
    }
  }
  *touched = true;
  char chunk[65536];
  for (off_t at = 0; at < size;) {
    ssize_t n = pread(from, chunk, sizeof chunk, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = pwrite(to, chunk + done, static_cast<size_t>(n - done), at + done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        if (w == 0) errno = ENOSPC;
        return false;
      }
      done += w;
    }
    at += n;
  }
  return ftruncate(to, size) == 0 && fsync(to) == 0;
}

void EndSave(FileSave* save) {
  int saved = errno;
  if (save->file != kNoFile) close(Fd(save->file));
  if (save->temp[0] && !save->kept) unlink(save->temp);
  if (save->target != kNoFile) close(Fd(save->target));
  if (save->folder != kNoFile) close(Fd(save->folder));  // lets the next save of the folder go
  save->file = save->target = save->folder = kNoFile;
  if (!save->kept) save->temp[0] = '\0';
  errno = saved;
}

// Opens the existing file to be saved; false when it may not be written.
bool OpenTarget(FileSave* save, struct stat* st) {
  if (stat(save->path, st) != 0) return errno == ENOENT;
  if (!S_ISREG(st->st_mode)) {
    errno = S_ISDIR(st->st_mode) ? EISDIR : EINVAL;
    return false;
  }
  if ((st->st_mode & kAnyWrite) == 0) {
    errno = EACCES;
    return false;
  }
  int fd = open(save->path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 || fstat(fd, st) != 0) {
    if (fd >= 0) CloseKeepingErrno(fd);
    return false;
  }
  save->target = fd;
  save->in_place = st->st_nlink > 1;
  return true;
}

// The new file takes the old one's owner, group and mode. An owner this account cannot give
// a file away to is kept by writing in place instead.
bool TakeOwnerAndMode(FileSave* save, const struct stat& old) {
  struct stat st;
  if (fstat(Fd(save->file), &st) != 0) return false;
  if ((st.st_uid != old.st_uid || st.st_gid != old.st_gid) &&
      fchown(Fd(save->file), old.st_uid, old.st_gid) != 0) {
    save->in_place = true;
    return true;
  }
  return fchmod(Fd(save->file), old.st_mode & 07777) == 0;
}

}  // namespace

bool FileOpen(const char* path, FileAccess access, FileDisposition disposition, FileShare share,
              FileHandle* out) {
  *out = kNoFile;
  if (!path || !*path) {
    errno = ENOENT;
    return false;
  }
  int flags = O_CLOEXEC;
  switch (access) {
    case FileAccess::kRead:
      flags |= O_RDONLY;
      break;
    case FileAccess::kWrite:
      flags |= O_WRONLY;
      break;
    case FileAccess::kReadWrite:
      flags |= O_RDWR;
      break;
  }
  switch (disposition) {
    case FileDisposition::kOpenExisting:
      break;
    case FileDisposition::kCreateNew:
      flags |= O_CREAT | O_EXCL;
      break;
    case FileDisposition::kOpenAlways:
      flags |= O_CREAT;
      break;
    case FileDisposition::kCreateAlways:
      flags |= O_CREAT;
      break;
    case FileDisposition::kTruncateExisting:
      break;
  }
  // Truncation waits until the lock is held, so that a refused open leaves the file alone.
  bool truncates = disposition == FileDisposition::kCreateAlways ||
                   disposition == FileDisposition::kTruncateExisting;
  bool writes = access != FileAccess::kRead || truncates;
  struct stat st;
  if (stat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (writes && !MayWrite(path)) return false;
  int fd = open(path, flags, 0666);
  if (fd < 0) return false;
  if (access != FileAccess::kRead && flock(fd, (share.write ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
    close(fd);
    errno = EBUSY;
    return false;
  }
  if (truncates && ftruncate(fd, 0) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return false;
  }
  *out = fd;
  return true;
}

bool FileClose(FileHandle file) {
  return close(Fd(file)) == 0;
}

bool FileRead(FileHandle file, void* buffer, uint32_t size, uint32_t* count) {
  *count = 0;
  ssize_t n;
  do {
    n = read(Fd(file), buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  *count = static_cast<uint32_t>(n);
  return true;
}

bool FileWrite(FileHandle file, const void* data, uint32_t size, uint32_t* count) {
  size_t written = 0;
  bool ok = WriteAll(Fd(file), static_cast<const char*>(data), size, &written);
  *count = static_cast<uint32_t>(written);
  return ok;
}

bool FileSeek(FileHandle file, int64_t distance, SeekOrigin origin, uint64_t* position) {
  int whence = origin == SeekOrigin::kBegin     ? SEEK_SET
               : origin == SeekOrigin::kCurrent ? SEEK_CUR
                                                : SEEK_END;
  off_t at = lseek(Fd(file), static_cast<off_t>(distance), whence);
  if (at < 0) return false;
  if (position) *position = static_cast<uint64_t>(at);
  return true;
}

bool FileGetWriteTime(FileHandle file, CalendarTime* local_time) {
  struct stat st;
  if (fstat(Fd(file), &st) != 0) return false;
  tm local{};
  if (!localtime_r(&st.st_mtime, &local)) return false;
  *local_time = CalendarTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                             local.tm_min,         local.tm_sec,     local.tm_wday};
  return true;
}

bool FileSetWriteTime(FileHandle file, const CalendarTime& local_time) {
  tm local{};
  local.tm_year = local_time.year - 1900;
  local.tm_mon = local_time.month - 1;
  local.tm_mday = local_time.day;
  local.tm_hour = local_time.hour;
  local.tm_min = local_time.minute;
  local.tm_sec = local_time.second;
  local.tm_isdst = -1;
  time_t when = mktime(&local);
  if (when == static_cast<time_t>(-1)) {
    errno = EINVAL;
    return false;
  }
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = when;
  times[1].tv_nsec = 0;
  return futimens(Fd(file), times) == 0;
}

bool PathStatus(const char* path, FileStatus* status) {
  struct stat st;
  if (!path || stat(path, &st) != 0) return false;
  status->attributes = AttributesOf(st);
  status->size = static_cast<uint64_t>(st.st_size);
  return true;
}

// Read-only takes every write permission away; clearing it gives the owner write permission
// back, which is what a program that clears the bit needs to write the file.
bool PathSetAttributes(const char* path, uint32_t attributes) {
  struct stat st;
  if (!path || stat(path, &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly) {
    mode &= ~kAnyWrite;
  } else if ((mode & kAnyWrite) == 0) {
    mode |= S_IWUSR;
  }
  return chmod(path, mode) == 0;
}

bool PathCopy(const char* source, const char* destination) {
  int in = open(source, O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  auto fail = [in]() {
    int saved = errno;
    close(in);
    errno = saved;
    return false;
  };
  struct stat st;
  if (fstat(in, &st) != 0) return fail();
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return fail();
  }
  if (!MayWrite(destination)) return fail();
  int out = open(destination, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) return fail();
  bool ok = true;
  char chunk[8192];
  for (;;) {
    ssize_t n = read(in, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    size_t written = 0;
    if (!WriteAll(out, chunk, static_cast<size_t>(n), &written) ||
        written != static_cast<size_t>(n)) {
      if (errno == 0) errno = ENOSPC;
      ok = false;
      break;
    }
  }
  int saved = errno;
  // A copy keeps the source's permissions (its read-only attribute) and last-write time.
  if (ok) {
    timespec times[2] = {st.st_atim, st.st_mtim};
    ok = fchmod(out, st.st_mode & 07777) == 0 && futimens(out, times) == 0;
    saved = errno;
  }
  if (close(out) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  close(in);
  errno = saved;
  return ok;
}

bool FileSaveBegin(const char* path, FileSave* save, FileHandle own) {
  if (!save) {
    errno = EINVAL;
    return false;
  }
  // Advisory locks belong to the process: the caller's own handle stands in nobody's way.
  save->own = own;
  save->file = save->target = save->folder = kNoFile;
  save->in_place = save->kept = false;
  save->path[0] = save->temp[0] = '\0';
  if (!path || !*path) {
    errno = ENOENT;
    return false;
  }
  if (!FollowLinks(path, save->path)) return false;
  char folder[kSavePathSize];
  FolderOf(save->path, folder);
  // Saves in one folder take turns, so that two read-modify-writes of a file lose nothing.
  int lock = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock >= 0) {
    while (flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    save->folder = lock;
  }
  struct stat old {};
  if (!OpenTarget(save, &old)) {
    EndSave(save);
    return false;
  }
  const bool exists = save->target != kNoFile;
  int fd = CreateBeside(save->path, exists ? 0600 : 0666, save->temp);
  if (fd < 0) {
    save->temp[0] = '\0';
    if (!exists || (errno != EACCES && errno != EPERM)) {
      EndSave(save);
      return false;
    }
    // The folder takes no new file from this account, but the file may be written: its new
    // content waits in the temporary folder and is then copied in place.
    fd = CreateUnnamed();
    if (fd < 0) {
      EndSave(save);
      return false;
    }
    save->in_place = true;
  }
  save->file = fd;
  if (exists && !save->in_place && !TakeOwnerAndMode(save, old)) {
    EndSave(save);
    return false;
  }
  return true;
}

bool FileSaveCommit(FileSave* save) {
  if (!save || save->file == kNoFile) {
    errno = EINVAL;
    return false;
  }
  bool ok = fsync(Fd(save->file)) == 0;
  if (ok && save->in_place) {
    bool touched = false;
    ok = CopyInPlace(Fd(save->file), Fd(save->target), &touched);
    // Written in part, the file is no longer what it was: the new content stays beside it.
    save->kept = !ok && touched && save->temp[0];
  } else if (ok) {
    ok = rename(save->temp, save->path) == 0;
    if (ok) save->temp[0] = '\0';
  }
  // The folder is synced so that the new name survives a power cut; the save is done either way.
  if (ok && save->folder != kNoFile) fsync(Fd(save->folder));
  EndSave(save);
  return ok;
}

void FileSaveAbort(FileSave* save) {
  if (save) EndSave(save);
}

bool PathDelete(const char* path) {
  if (!path || !MayWrite(path)) return false;
  return unlink(path) == 0;
}

char PathSeparator() {
  return '/';
}

void PathOemToAnsi(const char* path, char* out, uint32_t size) {
  // Paths on this system are taken as they are: there is no OEM code page to convert from.
  if (!out || size == 0) return;
  size_t length = path ? strlen(path) : 0;
  if (length > size - 1) length = size - 1;
  if (length) memcpy(out, path, length);
  out[length] = '\0';
}

}  // namespace platform
