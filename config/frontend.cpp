// SPDX-License-Identifier: BSD-3-Clause
// The configuration-file front end: opens ASCII and binary configuration files, answers values
// and name lists, makes changes and writes them back. ASCII files are served either by our own
// line lists (config/ascii.h) or, in profile mode, by the private-profile service
// (config/profile.h); binary files by config/binary.h.
#include "config/frontend.h"

#include "config/messages.h"
#include "config/profile.h"
#include "support/errlog.h"
#include "support/memory.h"
#include "support/result.h"
#include "support/semaphore.h"
#include "support/strings.h"

namespace cfg {
namespace {

constexpr char kModule[] = "CFG";

#define CFG_LOG(function, code, ...) ErrLogWrite(1, kModule, function, __LINE__, code, __VA_ARGS__)

// Temporary buffers of the profile mode: the first sizes tried for a value, for a list and for
// the list of sections, and the size beyond which no buffer is tried.
constexpr uint32_t kValueProbeSize = 1024;
constexpr uint32_t kListProbeSize = 65280;
constexpr uint32_t kSectionProbeSize = 1024;
constexpr uint32_t kProbeLimit = 4194304;

struct Switches {
  uint32_t sorted_lists;
  uint32_t profile_mode;
  uint32_t file_info_cache;
};

Switches g_switches{};

bool IsBinaryType(uint32_t type) {
  return (type & ~kTypeReadOnlyBit) == kTypeBinary;
}

bool IsAsciiType(uint32_t type) {
  return (type & ~kTypeReadOnlyBit) == kTypeAscii;
}

CfgHandle* NewHandle(const char* path, uint32_t type, uint16_t access) {
  CfgHandle* handle = static_cast<CfgHandle*>(mem::Allocate(sizeof(CfgHandle)));
  if (!handle) return nullptr;
  handle->file = fio::kNoHandle;
  handle->type = type & ~kTypeReadOnlyBit;
  handle->sorted_lists = g_switches.sorted_lists;
  handle->profile_mode = g_switches.profile_mode;
  handle->file_info_cache = g_switches.file_info_cache;
  AsciiInitFile(&handle->ascii, path, access);
  return handle;
}

uint32_t NoMemory(const char* function) {
  CFG_LOG(function, kErrNotEnoughMemory, "%s", MessageTextEn(kErrNotEnoughMemory));
  return kErrNotEnoughMemory;
}

// A binary file whose header carries the ASCII type code: an ASCII handle without lines.
bool IsForeignAscii(const CfgHandle* handle) {
  return handle->type == kTypeAscii && handle->file != fio::kNoHandle;
}

// --- Opening -------------------------------------------------------------------------------

uint32_t OpenBinary(const char* path, uint32_t* type, uint32_t* open_result, CfgHandle** handle) {
  const bool read_only = (*type & kTypeReadOnlyBit) != 0;
  const uint16_t access = read_only ? kAsciiAccessRead : kAsciiAccessReadWrite;
  fio::Handle file = fio::kNoHandle;
  // An existing file only: a missing one is created below with its header.
  const uint16_t mode = read_only ? fio::kModeRead : fio::kModeAppend;
  if (fio::Open(path, &file, mode, fio::kShareAll) == kResultOk) {
    uint32_t header_type = 0;
    if (BinCheckHeader(file, &header_type) != kResultOk) {
      fio::Close(file);
      CFG_LOG("OpenFile", kErrInvalidFile, "%s", MessageTextEn(kErrInvalidFile));
      return kErrInvalidFile;
    }
    CfgHandle* opened = NewHandle(path, header_type, access);
    if (!opened) {
      fio::Close(file);
      return NoMemory("OpenFile");
    }
    opened->file = file;
    *type = header_type | (read_only ? kTypeReadOnlyBit : 0);
    *open_result = read_only ? kOpenReadOnly : kOpenReadWrite;
    *handle = opened;
    return kResultOk;
  }
  if (fio::Open(path, &file, fio::kModeCreateNew, fio::kShareAll) != kResultOk) {
    CFG_LOG("OpenFile", kErrOpenFile, "error in create File %s", path);
    return kErrOpenFile;
  }
  uint32_t written = 0;
  const uint32_t result = BinCreateHeader(file, &written);
  if (result != kResultOk || written < kBinHeaderSize) {
    CFG_LOG("OpenFile", result != kResultOk ? result : kErrWrite,
            "error while writing to File (iWrite: %d)", static_cast<int>(written));
    fio::Close(file);
    return kErrWrite;
  }
  // A new file is open for reading and writing whatever access was asked for.
  CfgHandle* created = NewHandle(path, kTypeBinary, kAsciiAccessReadWrite);
  if (!created) {
    fio::Close(file);
    return NoMemory("OpenFile");
  }
  created->file = file;
  *open_result = kOpenCreated;
  *handle = created;
  return kResultOk;
}

uint32_t ReleaseFileInfoLock(const char* function) {
  if (sem::Clear(AsciiFileInfoSem()) != kResultOk) {
    CFG_LOG(function, kErrSemaphore, "error clear the semaphore %s", kAsciiFileInfoSemName);
    return kErrSemaphore;
  }
  return kResultOk;
}

// Gives up a handle whose open failed after its file was opened.
void DiscardAsciiHandle(CfgHandle* handle) {
  if (handle->ascii.file != fio::kNoHandle) fio::Close(handle->ascii.file);
  mem::Release(handle);
}

// With the cache: the lock is held and the file's record counts this open. Ends the open with
// the lock released; a failure gives the handle up (the parsed lists stay in the cache).
uint32_t FinishCachedOpen(CfgHandle* opened, CfgHandle** handle) {
  if (ReleaseFileInfoLock("OpenFile") != kResultOk) {
    DiscardAsciiHandle(opened);
    return kErrSemaphore;
  }
  *handle = opened;
  return kResultOk;
}

uint32_t OpenAscii(const char* path, uint32_t type, uint32_t* open_result, CfgHandle** handle) {
  const bool read_only = (type & kTypeReadOnlyBit) != 0;
  const uint16_t access = read_only ? kAsciiAccessRead : kAsciiAccessReadWrite;
  // For reading and writing the file layer creates a missing file; others may only read it.
  fio::Handle file = fio::kNoHandle;
  if (fio::Open(path, &file, read_only ? fio::kModeRead : fio::kModeReadWrite,
                read_only ? fio::kShareAll : fio::kShareRead) != kResultOk) {
    CFG_LOG("OpenFile", kErrOpenFile, "error opening consisting file %s", path);
    return kErrOpenFile;
  }
  CfgHandle* opened = NewHandle(path, type, access);
  if (!opened) {
    fio::Close(file);
    return NoMemory("OpenFile");
  }
  opened->ascii.file = file;
  *open_result = read_only ? kOpenReadOnly : kOpenReadWrite;

  if (opened->profile_mode) {
    // Every later access goes through the profile service by path.
    fio::Close(file);
    opened->ascii.file = fio::kNoHandle;
    *handle = opened;
    return kResultOk;
  }

  AsciiFileInfo* record = nullptr;
  if (opened->file_info_cache) {
    if (sem::WaitSet(AsciiFileInfoSem()) != kResultOk) {
      CFG_LOG("OpenFile", kErrSemaphore, "error set the semaphore %s", kAsciiFileInfoSemName);
      DiscardAsciiHandle(opened);
      return kErrSemaphore;
    }
    const uint32_t result = AsciiCheckFileInfo(path, &record, access);
    if (result != kResultOk) {
      DiscardAsciiHandle(opened);
      ReleaseFileInfoLock("OpenFile");
      return result;
    }
    if (record->parsed) {
      AsciiTakeCachedLists(&opened->ascii, record);
      return FinishCachedOpen(opened, handle);
    }
  }

  const uint32_t result = AsciiReadFile(&opened->ascii);
  if (result != kResultOk) {
    AsciiFreeLists(&opened->ascii);
    if (opened->file_info_cache) {
      ReleaseFileInfoLock("OpenFile");
      // Take this open back from the file's record; as a reader it leaves no lists there.
      opened->ascii.access = kAsciiAccessRead;
      AsciiCheckFileInfo(&opened->ascii);
    }
    DiscardAsciiHandle(opened);
    CFG_LOG("OpenFile", result, "%s", MessageTextEn(result));
    return result;
  }
  if (opened->file_info_cache) {
    AsciiStoreCachedLists(record, &opened->ascii);
    return FinishCachedOpen(opened, handle);
  }
  *handle = opened;
  return kResultOk;
}

// --- Name lists ----------------------------------------------------------------------------

// A list of names into the caller's buffer. `needed` counts every name with its terminator
// and the list's final terminator, also those that did not fit.
struct NameList {
  char* buffer;
  uint32_t size;
  uint32_t used;
  uint32_t needed;
  bool too_small;
};

bool Fits(const NameList& list, uint32_t bytes) {
  return bytes <= list.size - list.used;
}

void CopyName(NameList* list, const char* name, uint32_t length) {
  SafeMemCopy(list->buffer + list->used, list->size - list->used, name, length);
  list->used += length;
  list->buffer[list->used++] = '\0';
}

// Our own lists stop copying at the first name that does not fit.
void AddListName(NameList* list, const char* name, uint32_t length) {
  list->needed += length + 1;
  if (list->too_small) return;
  if (!Fits(*list, length + 1)) {
    list->too_small = true;
    return;
  }
  CopyName(list, name, length);
}

// Our own lists: the length counts the names with their terminators; a list that does not fit
// (its final terminator included) answers the size it needs.
uint32_t FinishListNames(NameList* list, uint32_t* length) {
  list->needed += 1;
  if (list->too_small || !Fits(*list, 1)) {
    *length = list->needed;
    return kErrBufferTooSmall;
  }
  list->buffer[list->used] = '\0';
  *length = list->used;
  return kResultOk;
}

// Binary files pass over a name that does not fit and go on with the next.
void AddBinaryName(NameList* list, const char* name) {
  const uint32_t length = SafeStrLen(name);
  if (!Fits(*list, length + 1)) {
    list->too_small = true;
    return;
  }
  CopyName(list, name, length);
}

// Binary files: the length counts the bytes copied and the final terminator. A list without
// room for its final terminator is no complete answer.
uint32_t FinishBinaryNames(NameList* list, uint32_t* length) {
  if (Fits(*list, 1)) {
    list->buffer[list->used] = '\0';
  } else {
    list->too_small = true;
  }
  *length = list->used + 1;
  return list->too_small ? kErrBufferTooSmall : kResultOk;
}

// --- Binary files --------------------------------------------------------------------------

// The failure that ended a walk, or 0 when it reached the end of the chain.
uint32_t WalkFailure(uint32_t status) {
  return status == kErrBinEndOfFile ? kResultOk : status;
}

uint32_t FindBinarySection(CfgHandle* handle, const char* section) {
  BinSectionRecord record;
  if (BinFindSection(handle->file, &handle->binary, section, &record)) return kResultOk;
  const uint32_t failure = WalkFailure(handle->binary.section_status);
  return failure != kResultOk ? failure : kErrSectionNotFound;
}

uint32_t QueryBinary(CfgHandle* handle, const char* section, const char* entry, char* buffer,
                     uint32_t* length) {
  NameList list{buffer, *length, 0, 0, false};
  if (!section) {
    BinSectionRecord record;
    for (uint32_t more = BinSearchSection(handle->file, &handle->binary, kBinFirst, &record); more;
         more = BinSearchSection(handle->file, &handle->binary, kBinNext, &record)) {
      AddBinaryName(&list, record.name);
    }
    const uint32_t failure = WalkFailure(handle->binary.section_status);
    if (failure != kResultOk) return failure;
    return FinishBinaryNames(&list, length);
  }
  uint32_t result = FindBinarySection(handle, section);
  if (result != kResultOk) return result;
  BinEntryRecord record;
  if (entry) {
    if (!BinFindEntry(handle->file, &handle->binary, entry, &record)) {
      const uint32_t failure = WalkFailure(handle->binary.entry_status);
      return failure != kResultOk ? failure : kErrEntryNotFound;
    }
    return BinReadEntryValue(handle->file, &record, buffer, length);
  }
  for (uint32_t more = BinSearchEntry(handle->file, &handle->binary, kBinFirst, &record); more;
       more = BinSearchEntry(handle->file, &handle->binary, kBinNext, &record)) {
    AddBinaryName(&list, record.name);
  }
  result = WalkFailure(handle->binary.entry_status);
  if (result != kResultOk) return result;
  return FinishBinaryNames(&list, length);
}

uint32_t WriteBinary(CfgHandle* handle, const char* section, const char* entry, const char* value,
                     uint32_t length) {
  fio::Handle file = handle->file;
  BinCursor* cursor = &handle->binary;
  if (!entry) return BinDeleteSection(file, cursor, section);
  const uint32_t found = FindBinarySection(handle, section);
  if (found == kErrSectionNotFound) {
    return value ? BinAddSection(file, cursor, section, entry, value, length) : kErrSectionNotFound;
  }
  if (found != kResultOk) return found;
  if (!value) return BinDeleteEntry(file, cursor, entry);
  BinEntryRecord record;
  if (BinFindEntry(file, cursor, entry, &record)) {
    return BinUpdateEntry(file, cursor, value, length);
  }
  const uint32_t failure = WalkFailure(cursor->entry_status);
  if (failure != kResultOk) return failure;
  return BinAddEntry(file, cursor, entry, value, length);
}

// --- ASCII files, profile mode -------------------------------------------------------------

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Section names are compared as the profile service compares them: letter case does not count,
// blanks at the ends of the asked name do not either.
bool SameSectionName(const char* listed, const char* asked) {
  while (IsBlank(*asked))
    ++asked;
  uint32_t asked_length = SafeStrLen(asked);
  while (asked_length > 0 && IsBlank(asked[asked_length - 1]))
    --asked_length;
  if (SafeStrLen(listed) != asked_length) return false;
  for (uint32_t i = 0; i < asked_length; ++i) {
    if (LowerAscii(listed[i]) != LowerAscii(asked[i])) return false;
  }
  return true;
}

char* TempBuffer(uint32_t size) {
  char* buffer = static_cast<char*>(mem::Allocate(size));
  if (!buffer) {
    CFG_LOG("QueryData", kErrNotEnoughMemory, "Temp. Buffer couldn't be allocated");
  }
  return buffer;
}

// Whether the file has the section: reads the list of all section names into a buffer that
// grows until the list fits.
uint32_t HasSection(const char* path, const char* section, bool* present) {
  *present = false;
  for (uint32_t size = kSectionProbeSize;; size *= 2) {
    char* names = TempBuffer(size);
    if (!names) return kErrNotEnoughMemory;
    const uint32_t delivered = ProfileGetString(nullptr, nullptr, "", names, size, path);
    if (delivered + 2 < size) {
      for (const char* name = names; *name; name += SafeStrLen(name) + 1) {
        if (SameSectionName(name, section)) *present = true;
      }
      mem::Release(names);
      return kResultOk;
    }
    mem::Release(names);
    if (size >= kProbeLimit) {
      CFG_LOG("QueryData", kErrSemaphore, "Can't allocate temp. buffer");
      return kErrSemaphore;
    }
  }
}

// The service delivered nothing: tells an empty list from a missing section or entry.
uint32_t AnswerNothing(const char* path, const char* section, const char* entry, char* buffer,
                       uint32_t* length) {
  if (section) {
    bool present = false;
    const uint32_t result = HasSection(path, section, &present);
    if (result != kResultOk) return result;
    if (!present) return kErrSectionNotFound;
    if (entry) return kErrEntryNotFound;
  }
  // An empty list: its final terminator alone.
  if (*length < 1) {
    *length = 1;
    return kErrBufferTooSmall;
  }
  buffer[0] = '\0';
  *length = 1;
  return kResultOk;
}

uint32_t QueryProfile(CfgHandle* handle, const char* section, const char* entry, char* buffer,
                      uint32_t* length) {
  const char* path = handle->ascii.path;
  const bool list = !section || !entry;
  // A value fits when one byte remains beyond it and its terminator, a list when two do: the
  // service answers size - 1 (size - 2) both for a cut value (list) and for an exact fit.
  const uint32_t reserve = list ? 2 : 1;
  const uint32_t size = *length;
  const uint32_t delivered = ProfileGetString(section, entry, "", buffer, size, path);
  if (delivered > 0 && delivered + reserve < size) {
    *length = delivered + reserve + 1;
    return kResultOk;
  }
  // Nothing delivered into a buffer large enough to hold something: nothing is there.
  if (delivered == 0 && size > reserve) {
    return AnswerNothing(path, section, entry, buffer, length);
  }
  // The buffer was too small (or too small to tell): find the size needed.
  uint32_t needed = 0;
  for (uint32_t probe = list ? kListProbeSize : kValueProbeSize;; probe *= 2) {
    char* temp = TempBuffer(probe);
    if (!temp) return kErrBufferTooSmall;
    needed = ProfileGetString(section, entry, "", temp, probe, path);
    mem::Release(temp);
    if (needed + reserve < probe) break;
    if (probe >= kProbeLimit) {
      CFG_LOG("QueryData", kErrSemaphore, "Can't allocate temp. buffer");
      return kErrBufferTooSmall;
    }
  }
  if (needed == 0) return AnswerNothing(path, section, entry, buffer, length);
  *length = needed + 3;
  return kErrBufferTooSmall;
}

// --- ASCII files, own lists ----------------------------------------------------------------

// Finds the entry line of a section; with sorted lists through the section's index, whose
// position (of the match, or where a missing name goes) comes back in *position.
uint32_t FindAsciiEntry(CfgHandle* handle, AsciiSection* section, const char* entry,
                        AsciiLine** line, uint32_t* position) {
  *position = 0;
  if (handle->sorted_lists) return AsciiFindSortedEntry(section, entry, line, position);
  return AsciiFindEntry(&handle->ascii, entry, section, line);
}

uint32_t QueryLists(CfgHandle* handle, const char* section, const char* entry, char* buffer,
                    uint32_t* length) {
  AsciiFile* file = &handle->ascii;
  NameList list{buffer, *length, 0, 0, false};
  if (!section) {
    for (const AsciiSection* node = file->first_section; node; node = node->next) {
      uint32_t name_length = 0;
      const char* name = AsciiSectionName(node, &name_length);
      AddListName(&list, name, name_length);
    }
    return FinishListNames(&list, length);
  }
  AsciiSection* found = nullptr;
  AsciiSection* following = nullptr;
  uint32_t result = AsciiFindSection(file, section, &found, &following);
  if (result != kResultOk) return result;
  if (!entry) {
    const AsciiLine* end = found->next ? found->next->header : nullptr;
    for (const AsciiLine* line = found->header->next; line && line != end; line = line->next) {
      uint32_t name_length = 0;
      const char* name = AsciiEntryName(line, &name_length);
      if (name) AddListName(&list, name, name_length);
    }
    return FinishListNames(&list, length);
  }
  AsciiLine* line = nullptr;
  uint32_t position = 0;
  result = FindAsciiEntry(handle, found, entry, &line, &position);
  if (result != kResultOk) return result;
  const char* value = AsciiEntryValue(line);
  const uint32_t needed = SafeStrLen(value) + 1;
  if (needed > *length) {
    *length = needed;
    return kErrBufferTooSmall;
  }
  SafeStrCopy(buffer, *length, value);
  *length = needed;
  return kResultOk;
}

// The value's text: at most `length` bytes, up to its terminator.
uint32_t ValueLength(const char* value, uint32_t length) {
  uint32_t count = 0;
  while (count < length && value[count])
    ++count;
  return count;
}

uint32_t SetAsciiValue(CfgHandle* handle, const char* section, const char* entry, const char* value,
                       uint32_t length) {
  AsciiFile* file = &handle->ascii;
  const uint32_t value_length = ValueLength(value, length);
  AsciiSection* found = nullptr;
  AsciiSection* following = nullptr;
  uint32_t result = AsciiFindSection(file, section, &found, &following);
  AsciiLine* line = nullptr;
  if (result == kErrSectionNotFound) {
    // A new section goes to the end of the file: its header line, then its first entry.
    AsciiLine* header = nullptr;
    AsciiSection* added = nullptr;
    result = AsciiInsertEntry(file, nullptr, 0, section, found, &header, kAsciiInsertSectionLine);
    if (result == kResultOk) {
      result = AsciiInsertSection(file, 1, SafeStrLen(section), found, &added, header);
    }
    if (result == kResultOk) {
      result =
          AsciiInsertEntry(file, value, value_length, entry, added, &line, kAsciiInsertEntryLine);
    }
    if (result == kResultOk && handle->sorted_lists) result = AsciiInsertSortList(added, 0, line);
    return result;
  }
  if (result != kResultOk) return result;
  uint32_t position = 0;
  result = FindAsciiEntry(handle, found, entry, &line, &position);
  if (result == kResultOk) return AsciiAlterEntry(file, value, value_length, line);
  if (result != kErrEntryNotFound) return result;
  result = AsciiInsertEntry(file, value, value_length, entry, found, &line, kAsciiInsertEntryLine);
  if (result == kResultOk && handle->sorted_lists) {
    result = AsciiInsertSortList(found, position, line);
  }
  return result;
}

uint32_t DeleteAsciiEntry(CfgHandle* handle, const char* section, const char* entry) {
  AsciiFile* file = &handle->ascii;
  AsciiSection* found = nullptr;
  AsciiSection* following = nullptr;
  uint32_t result = AsciiFindSection(file, section, &found, &following);
  if (result != kResultOk) return result;
  AsciiLine* line = nullptr;
  uint32_t position = 0;
  result = FindAsciiEntry(handle, found, entry, &line, &position);
  if (result != kResultOk) return result;
  AsciiDelEntry(file, line, found);
  if (handle->sorted_lists) AsciiDelSortList(found, position);
  return kResultOk;
}

uint32_t DeleteAsciiSection(CfgHandle* handle, const char* section) {
  AsciiSection* found = nullptr;
  AsciiSection* following = nullptr;
  const uint32_t result = AsciiFindSection(&handle->ascii, section, &found, &following);
  if (result != kResultOk) return result;
  return AsciiDelSection(&handle->ascii, found);
}

uint32_t WriteLists(CfgHandle* handle, const char* section, const char* entry, const char* value,
                    uint32_t length) {
  uint32_t result;
  if (entry && value) {
    result = SetAsciiValue(handle, section, entry, value, length);
  } else if (entry) {
    result = DeleteAsciiEntry(handle, section, entry);
  } else {
    result = DeleteAsciiSection(handle, section);
  }
  if (result == kResultOk) handle->ascii.modified = 1;
  return result;
}

}  // namespace

uint32_t Init(uint32_t sorted_lists, uint32_t profile_mode, uint32_t file_info_cache) {
  g_switches = Switches{sorted_lists ? 1u : 0u, profile_mode ? 1u : 0u, file_info_cache ? 1u : 0u};
  // The lock is made once per process; a later Init keeps it.
  if (g_switches.file_info_cache && AsciiFileInfoSem()->kind != sem::kKindLock) {
    if (sem::Init(kAsciiFileInfoSemName, 0, 1, AsciiFileInfoSem()) != kResultOk) {
      AsciiFileInfoSem()->kind = 0;
      CFG_LOG("Init", kErrSemaphore, "error initializing semaphore %s", kAsciiFileInfoSemName);
      return kErrSemaphore;
    }
  }
  return kResultOk;
}

uint32_t OpenFile(const char* path, uint32_t* type, uint32_t* open_result, CfgHandle** handle) {
  uint32_t result = kResultOk;
  if (!path) {
    result = kErrNoHandle;
  } else if (!type || (!IsBinaryType(*type) && !IsAsciiType(*type))) {
    result = kErrNoSection;
  } else if (!open_result) {
    result = kErrNoOpenResult;
  } else if (!handle) {
    result = kErrNoBuffer;
  }
  if (result != kResultOk) {
    CFG_LOG("OpenFile", result, "%s", MessageTextEn(result));
    return result;
  }
  *handle = nullptr;
  if (IsBinaryType(*type)) return OpenBinary(path, type, open_result, handle);
  return OpenAscii(path, *type, open_result, handle);
}

uint32_t QueryData(CfgHandle* handle, const char* section, const char* entry, char* buffer,
                   uint32_t* length) {
  uint32_t result = kResultOk;
  if (!handle) {
    result = kErrNoHandle;
  } else if (!buffer) {
    result = kErrNoBuffer;
  } else if (!length) {
    result = kErrNoLength;
  }
  if (result != kResultOk) {
    CFG_LOG("QueryData", result, "%s", MessageTextEn(result));
    return result;
  }
  if (handle->type == kTypeBinary) return QueryBinary(handle, section, entry, buffer, length);
  if (handle->profile_mode && !IsForeignAscii(handle)) {
    return QueryProfile(handle, section, entry, buffer, length);
  }
  return QueryLists(handle, section, entry, buffer, length);
}

uint32_t WriteData(CfgHandle* handle, const char* section, const char* entry, const char* value,
                   uint32_t length) {
  uint32_t result = kResultOk;
  if (!handle) {
    result = kErrNoHandle;
  } else if (!section) {
    result = kErrNoSection;
  }
  if (result != kResultOk) {
    CFG_LOG("WriteData", result, "%s", MessageTextEn(result));
    return result;
  }
  // No kind of file, and no mode, changes a file through a handle opened for reading.
  if (handle->ascii.access != kAsciiAccessReadWrite || IsForeignAscii(handle)) {
    CFG_LOG("WriteData", kErrWrite, "File %s is only open for reading !", handle->ascii.path);
    return kErrWrite;
  }
  if (handle->type == kTypeBinary) return WriteBinary(handle, section, entry, value, length);
  if (handle->profile_mode) {
    if (!ProfileWriteString(section, entry, value, handle->ascii.path)) {
      CFG_LOG("WriteData", kErrWrite, "WritePrivateProfileString Error: %s",
              mem::SysErrText(ProfileLastError()));
      return kErrWrite;
    }
    return kResultOk;
  }
  return WriteLists(handle, section, entry, value, length);
}

uint32_t CloseFile(CfgHandle* handle) {
  if (!handle) {
    CFG_LOG("CloseFile", kErrNoHandle, "%s", MessageTextEn(kErrNoHandle));
    return kErrNoHandle;
  }
  if (handle->type == kTypeBinary || IsForeignAscii(handle)) {
    fio::Close(handle->file);
    mem::Release(handle);
    return kResultOk;
  }
  if (handle->profile_mode) {
    mem::Release(handle);
    return kResultOk;
  }
  AsciiFile* file = &handle->ascii;
  // A write-back that is refused is reported once: the handle and its lock are released all
  // the same, and the file stays as it was.
  uint32_t result = kResultOk;
  if (file->modified) {
    result = WriteDownBuffer(file);
    file->modified = 0;
  }
  if (file->file != fio::kNoHandle) fio::Close(file->file);
  file->file = fio::kNoHandle;
  if (handle->file_info_cache) {
    // The lists stay in the cache for later handles of the same file, unless they hold changes
    // that did not reach the disk.
    const uint32_t closed =
        result == kResultOk ? AsciiCheckFileInfo(file) : AsciiDropFileInfo(file);
    if (result == kResultOk) result = closed;
  } else {
    AsciiFreeLists(file);
  }
  mem::Release(handle);
  return result;
}

}  // namespace cfg
