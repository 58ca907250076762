// SPDX-License-Identifier: BSD-3-Clause
// The file layer: open modes, sharing codes and result codes over the platform's files. Every
// failure is reported to the error log under the module "FIO" and the operation's name.
#pragma once

#include <cstdint>

#include "platform/file.h"

namespace fio {

using Handle = platform::FileHandle;
constexpr Handle kNoHandle = platform::kNoFile;

// Open modes.
constexpr uint16_t kModeRead = 0;           // read; the file must exist
constexpr uint16_t kModeWrite = 1;          // write; the file must not exist
constexpr uint16_t kModeReadWrite = 2;      // read and write; created when missing
constexpr uint16_t kModeAppend = 8;         // read and write at the end; must exist
constexpr uint16_t kModeTruncate = 0x10;    // write; cut to 0 bytes; must exist
constexpr uint16_t kModeCreateNew = 0x500;  // read and write; must not exist
constexpr uint16_t kModeReplace = 0x1002;   // read and write; replaced by an empty file

// Sharing codes: what others may do while the file is open.
constexpr uint16_t kShareAll = 0;  // 64 means the same
constexpr uint16_t kShareAllToo = 64;
constexpr uint16_t kShareNone = 16;
constexpr uint16_t kShareRead = 32;
constexpr uint16_t kShareWrite = 48;

constexpr uint32_t kEndOfFileMark = 0x1A;
constexpr uint32_t kInfoNameSize = 259;  // 258 characters and the terminator

struct FileInfo {
  uint32_t attributes;
  uint16_t dos_time;
  uint16_t dos_date;
  uint32_t size;             // low 32 bits
  char name[kInfoNameSize];  // name and extension, upper-cased
};

uint32_t Open(const char* path, Handle* handle, uint16_t mode, uint16_t sharing);
uint32_t Close(Handle handle);
// Reads min(size, maximum) bytes; *count is 0 at the end of the file.
uint32_t ReadBin(Handle handle, void* buffer, uint32_t size, uint32_t maximum, uint32_t* count);
uint32_t WriteBin(Handle handle, const void* data, uint32_t size, uint32_t* count);
// Reads one line (without its end mark) into `buffer` of `size` bytes.
uint32_t ReadLine(Handle handle, char* buffer, uint32_t size);
uint32_t Seek(Handle handle, int32_t distance, uint32_t origin, uint32_t* position);
uint32_t Tell(Handle handle, uint32_t* position);
// 1 when the path has attributes (a file or a folder is there), else 0.
uint32_t Exist(const char* path);
uint32_t GetAttr(const char* path, uint32_t* attributes);
uint32_t GetInfo(const char* path, FileInfo* info);
uint32_t GetDateTime(const char* path, uint16_t* dos_date, uint16_t* dos_time);
uint32_t SetDateTime(const char* path, uint16_t dos_date, uint16_t dos_time);
// plain 0 carries the source's last-write time over to the copy; plain 1 only copies.
uint32_t Copy(const char* source, const char* destination, uint32_t plain);
uint32_t Delete(const char* path);

}  // namespace fio
