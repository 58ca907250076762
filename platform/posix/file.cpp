// Files on POSIX. The read-only attribute is a file without any write permission bit; it is
// checked here before every write access, delete or copy over the file, so that a read-only file
// stays read-only even for root, whom the kernel would let write anything.
//
// POSIX has no share modes. Writing is the one sharing rule kept, with advisory locks, because
// two writers appending at once (two processes logging errors) would overwrite each other: a
// writer that lets nobody else write holds an exclusive lock, any other writer a shared one, and
// an open that cannot get its lock fails at once as a sharing violation. Readers take no lock.
#include "platform/file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

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

bool PathReplace(const char* source, const char* destination) {
  if (!source || !destination) {
    errno = EINVAL;
    return false;
  }
  struct stat st;
  if (stat(destination, &st) == 0 && chmod(source, st.st_mode & 07777) != 0) return false;
  return rename(source, destination) == 0;
}

bool PathDelete(const char* path) {
  if (!path || !MayWrite(path)) return false;
  return unlink(path) == 0;
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
