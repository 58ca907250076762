// SPDX-License-Identifier: BSD-3-Clause
// The file layer. Paths come in the OEM code page and are converted before every call into the
// system; every failure is written to the error log under "FIO" with the operation's name, except
// the "no information" code of the attribute and time queries, which callers use as an answer.
#include "support/fileio.h"

#include <cstring>

#include "platform/error.h"
#include "support/errlog.h"
#include "support/result.h"
#include "support/strings.h"

namespace fio {
namespace {

constexpr uint32_t kPathSize = 260;
constexpr uint32_t kChunkSize = 512;
constexpr char kModule[] = "FIO";

#define FIO_LOG(function, code, ...) ErrLogWrite(1, kModule, function, __LINE__, code, __VA_ARGS__)

// Converts `path` for the system; false when it is missing or does not fit a path buffer (a cut
// path would name another file).
bool ConvertPath(const char* path, char (&out)[kPathSize]) {
  if (!path || SafeStrLen(path) >= kPathSize) return false;
  platform::PathOemToAnsi(path, out, kPathSize);
  return true;
}

struct ModeRule {
  uint16_t mode;
  platform::FileAccess access;
  platform::FileDisposition disposition;
};

constexpr ModeRule kModeRules[] = {
    {kModeRead, platform::FileAccess::kRead, platform::FileDisposition::kOpenExisting},
    {kModeWrite, platform::FileAccess::kWrite, platform::FileDisposition::kCreateNew},
    {kModeReadWrite, platform::FileAccess::kReadWrite, platform::FileDisposition::kOpenAlways},
    {kModeAppend, platform::FileAccess::kReadWrite, platform::FileDisposition::kOpenExisting},
    {kModeTruncate, platform::FileAccess::kWrite, platform::FileDisposition::kTruncateExisting},
    {kModeCreateNew, platform::FileAccess::kReadWrite, platform::FileDisposition::kCreateNew},
    {kModeReplace, platform::FileAccess::kReadWrite, platform::FileDisposition::kCreateAlways},
};

struct ShareRule {
  uint16_t code;
  platform::FileShare share;
};

constexpr ShareRule kShareRules[] = {
    {kShareAll, {true, true}},   {kShareAllToo, {true, true}}, {kShareNone, {false, false}},
    {kShareRead, {true, false}}, {kShareWrite, {false, true}},
};

const ModeRule* FindMode(uint16_t mode) {
  for (const ModeRule& rule : kModeRules) {
    if (rule.mode == mode) return &rule;
  }
  return nullptr;
}

const ShareRule* FindShare(uint16_t code) {
  for (const ShareRule& rule : kShareRules) {
    if (rule.code == code) return &rule;
  }
  return nullptr;
}

// Leaves the file positioned on a last byte 0x1A, so that the next write overwrites it.
void PositionForAppend(Handle handle) {
  uint64_t size = 0;
  if (!platform::FileSeek(handle, 0, platform::SeekOrigin::kEnd, &size) || size == 0) return;
  uint8_t last = 0;
  uint32_t count = 0;
  platform::FileSeek(handle, -1, platform::SeekOrigin::kEnd, nullptr);
  if (platform::FileRead(handle, &last, 1, &count) && count == 1 && last == kEndOfFileMark) {
    platform::FileSeek(handle, -1, platform::SeekOrigin::kEnd, nullptr);
  } else {
    platform::FileSeek(handle, 0, platform::SeekOrigin::kEnd, nullptr);
  }
}

bool IsLineEnd(char c) {
  return c == '\r' || c == '\n' || c == static_cast<char>(kEndOfFileMark) || c == '\0';
}

uint16_t DosDate(const platform::CalendarTime& t) {
  return static_cast<uint16_t>(((t.year - 1980) << 9) | (t.month << 5) | t.day);
}

uint16_t DosTime(const platform::CalendarTime& t) {
  return static_cast<uint16_t>((t.hour << 11) | (t.minute << 5) | (t.second / 2));
}

// DOS dates cover the years 1980 to 2107; an earlier time (time 0 is common) is taken as the
// first moment of 1980, as the DOS format itself does.
bool ToDos(const platform::CalendarTime& t, uint16_t* date, uint16_t* time) {
  if (t.year < 1980) {
    *date = DosDate(platform::CalendarTime{1980, 1, 1, 0, 0, 0, 0});
    *time = 0;
    return true;
  }
  if (t.year > 2107) return false;
  *date = DosDate(t);
  *time = DosTime(t);
  return true;
}

bool FromDos(uint16_t date, uint16_t time, platform::CalendarTime* t) {
  *t = platform::CalendarTime{1980 + (date >> 9),
                              (date >> 5) & 0x0F,
                              date & 0x1F,
                              time >> 11,
                              (time >> 5) & 0x3F,
                              (time & 0x1F) * 2,
                              0};
  return t->month >= 1 && t->month <= 12 && t->day >= 1 && t->hour < 24 && t->minute < 60 &&
         t->second < 60;
}

}  // namespace

uint32_t Open(const char* path, Handle* handle, uint16_t mode, uint16_t sharing) {
  if (handle) *handle = kNoHandle;
  const ModeRule* rule = FindMode(mode);
  if (!handle || !path || !rule) {
    FIO_LOG("Open", kErrIllegalArgument, "illegal argument");
    return kErrIllegalArgument;
  }
  if (mode == kModeCreateNew && Exist(path)) {
    FIO_LOG("Open", kFioExists, "file exists already");
    return kFioExists;
  }
  uint32_t attributes = 0;
  if (mode == kModeReplace && GetAttr(path, &attributes) == kResultOk &&
      (attributes & platform::kAttrReadOnly)) {
    FIO_LOG("Open", kFioNoAccess, "no file access");
    return kFioNoAccess;
  }
  const ShareRule* share = FindShare(sharing);
  char system_path[kPathSize];
  if (!share || !ConvertPath(path, system_path)) {
    FIO_LOG("Open", kErrIllegalArgument, "illegal argument");
    return kErrIllegalArgument;
  }
  Handle opened = kNoHandle;
  if (!platform::FileOpen(system_path, rule->access, rule->disposition, share->share, &opened)) {
    uint32_t error = platform::LastSystemError();
    if (platform::IsTooManyFilesError(error)) {
      FIO_LOG("Open", kFioTooManyOpen, "too many files open");
      return kFioTooManyOpen;
    }
    FIO_LOG("Open", kErrOpenFailed, "file open error (%d)", static_cast<int>(error));
    return kErrOpenFailed;
  }
  if (mode == kModeAppend) PositionForAppend(opened);
  *handle = opened;
  return kResultOk;
}

uint32_t Close(Handle handle) {
  if (handle == kNoHandle || !platform::FileClose(handle)) {
    FIO_LOG("Close", kFioCloseFailed, "an error occured");
    return kFioCloseFailed;
  }
  return kResultOk;
}

uint32_t ReadBin(Handle handle, void* buffer, uint32_t size, uint32_t maximum, uint32_t* count) {
  if (count) *count = 0;
  if (!buffer || !count) {
    FIO_LOG("ReadBin", kErrIllegalArgument, "illegal argument");
    return kErrIllegalArgument;
  }
  if (!platform::FileRead(handle, buffer, size < maximum ? size : maximum, count)) {
    FIO_LOG("ReadBin", kFioNoAccess, "no file access");
    return kFioNoAccess;
  }
  return kResultOk;
}

uint32_t WriteBin(Handle handle, const void* data, uint32_t size, uint32_t* count) {
  uint32_t written = 0;
  if (count) *count = 0;
  if (!data && size > 0) {
    FIO_LOG("WriteBin", kErrIllegalArgument, "illegal argument");
    return kErrIllegalArgument;
  }
  bool ok = size == 0 || platform::FileWrite(handle, data, size, &written);
  if (count) *count = written;
  if (!ok) {
    FIO_LOG("WriteBin", kFioNoAccess, "no file access");
    return kFioNoAccess;
  }
  if (written < size) {
    FIO_LOG("WriteBin", kFioNoSpace, "not enough space left");
    return kFioNoSpace;
  }
  return kResultOk;
}

uint32_t ReadLine(Handle handle, char* buffer, uint32_t size) {
  if (!buffer || size == 0) {
    FIO_LOG("ReadLine", kErrIllegalArgument, "illegal argument");
    return kErrIllegalArgument;
  }
  buffer[0] = '\0';
  uint64_t start = 0;
  if (!platform::FileSeek(handle, 0, platform::SeekOrigin::kCurrent, &start)) {
    FIO_LOG("ReadLine", kFioNoAccess, "no file access");
    return kFioNoAccess;
  }
  // `length` counts the bytes of the line read so far, all of them copied into the buffer.
  uint32_t length = 0;
  char chunk[kChunkSize + 1];
  for (;;) {
    uint32_t count = 0;
    if (!platform::FileRead(handle, chunk, kChunkSize, &count)) {
      buffer[length] = '\0';
      FIO_LOG("ReadLine", kFioNoAccess, "no file access");
      return kFioNoAccess;
    }
    chunk[count] = '\0';
    const bool at_line_start = length == 0;
    if (at_line_start && (count == 0 || static_cast<uint8_t>(chunk[0]) == kEndOfFileMark)) {
      FIO_LOG("ReadLine", kFioEndOfFile, "end of file reached");
      return kFioEndOfFile;
    }
    // A line that runs up to the end of the file ends there, also after a full chunk.
    uint32_t end = 0;
    while (end < count && !IsLineEnd(chunk[end]))
      ++end;
    const uint32_t room = size - 1 - length;
    if (end > room) {
      SafeMemCopy(buffer + length, size - length, chunk, room);
      buffer[size - 1] = '\0';
      platform::FileSeek(handle, static_cast<int64_t>(start + size - 1),
                         platform::SeekOrigin::kBegin, nullptr);
      FIO_LOG("ReadLine", kFioBufferOverflow, "buffer overflow");
      return kFioBufferOverflow;
    }
    SafeMemCopy(buffer + length, size - length, chunk, end);
    length += end;
    buffer[length] = '\0';
    if (end == count && count == kChunkSize) continue;  // the line goes on in the next chunk
    uint32_t mark = 0;
    if (end < count) {
      mark = 1;
      if (chunk[end] == '\r') {
        // The line feed of a CR LF pair may be the first byte of the next chunk.
        char next = end + 1 < count ? chunk[end + 1] : '\0';
        uint32_t got = 0;
        if (end + 1 == count) {
          platform::FileSeek(handle, static_cast<int64_t>(start + length + 1),
                             platform::SeekOrigin::kBegin, nullptr);
          if (!platform::FileRead(handle, &next, 1, &got) || got != 1) next = '\0';
        }
        if (next == '\n') mark = 2;
      }
    }
    platform::FileSeek(handle, static_cast<int64_t>(start + length + mark),
                       platform::SeekOrigin::kBegin, nullptr);
    return kResultOk;
  }
}

uint32_t Seek(Handle handle, int32_t distance, uint32_t origin, uint32_t* position) {
  uint64_t at = 0;
  if (origin > 2 ||
      !platform::FileSeek(handle, distance, static_cast<platform::SeekOrigin>(origin), &at)) {
    FIO_LOG("Seek", kErrIllegalArgument, " illegal argument");
    return kErrIllegalArgument;
  }
  if (position) *position = static_cast<uint32_t>(at);
  return kResultOk;
}

uint32_t Tell(Handle handle, uint32_t* position) {
  uint64_t at = 0;
  if (!position || !platform::FileSeek(handle, 0, platform::SeekOrigin::kCurrent, &at)) {
    FIO_LOG("Tell", kErrIllegalArgument, "illegal argument");
    return kErrIllegalArgument;
  }
  *position = static_cast<uint32_t>(at);
  return kResultOk;
}

uint32_t Exist(const char* path) {
  char system_path[kPathSize];
  platform::FileStatus status{};
  return ConvertPath(path, system_path) && platform::PathStatus(system_path, &status) ? 1 : 0;
}

uint32_t GetAttr(const char* path, uint32_t* attributes) {
  if (!attributes) return kErrIllegalArgument;
  *attributes = 0;
  if (path && !*path) return kResultOk;
  char system_path[kPathSize];
  platform::FileStatus status{};
  if (!ConvertPath(path, system_path) || !platform::PathStatus(system_path, &status)) {
    return kFioNoInfo;
  }
  uint32_t bits = status.attributes & 0xFF;
  *attributes = bits == platform::kAttrNormal ? 0 : bits;
  return kResultOk;
}

uint32_t GetInfo(const char* path, FileInfo* info) {
  if (!info) return kErrIllegalArgument;
  std::memset(info, 0, sizeof *info);
  if (path && !*path) return kResultOk;
  char system_path[kPathSize];
  platform::FileStatus status{};
  if (!ConvertPath(path, system_path) || !platform::PathStatus(system_path, &status)) {
    return kFioNoInfo;
  }
  info->attributes = status.attributes;
  info->size = static_cast<uint32_t>(status.size);
  char upper[kPathSize];
  SafeStrCopy(upper, sizeof upper, path);
  StrUpperCp437(upper);
  const char* name = upper;
  for (const char* p = upper; *p; ++p) {
    if (*p == '/' || *p == '\\' || *p == ':') name = p + 1;
  }
  SafeStrCopy(info->name, sizeof info->name, name);
  return GetDateTime(path, &info->dos_date, &info->dos_time);
}

uint32_t GetDateTime(const char* path, uint16_t* dos_date, uint16_t* dos_time) {
  if (!dos_date || !dos_time) return kErrIllegalArgument;
  char system_path[kPathSize];
  Handle file = kNoHandle;
  if (!ConvertPath(path, system_path) ||
      !platform::FileOpen(system_path, platform::FileAccess::kRead,
                          platform::FileDisposition::kOpenExisting, {true, true}, &file)) {
    return kFioNoInfo;
  }
  platform::CalendarTime written{};
  bool ok = platform::FileGetWriteTime(file, &written) && ToDos(written, dos_date, dos_time);
  platform::FileClose(file);
  return ok ? kResultOk : kFioNoInfo;
}

uint32_t SetDateTime(const char* path, uint16_t dos_date, uint16_t dos_time) {
  // Only an existing file is touched: setting a time never creates one.
  char system_path[kPathSize];
  platform::CalendarTime when{};
  Handle file = kNoHandle;
  if (!FromDos(dos_date, dos_time, &when) || !ConvertPath(path, system_path) ||
      !platform::FileOpen(system_path, platform::FileAccess::kReadWrite,
                          platform::FileDisposition::kOpenExisting, {true, true}, &file)) {
    return kFioNoInfo;
  }
  bool ok = platform::FileSetWriteTime(file, when);
  platform::FileClose(file);
  return ok ? kResultOk : kFioNoInfo;
}

uint32_t Copy(const char* source, const char* destination, uint32_t plain) {
  if (plain > 1 || !source || !destination) {
    FIO_LOG("Copy", kErrIllegalArgument, "illegal argument");
    return kErrIllegalArgument;
  }
  uint16_t date = 0;
  uint16_t time = 0;
  uint32_t result = plain ? kResultOk : GetDateTime(source, &date, &time);
  if (result != kResultOk) {
    FIO_LOG("Copy", result, "error while getting time");
    return result;
  }
  char from[kPathSize];
  char to[kPathSize];
  if (!ConvertPath(source, from) || !ConvertPath(destination, to) ||
      !platform::PathCopy(from, to)) {
    FIO_LOG("Copy", kFioCopyFailed, "error while copying file");
    return kFioCopyFailed;
  }
  result = plain ? kResultOk : SetDateTime(destination, date, time);
  if (result != kResultOk) {
    FIO_LOG("Copy", result, "error while setting time");
    return result;
  }
  return kResultOk;
}

uint32_t Delete(const char* path) {
  char system_path[kPathSize];
  if (!ConvertPath(path, system_path) || !platform::PathDelete(system_path)) {
    FIO_LOG("Delete", kFioDeleteFailed, "file delete error");
    return kFioDeleteFailed;
  }
  return kResultOk;
}

}  // namespace fio
