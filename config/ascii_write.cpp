// SPDX-License-Identifier: BSD-3-Clause
// ASCII configuration files: the process-wide file-info cache of parsed files under the lock
// "CFGFileInfoSem", and the write-back of a changed file: saved beside it and renamed into
// place, with a backup copy kept until the save is done.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <system_error>

#include "config/ascii.h"
#include "config/messages.h"
#include "platform/file.h"
#include "support/errlog.h"
#include "support/memory.h"
#include "support/result.h"
#include "support/strings.h"

namespace {

constexpr char kModule[] = "CFG";
constexpr uint32_t kNameSize = 512;  // room for the backup file's name

#define CFG_LOG(function, code, ...) ErrLogWrite(1, kModule, function, __LINE__, code, __VA_ARGS__)

sem::Semaphore g_file_info_sem{};
AsciiFileInfo* g_file_infos = nullptr;
std::atomic<uint32_t> g_temp_counter{0};  // handles of several threads may write back at once

// A set of lists taken out of a record while read-only handles still used it.
struct RetiredLists {
  AsciiFile lists;
  RetiredLists* next;
};

// The record holds no lists any more; the next opener parses the file.
void ClearRecordLists(AsciiFileInfo* record) {
  record->first_line = nullptr;
  record->last_line = nullptr;
  record->first_section = nullptr;
  record->header_comment = nullptr;
  record->parsed = 0;
  record->complete = 0;
}

void FreeRecordLists(AsciiFileInfo* record) {
  AsciiFile lists{};
  AsciiTakeCachedLists(&lists, record);
  AsciiFreeLists(&lists);
  ClearRecordLists(record);
}

void FreeRetired(AsciiFileInfo* record) {
  for (RetiredLists* retired = static_cast<RetiredLists*>(record->retired); retired;) {
    RetiredLists* next = retired->next;
    AsciiFreeLists(&retired->lists);
    mem::Release(retired);
    retired = next;
  }
  record->retired = nullptr;
}

// The file changed on disk while read-only handles still read the cached lists: those lists
// are kept aside until the last handle is closed, and the record starts afresh.
void RetireRecordLists(AsciiFileInfo* record) {
  RetiredLists* retired = static_cast<RetiredLists*>(mem::Allocate(sizeof(RetiredLists)));
  if (!retired) {
    // Without room to keep them aside the old lists stay in use; a later open parses again.
    ClearRecordLists(record);
    return;
  }
  AsciiTakeCachedLists(&retired->lists, record);
  retired->next = static_cast<RetiredLists*>(record->retired);
  record->retired = retired;
  ClearRecordLists(record);
}

bool SameFileState(const fio::FileInfo& a, const fio::FileInfo& b) {
  return a.dos_date == b.dos_date && a.dos_time == b.dos_time && a.size == b.size;
}

AsciiFileInfo* FindRecord(const char* path) {
  for (AsciiFileInfo* record = g_file_infos; record; record = record->next) {
    if (std::strcmp(record->path, path) == 0) return record;
  }
  return nullptr;
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// Copies the configuration file to its backup, keeping its time of last write. The backup is
// created exclusively first, so that the copy never goes through a link planted under its name,
// and a copy that fails leaves nothing behind.
bool MakeBackup(const char* path, const char* backup) {
  fio::Handle created = fio::kNoHandle;
  bool ok = fio::Open(backup, &created, fio::kModeCreateNew, fio::kShareAll) == kResultOk;
  if (ok) {
    fio::Close(created);
    ok = fio::Copy(path, backup, 0) == kResultOk;
    if (!ok) fio::Delete(backup);
  }
  if (!ok)
    CFG_LOG("WriteDownBuffer", kErrAsciiTempFile, "error creating temporary file %s", backup);
  return ok;
}

// Writes `size` bytes; false on any failure or short write.
bool WriteAll(fio::Handle handle, const char* data, uint32_t size) {
  uint32_t written = 0;
  return fio::WriteBin(handle, data, size, &written) == kResultOk && written == size;
}

// The lines of a write-back, gathered and handed to the file in large pieces rather than one
// write a line.
constexpr uint32_t kWritePieceSize = 16384;

struct PieceWriter {
  fio::Handle handle;
  uint32_t used;
  bool ok;
  char data[kWritePieceSize];
};

bool Flush(PieceWriter* writer) {
  if (writer->ok && writer->used > 0)
    writer->ok = WriteAll(writer->handle, writer->data, writer->used);
  writer->used = 0;
  return writer->ok;
}

bool Put(PieceWriter* writer, const char* bytes, uint32_t count) {
  while (writer->ok && count > 0) {
    if (writer->used == kWritePieceSize && !Flush(writer)) break;
    const uint32_t piece = std::min(count, kWritePieceSize - writer->used);
    std::memcpy(writer->data + writer->used, bytes, piece);
    writer->used += piece;
    bytes += piece;
    count -= piece;
  }
  return writer->ok;
}

}  // namespace

sem::Semaphore* AsciiFileInfoSem() {
  return &g_file_info_sem;
}

void AsciiTakeCachedLists(AsciiFile* file, const AsciiFileInfo* record) {
  if (!file || !record) return;
  file->first_line = record->first_line;
  file->last_line = record->last_line;
  file->first_section = record->first_section;
  file->header_comment = record->header_comment;
  file->complete = record->complete;
}

void AsciiStoreCachedLists(AsciiFileInfo* record, const AsciiFile* file) {
  if (!file || !record) return;
  record->first_line = file->first_line;
  record->last_line = file->last_line;
  record->first_section = file->first_section;
  record->header_comment = file->header_comment;
  record->complete = file->complete;
  record->parsed = 1;
}

uint32_t AsciiCheckFileInfo(const char* path, AsciiFileInfo** record, uint16_t access) {
  if (!path || !record) return kErrIllegalArgument;
  *record = nullptr;
  fio::FileInfo info{};
  if (fio::GetInfo(path, &info) != kResultOk) {
    CFG_LOG("AsciiCheckFileInfo", kErrAsciiFileInfo, "error reading info of consisting file %s",
            path);
    return kErrAsciiFileInfo;
  }
  AsciiFileInfo* found = FindRecord(path);
  if (!found) {
    found = static_cast<AsciiFileInfo*>(mem::Allocate(sizeof(AsciiFileInfo)));
    if (!found) {
      CFG_LOG("AsciiCheckFileInfo", kErrNotEnoughMemory, "%s", MessageTextEn(kErrNotEnoughMemory));
      return kErrNotEnoughMemory;
    }
    found->info = info;
    SafeStrCopy(found->path, sizeof found->path, path);
    found->open_count = 1;
    found->access = access;
    AsciiFileInfo** tail = &g_file_infos;
    while (*tail)
      tail = &(*tail)->next;
    *tail = found;
    *record = found;
    return kResultOk;
  }
  if (found->open_count > 0 &&
      (found->access == kAsciiAccessReadWrite || access == kAsciiAccessReadWrite)) {
    CFG_LOG("AsciiCheckFileInfo", kErrAsciiOpenFailed, "error opening consisting file %s", path);
    return kErrAsciiOpenFailed;
  }
  if (!SameFileState(found->info, info)) {
    if (found->open_count > 0) {
      RetireRecordLists(found);
    } else {
      FreeRecordLists(found);
    }
    found->info = info;
  }
  found->access = access;
  ++found->open_count;
  *record = found;
  return kResultOk;
}

uint32_t AsciiCheckFileInfo(AsciiFile* file) {
  if (!file) return kErrIllegalArgument;
  fio::FileInfo info{};
  if (fio::GetInfo(file->path, &info) != kResultOk) {
    CFG_LOG("AsciiCheckFileInfo", kErrAsciiFileInfo, "error reading info of consisting file %s",
            file->path);
    return kErrAsciiFileInfo;
  }
  if (sem::WaitSet(&g_file_info_sem) != kResultOk) {
    CFG_LOG("AsciiCheckFileInfo", kErrGeneralFailure, "error set the semaphore %s",
            kAsciiFileInfoSemName);
    return kErrGeneralFailure;
  }
  if (AsciiFileInfo* record = FindRecord(file->path)) {
    if (record->open_count > 0) --record->open_count;
    record->info = info;
    // A writing handle is the only one; its lists may have new heads after its changes.
    if (file->access == kAsciiAccessReadWrite) AsciiStoreCachedLists(record, file);
    if (record->open_count == 0) FreeRetired(record);
  }
  if (sem::Clear(&g_file_info_sem) != kResultOk) {
    CFG_LOG("AsciiCheckFileInfo", kErrGeneralFailure, "error clear the semaphore %s",
            kAsciiFileInfoSemName);
    return kErrGeneralFailure;
  }
  return kResultOk;
}

uint32_t AsciiDropFileInfo(AsciiFile* file) {
  if (!file) return kErrIllegalArgument;
  if (sem::WaitSet(&g_file_info_sem) != kResultOk) {
    CFG_LOG("AsciiDropFileInfo", kErrGeneralFailure, "error set the semaphore %s",
            kAsciiFileInfoSemName);
    return kErrGeneralFailure;
  }
  AsciiFileInfo* record = FindRecord(file->path);
  if (record && record->open_count > 0) --record->open_count;
  // A writer is the only user of the record's lists; its own heads are the current ones.
  if (file->access == kAsciiAccessReadWrite) {
    AsciiFreeLists(file);
    if (record) ClearRecordLists(record);
  }
  if (record && record->open_count == 0) FreeRetired(record);
  if (sem::Clear(&g_file_info_sem) != kResultOk) {
    CFG_LOG("AsciiDropFileInfo", kErrGeneralFailure, "error clear the semaphore %s",
            kAsciiFileInfoSemName);
    return kErrGeneralFailure;
  }
  return kResultOk;
}

void AsciiResetFileInfoCache() {
  for (AsciiFileInfo* record = g_file_infos; record;) {
    AsciiFileInfo* next = record->next;
    FreeRecordLists(record);
    FreeRetired(record);
    mem::Release(record);
    record = next;
  }
  g_file_infos = nullptr;
}

uint32_t CreateFileName(const char* path, char* name, uint32_t size) {
  if (!path || !name || size == 0) return kErrIllegalArgument;
  name[0] = '\0';
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  if (error) return kErrNotEnoughMemory;
  // A name of our own in the system's temporary folder: time and a counter make it unique.
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  char unique[40];
  std::snprintf(unique, sizeof unique, "cfg%08x%04x.tmp", static_cast<uint32_t>(ticks),
                (g_temp_counter.fetch_add(1) + 1) & 0xFFFF);
  std::string candidate = (folder / unique).string();
  if (fio::Exist(candidate.c_str())) {
    // Only when that name is taken: the configuration file's name with the extension ".TMP",
    // next to it (the first "." of the file name, not of a folder, ends the stem).
    const uint32_t length = SafeStrLen(path);
    if (length == 0 || IsSeparator(path[length - 1])) {
      CFG_LOG("CreateFileName", kErrAsciiTempFile, "error creating temporary file %s", path);
      return kErrAsciiTempFile;
    }
    uint32_t name_start = 0;
    for (uint32_t i = 0; i < length; ++i) {
      if (IsSeparator(path[i]) || path[i] == ':') name_start = i + 1;
    }
    const char* dot = std::strchr(path + name_start, '.');
    const uint32_t stem = dot ? static_cast<uint32_t>(dot - path) : length;
    candidate.assign(path, stem);
    candidate += ".TMP";
    if (fio::Exist(candidate.c_str())) {
      CFG_LOG("CreateFileName", kErrAsciiTempFile, "error creating temporary file %s",
              candidate.c_str());
      return kErrAsciiTempFile;
    }
  }
  const uint32_t need = static_cast<uint32_t>(candidate.size()) + 1;
  if (need > kNameSize || need > size) {
    CFG_LOG("CreateFileName", kErrAsciiTempFile, "buffer overflow : need of %d bytes",
            static_cast<int>(need));
    return kErrAsciiTempFile;
  }
  SafeStrCopy(name, size, candidate.c_str());
  return kResultOk;
}

uint32_t RestoreFile(const char* path, const char* backup) {
  if (!path || !backup) return kErrIllegalArgument;
  const uint32_t result = fio::Copy(backup, path, 0);
  if (result != kResultOk) CFG_LOG("RestoreFile", result, "%s", MessageTextEn(result));
  return result;
}

uint32_t DelBackupFile(const char* backup) {
  if (!backup) return kErrIllegalArgument;
  const uint32_t result = fio::Delete(backup);
  if (result != kResultOk) CFG_LOG("DelBackupFile", result, "%s", MessageTextEn(result));
  return result;
}

uint32_t WriteDownBuffer(AsciiFile* file) {
  if (!file) return kErrIllegalArgument;
  if (file->access != kAsciiAccessReadWrite) {
    CFG_LOG("WriteDownBuffer", kErrAsciiWrite, "File %s is only open for reading !", file->path);
    return kErrAsciiWrite;
  }
  if (!file->complete) {
    // Lists that stop short of the file's end would cut the file off when written.
    CFG_LOG("WriteDownBuffer", kErrAsciiWrite, "File %s was not read to its end; not written",
            file->path);
    return kErrAsciiWrite;
  }
  char backup[kNameSize];
  uint32_t result = CreateFileName(file->path, backup, sizeof backup);
  if (result != kResultOk) return result;
  // The new content is written beside the file and takes its place only once it is whole, so
  // that neither a failure nor a crash can leave the file half written. The handle stays open
  // meanwhile and keeps other writers out.
  platform::FileSave save;
  if (!platform::FileSaveBegin(file->path, &save, file->file)) {
    CFG_LOG("WriteDownBuffer", kErrAsciiTempFile, "error opening file %s", file->path);
    return kErrAsciiTempFile;
  }
  if (!MakeBackup(file->path, backup)) {
    platform::FileSaveAbort(&save);
    return kErrAsciiTempFile;
  }
  std::unique_ptr<PieceWriter> writer(new (std::nothrow) PieceWriter{save.file, 0, true, {}});
  bool written = writer != nullptr;
  for (const AsciiLine* line = file->first_line; line && written; line = line->next) {
    written = (!line->text || Put(writer.get(), line->text, line->length)) &&
              Put(writer.get(), "\r\n", 2);
  }
  if (!written || !Flush(writer.get())) result = kErrAsciiTempFile;
  if (result != kResultOk) {
    platform::FileSaveAbort(&save);
  } else if (!platform::FileSaveCommit(&save)) {
    result = kErrAsciiTempFile;
  }
  if (result != kResultOk) {
    CFG_LOG("WriteDownBuffer", kErrAsciiTempFile, "error writing in file %s", file->path);
  }
  // The backup goes only once the file is whole: new content in place, old content untouched,
  // or (after a failure while writing in place) old content restored.
  if (!save.kept) {
    DelBackupFile(backup);
  } else if (RestoreFile(file->path, backup) == kResultOk) {
    DelBackupFile(backup);
    platform::PathDelete(save.temp);
  }
  file->modified = 0;
  return result;
}
