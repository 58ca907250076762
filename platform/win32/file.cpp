// SPDX-License-Identifier: BSD-3-Clause
// Files on Windows, with the system's share modes: what other openers may do while a file is
// open is enforced by the system itself.
//
// A file is saved as a whole by writing the new content beside it and putting it in the file's
// place with ReplaceFileA (which keeps the file's attributes and security) or, for a new file,
// MoveFileExA. The saves of one folder take turns through a named mutex derived from the
// folder's full path, open to every account of the session.
#include "platform/file.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "platform/win32/object_name.h"

namespace platform {
namespace {

HANDLE H(FileHandle file) {
  return AsHandle(file);
}

bool FailWith(DWORD error) {
  SetLastError(error);
  return false;
}

void CloseKeepingError(HANDLE handle) {
  const DWORD error = GetLastError();
  CloseHandle(handle);
  SetLastError(error);
}

// --- saving a file as a whole ---

constexpr int kNameTries = 100;
constexpr DWORD kCopyChunk = 65536;

std::atomic<uint32_t> g_save_counter{0};

// The name of the mutex that the saves in the folder of `path` (a full path) take turns on: a
// hash of the folder's name in upper case, as the system compares names without regard to case.
std::string FolderLockName(const char* path) {
  const char* end = strrchr(path, '\\');
  const char* slash = strrchr(path, '/');
  if (!end || (slash && slash > end)) end = slash;
  const size_t length = end ? static_cast<size_t>(end - path) : 0;
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (size_t i = 0; i < length; ++i) {
    char c = path[i] == '/' ? '\\' : path[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
  }
  char name[64];
  snprintf(name, sizeof name, "ctkorvin-save-%08lx%08lx", static_cast<unsigned long>(hash >> 32),
           static_cast<unsigned long>(hash & 0xFFFFFFFFu));
  return SystemObjectName(name);
}

HANDLE TakeFolderTurn(const char* path) {
  OpenSecurity security;
  if (!MakeOpenSecurity(&security)) return nullptr;
  HANDLE mutex = CreateMutexA(&security.attributes, FALSE, FolderLockName(path).c_str());
  if (!mutex) return nullptr;
  const DWORD wait = WaitForSingleObject(mutex, INFINITE);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {  // abandoned: its saver ended
    CloseKeepingError(mutex);
    return nullptr;
  }
  return mutex;
}

// Creates a file beside `path` under a name nobody else has, opened without sharing.
HANDLE CreateBeside(const char* path, char (&name)[kSavePathSize]) {
  const uint32_t seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    const uint32_t unique = seed ^ (g_save_counter.fetch_add(1) * 2654435761u);
    if (snprintf(name, sizeof name, "%s.%lx-%08lx.kvtmp", path,
                 static_cast<unsigned long>(GetCurrentProcessId()),
                 static_cast<unsigned long>(unique)) >= static_cast<int>(sizeof name)) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

// A file in the temporary folder that goes away when it is closed, for a folder that takes no
// new file.
HANDLE CreateUnnamed() {
  char folder[MAX_PATH];
  char name[MAX_PATH];
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder || GetTempFileNameA(folder, "kvs", 0, name) == 0) {
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

bool SeekTo(HANDLE file, uint64_t at) {
  LONG high = static_cast<LONG>(at >> 32);
  const DWORD low = SetFilePointer(file, static_cast<LONG>(at & 0xFFFFFFFFu), &high, FILE_BEGIN);
  return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

bool SizeOf(HANDLE file, uint64_t* size) {
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  *size = static_cast<uint64_t>(high) << 32 | low;
  return true;
}

// Copies the new content over the file's own bytes. The room is reserved first (the file is
// made long enough), so that a full disk refuses the copy before a byte of the content changes;
// *touched tells whether one may have.
bool CopyInPlace(HANDLE from, HANDLE to, bool* touched) {
  *touched = false;
  uint64_t size = 0;
  uint64_t old_size = 0;
  if (!SizeOf(from, &size) || !SizeOf(to, &old_size)) return false;
  if (size > old_size && (!SeekTo(to, size) || !SetEndOfFile(to))) {
    const DWORD error = GetLastError();
    if (SeekTo(to, old_size)) SetEndOfFile(to);  // give the room back
    return FailWith(error);
  }
  *touched = true;
  if (!SeekTo(from, 0) || !SeekTo(to, 0)) return false;
  static char chunk[kCopyChunk];
  for (uint64_t at = 0; at < size;) {
    DWORD read = 0;
    if (!ReadFile(from, chunk, sizeof chunk, &read, nullptr)) return false;
    if (read == 0) return FailWith(ERROR_HANDLE_EOF);
    DWORD written = 0;
    if (!WriteFile(to, chunk, read, &written, nullptr)) return false;
    if (written != read) return FailWith(ERROR_DISK_FULL);
    at += read;
  }
  return SeekTo(to, size) && SetEndOfFile(to) && FlushFileBuffers(to);
}

void EndSave(FileSave* save) {
  const DWORD error = GetLastError();
  if (save->file != kNoFile) CloseHandle(H(save->file));
  if (save->temp[0] && !save->kept) DeleteFileA(save->temp);
  if (save->target != kNoFile) CloseHandle(H(save->target));
  if (save->folder != kNoFile) {  // lets the next save of the folder go
    ReleaseMutex(H(save->folder));
    CloseHandle(H(save->folder));
  }
  save->file = save->target = save->folder = kNoFile;
  if (!save->kept) save->temp[0] = '\0';
  SetLastError(error);
}

// Opens the existing file to be saved, reading and writing when other openers allow it, else
// reading only (writing in place then has to wait for them); false when it may not be written.
bool OpenTarget(FileSave* save, bool* exists) {
  *exists = false;
  const DWORD attributes = GetFileAttributesA(save->path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND;
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE)) {
    return FailWith(ERROR_ACCESS_DENIED);
  }
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE file = CreateFileA(save->path, GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
    file = CreateFileA(save->path, GENERIC_READ, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info)) {
    CloseHandle(file);
    return FailWith(ERROR_ACCESS_DENIED);
  }
  save->target = FromHandle(file);
  save->in_place = info.nNumberOfLinks > 1;
  *exists = true;
  return true;
}

// Puts the new content in the file's place by name. False with the file unchanged.
bool ReplaceByName(FileSave* save, bool exists) {
  CloseHandle(H(save->file));
  save->file = kNoFile;
  if (!exists) {
    return MoveFileExA(save->temp, save->path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  // The file's own handle must not stand in the way of replacing it.
  CloseHandle(H(save->target));
  save->target = kNoFile;
  // Another opener that does not allow deleting the file keeps it from being replaced. That is
  // asked first: a replace that fails on it may leave a stray file behind (Wine's does).
  HANDLE probe =
      CreateFileA(save->path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return false;
  CloseHandle(probe);
  return ReplaceFileA(save->path, save->temp, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                      nullptr);
}

// Writes the new content (in save->file, or under save->temp) into the file itself.
bool WriteInPlace(FileSave* save) {
  if (save->file == kNoFile) {
    HANDLE from = CreateFileA(save->temp, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (from == INVALID_HANDLE_VALUE) return false;
    save->file = FromHandle(from);
  }
  HANDLE to = H(save->own);  // the caller's, which the caller closes
  if (save->own == kNoFile) {
    if (save->target != kNoFile) CloseHandle(H(save->target));
    to = CreateFileA(save->path, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
    save->target = to == INVALID_HANDLE_VALUE ? kNoFile : FromHandle(to);
    if (save->target == kNoFile) return false;
  }
  bool touched = false;
  const bool ok = CopyInPlace(H(save->file), to, &touched);
  // Written in part, the file is no longer what it was: the new content stays beside it.
  save->kept = !ok && touched && save->temp[0];
  return ok;
}

}  // namespace

bool FileOpen(const char* path, FileAccess access, FileDisposition disposition, FileShare share,
              FileHandle* out) {
  *out = kNoFile;
  if (!path || !*path) return FailWith(ERROR_FILE_NOT_FOUND);
  DWORD desired = 0;
  switch (access) {
    case FileAccess::kRead:
      desired = GENERIC_READ;
      break;
    case FileAccess::kWrite:
      desired = GENERIC_WRITE;
      break;
    case FileAccess::kReadWrite:
      desired = GENERIC_READ | GENERIC_WRITE;
      break;
  }
  DWORD creation = OPEN_EXISTING;
  switch (disposition) {
    case FileDisposition::kOpenExisting:
      creation = OPEN_EXISTING;
      break;
    case FileDisposition::kCreateNew:
      creation = CREATE_NEW;
      break;
    case FileDisposition::kOpenAlways:
      creation = OPEN_ALWAYS;
      break;
    case FileDisposition::kCreateAlways:
      creation = CREATE_ALWAYS;
      break;
    case FileDisposition::kTruncateExisting:
      creation = TRUNCATE_EXISTING;
      desired |= GENERIC_WRITE;  // the system cuts a file only for a writer
      break;
  }
  const DWORD share_mode =
      (share.read ? FILE_SHARE_READ : 0u) | (share.write ? FILE_SHARE_WRITE : 0u);
  HANDLE file =
      CreateFileA(path, desired, share_mode, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  *out = FromHandle(file);
  return true;
}

bool FileClose(FileHandle file) {
  return CloseHandle(H(file));
}

bool FileRead(FileHandle file, void* buffer, uint32_t size, uint32_t* count) {
  *count = 0;
  DWORD read = 0;
  if (!ReadFile(H(file), buffer, size, &read, nullptr)) return false;
  *count = read;
  return true;
}

bool FileWrite(FileHandle file, const void* data, uint32_t size, uint32_t* count) {
  DWORD written = 0;
  const BOOL ok = WriteFile(H(file), data, size, &written, nullptr);
  *count = written;
  return ok || written > 0;  // a short write is reported through the count
}

bool FileSeek(FileHandle file, int64_t distance, SeekOrigin origin, uint64_t* position) {
  const DWORD method = origin == SeekOrigin::kBegin     ? FILE_BEGIN
                       : origin == SeekOrigin::kCurrent ? FILE_CURRENT
                                                        : FILE_END;
  LONG high = static_cast<LONG>(static_cast<uint64_t>(distance) >> 32);
  SetLastError(NO_ERROR);
  const DWORD low = SetFilePointer(H(file), static_cast<LONG>(distance), &high, method);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
  if (position) *position = static_cast<uint64_t>(static_cast<DWORD>(high)) << 32 | low;
  return true;
}

bool FileGetWriteTime(FileHandle file, CalendarTime* local_time) {
  FILETIME written{}, local{};
  SYSTEMTIME time{};
  if (!GetFileTime(H(file), nullptr, nullptr, &written) ||
      !FileTimeToLocalFileTime(&written, &local) || !FileTimeToSystemTime(&local, &time)) {
    return false;
  }
  *local_time = CalendarTime{time.wYear,   time.wMonth,  time.wDay,      time.wHour,
                             time.wMinute, time.wSecond, time.wDayOfWeek};
  return true;
}

bool FileSetWriteTime(FileHandle file, const CalendarTime& local_time) {
  SYSTEMTIME time{};
  time.wYear = static_cast<WORD>(local_time.year);
  time.wMonth = static_cast<WORD>(local_time.month);
  time.wDay = static_cast<WORD>(local_time.day);
  time.wHour = static_cast<WORD>(local_time.hour);
  time.wMinute = static_cast<WORD>(local_time.minute);
  time.wSecond = static_cast<WORD>(local_time.second);
  FILETIME local{}, written{};
  if (!SystemTimeToFileTime(&time, &local) || !LocalFileTimeToFileTime(&local, &written)) {
    return false;
  }
  return SetFileTime(H(file), nullptr, nullptr, &written);
}

bool PathStatus(const char* path, FileStatus* status) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!path || !GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
  status->attributes = data.dwFileAttributes ? data.dwFileAttributes : kAttrNormal;
  status->size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  return true;
}

bool PathSetAttributes(const char* path, uint32_t attributes) {
  if (!path) return FailWith(ERROR_INVALID_PARAMETER);
  const uint32_t settable = attributes & ~kAttrDirectory;
  return SetFileAttributesA(path, settable ? settable : FILE_ATTRIBUTE_NORMAL);
}

bool PathCopy(const char* source, const char* destination) {
  if (!source || !destination) return FailWith(ERROR_INVALID_PARAMETER);
  // A read-only destination is never replaced (not every CopyFileA refuses it itself).
  const DWORD existing = GetFileAttributesA(destination);
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY)) {
    return FailWith(ERROR_ACCESS_DENIED);
  }
  // The copy keeps the source's attributes and last-write time.
  return CopyFileA(source, destination, FALSE);
}

bool PathDelete(const char* path) {
  if (!path) return FailWith(ERROR_INVALID_PARAMETER);
  return DeleteFileA(path);
}

bool FileSaveBegin(const char* path, FileSave* save, FileHandle own) {
  if (!save) return FailWith(ERROR_INVALID_PARAMETER);
  save->own = own;
  save->file = save->target = save->folder = kNoFile;
  save->in_place = save->kept = false;
  save->path[0] = save->temp[0] = '\0';
  if (!path || !*path) return FailWith(ERROR_FILE_NOT_FOUND);
  char* name_part = nullptr;
  const DWORD length = GetFullPathNameA(path, kSavePathSize, save->path, &name_part);
  if (length == 0) return false;
  if (length >= kSavePathSize) {
    save->path[0] = '\0';
    return FailWith(ERROR_FILENAME_EXCED_RANGE);
  }
  // Saves in one folder take turns, so that two read-modify-writes of a file lose nothing.
  HANDLE turn = TakeFolderTurn(save->path);
  if (turn) save->folder = FromHandle(turn);
  bool exists = false;
  if (!OpenTarget(save, &exists)) {
    EndSave(save);
    return false;
  }
  HANDLE file = CreateBeside(save->path, save->temp);
  if (file == INVALID_HANDLE_VALUE) {
    save->temp[0] = '\0';
    if (!exists || GetLastError() != ERROR_ACCESS_DENIED) {
      EndSave(save);
      return false;
    }
    // The folder takes no new file from this account, but the file may be written: its new
    // content waits in the temporary folder and is then copied in place.
    file = CreateUnnamed();
    if (file == INVALID_HANDLE_VALUE) {
      EndSave(save);
      return false;
    }
    save->in_place = true;
  }
  save->file = FromHandle(file);
  // The caller's own handle keeps the file from being replaced (it does not allow deleting it),
  // and a replaced file would leave that handle on the old content.
  if (own != kNoFile) save->in_place = true;
  return true;
}

bool FileSaveCommit(FileSave* save) {
  if (!save || save->file == kNoFile) return FailWith(ERROR_INVALID_PARAMETER);
  bool ok = FlushFileBuffers(H(save->file));
  if (ok && !save->in_place) {
    const bool exists = save->target != kNoFile;
    ok = ReplaceByName(save, exists);
    if (ok) {
      save->temp[0] = '\0';
    } else if (exists) {
      // Another opener keeps the file from being replaced (it did not allow deleting it): the
      // new content, whole and synced beside it, is copied in place instead.
      const DWORD error = GetLastError();
      ok = (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
            error == ERROR_UNABLE_TO_REMOVE_REPLACED) &&
           WriteInPlace(save);
      if (!ok && !save->kept) SetLastError(error);
    }
  } else if (ok) {
    ok = WriteInPlace(save);
  }
  EndSave(save);
  return ok;
}

void FileSaveAbort(FileSave* save) {
  if (save) EndSave(save);
}

char PathSeparator() {
  return '\\';
}

void PathOemToAnsi(const char* path, char* out, uint32_t size) {
  if (!out || size == 0) return;
  size_t length = path ? strlen(path) : 0;
  if (length > size - 1) length = size - 1;
  if (length) memmove(out, path, length);
  out[length] = '\0';
  OemToCharA(out, out);  // the conversion may work in place; it keeps the length
}

}  // namespace platform
