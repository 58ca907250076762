// SPDX-License-Identifier: BSD-3-Clause
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
// Copies a file, replacing an existing destination.
bool PathCopy(const char* source, const char* destination);
bool PathDelete(const char* path);

// Saving a file as a whole: the new content is written beside the file under a unique name that
// is created exclusively (never through a link), synced, and then takes the file's place in one
// step, so that a crash at any moment leaves the old content or the new one, never a mix.
// Symbolic links are followed (their target is saved), and the file keeps its owner, group and
// mode. A file with further hard links, or one whose owner this account cannot give a new file,
// is written in place instead, but only after the new content lies whole and synced beside it
// and the room for it is reserved. Saves of files in one folder take turns between processes,
// from FileSaveBegin to the end of the save, so that a caller that reads the file after
// FileSaveBegin and writes it back loses no other process's update.
constexpr uint32_t kSavePathSize = 1024;

struct FileSave {
  FileHandle file;    // the new content goes here (FileWrite)
  FileHandle target;  // the file saved, open to read and write; kNoFile while it does not exist
  FileHandle folder;  // the locked folder; kNoFile when it cannot be opened
  FileHandle own;     // the caller's own handle on the file (FileSaveBegin); kNoFile: none
  bool in_place;      // the new content is copied into the file rather than renamed over it
  bool kept;          // a failed commit changed the file in part; the new content is in temp
  char path[kSavePathSize];  // the file saved, its symbolic links followed
  char temp[kSavePathSize];  // the name the new content has beside it; "" when it has none
};

// Resolves the path, waits for the folder's turn and opens the file for the new content. A
// file without any write permission, a folder, or anything but a plain file is refused.
// `own` is a handle of the caller on the file, open to read and write, that stays open through
// the save (kNoFile: none). Where share modes are the system's own (Windows), the caller's
// handle keeps the file from being replaced or opened again for writing, so the new content is
// then written in place through it.
bool FileSaveBegin(const char* path, FileSave* save, FileHandle own = kNoFile);
// Puts the new content in place and ends the save. On failure the file keeps its old content,
// unless a failure while writing in place changed it in part: then save->kept is set and the new
// content is left whole under save->temp.
bool FileSaveCommit(FileSave* save);
// Ends the save without touching the file; nothing is left beside it.
void FileSaveAbort(FileSave* save);

// The character between the folders of a path and a file name: '\\' on Windows, '/' elsewhere.
char PathSeparator();

// Converts a path from the OEM code page to the one the file functions take; always terminates
// `out` and cuts the path to `size` - 1 characters.
void PathOemToAnsi(const char* path, char* out, uint32_t size);

}  // namespace platform
