// Files as the operating system keeps them. The file layer of the support library is the only
// user; it adds the open modes, sharing codes, result codes and logging of the system.
#pragma once

#include <cstdint>

#include "platform/calendar.h"

namespace platform {

using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

// Attribute bits, with the values the configuration files and their callers know.
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrNormal = 0x80;

enum class FileAccess { kRead, kWrite, kReadWrite };

enum class FileDisposition {
  kOpenExisting,      // fail when missing
  kCreateNew,         // fail when present
  kOpenAlways,        // open, or create when missing
  kCreateAlways,      // replace by an empty file, or create
  kTruncateExisting,  // open and cut to 0 bytes; fail when missing
};

// What other openers may do while the file is open. Systems without share modes ignore it.
struct FileShare {
  bool read;
  bool write;
};

enum class SeekOrigin { kBegin = 0, kCurrent = 1, kEnd = 2 };

struct FileStatus {
  uint32_t attributes;  // kAttr* bits; kAttrNormal alone for a file with no other attribute
  uint64_t size;
};

// Every function returns false on failure and leaves the reason in LastSystemError().
bool FileOpen(const char* path, FileAccess access, FileDisposition disposition, FileShare share,
              FileHandle* out);
bool FileClose(FileHandle file);
bool FileRead(FileHandle file, void* buffer, uint32_t size, uint32_t* count);
bool FileWrite(FileHandle file, const void* data, uint32_t size, uint32_t* count);
bool FileSeek(FileHandle file, int64_t distance, SeekOrigin origin, uint64_t* position);
bool FileGetWriteTime(FileHandle file, CalendarTime* local_time);
bool FileSetWriteTime(FileHandle file, const CalendarTime& local_time);

bool PathStatus(const char* path, FileStatus* status);
// Sets the kAttr* bits of a file; only the read-only bit has a meaning on every system.
bool PathSetAttributes(const char* path, uint32_t attributes);
// Puts `source` in the place of `destination` in one step (on the same file system), so that a
// reader sees either the old file or the new one; the new file takes the old one's permissions.
bool PathReplace(const char* source, const char* destination);
// Copies a file, replacing an existing destination.
bool PathCopy(const char* source, const char* destination);
bool PathDelete(const char* path);

// Converts a path from the OEM code page to the one the file functions take; always terminates
// `out` and cuts the path to `size` - 1 characters.
void PathOemToAnsi(const char* path, char* out, uint32_t size);

}  // namespace platform
