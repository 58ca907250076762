// SPDX-License-Identifier: BSD-3-Clause
// Named shared-memory segments. The platform mapping "m_" + name is 4 bytes longer than the
// payload: its first word holds the payload size (little-endian), written by the creator.
#include "ctapi/shared_segment.h"

#include "platform/error.h"
#include "platform/shared_memory.h"
#include "support/errlog.h"
#include "support/memory.h"
#include "support/result.h"
#include "support/strings.h"

namespace ctapi {
namespace {

constexpr char kModule[] = "SMEM";
constexpr uint32_t kHeaderSize = 4;
constexpr char kMappingPrefix[] = "m_";

// The segments this process was given, newest first. Entries live as long as the process.
struct SegmentEntry {
  char* name;
  uint8_t* payload;
  uint32_t size;
  SegmentEntry* next;
};

SegmentEntry* g_segments = nullptr;
uint32_t g_last_system_error = 0;

uint32_t Fail(int line, uint32_t code, const char* text) {
  ErrLogWrite(1, kModule, "GetMemInternal", line, code, text ? "%s" : nullptr, text);
  return code;
}

uint32_t ReadSizeWord(const uint8_t* view) {
  return static_cast<uint32_t>(view[0]) | (static_cast<uint32_t>(view[1]) << 8) |
         (static_cast<uint32_t>(view[2]) << 16) | (static_cast<uint32_t>(view[3]) << 24);
}

void WriteSizeWord(uint8_t* view, uint32_t size) {
  for (int i = 0; i < 4; ++i)
    view[i] = static_cast<uint8_t>(size >> (8 * i));
}

void FreeEntry(SegmentEntry* entry) {
  mem::Release(entry->name);
  mem::Release(entry);
}

}  // namespace

uint32_t GetMemInternal(const char* name, uint32_t size, void* own, void** out,
                        uint32_t* out_size) {
  if (!name) return Fail(__LINE__, kErrIllegalArgument, "pszSMEMName=NULL");
  if (!*name) return Fail(__LINE__, kErrIllegalArgument, "pszSMEMName is empty");
  if (!out) return Fail(__LINE__, kErrIllegalArgument, "ppSMEM=NULL");
  if (!out_size) return Fail(__LINE__, kErrIllegalArgument, "pulSMEMSize=NULL");
  if (own) return Fail(__LINE__, kErrIllegalArgument, "self provided pointers are not supported");

  for (SegmentEntry* entry = g_segments; entry; entry = entry->next) {
    if (SafeStrCompare(entry->name, name) == 0) {
      *out = entry->payload;
      *out_size = entry->size;
      return kResultOk;
    }
  }

  const uint32_t name_size = SafeStrLen(name) + 1;
  auto* entry = static_cast<SegmentEntry*>(mem::Allocate(sizeof(SegmentEntry)));
  char* name_copy = static_cast<char*>(mem::Allocate(name_size));
  const uint32_t mapping_name_size = name_size + sizeof kMappingPrefix;
  char* mapping_name = static_cast<char*>(mem::Allocate(mapping_name_size));
  if (!entry || !name_copy || !mapping_name) {
    mem::Release(entry);
    mem::Release(name_copy);
    mem::Release(mapping_name);
    return Fail(__LINE__, kErrNotEnoughMemory, nullptr);
  }
  entry->name = name_copy;
  SafeStrCopy(name_copy, name_size, name);
  SafeStrCopy(mapping_name, mapping_name_size, kMappingPrefix);
  SafeStrAppend(mapping_name, mapping_name_size, name);

  // Opening or creating, and writing the size word, are one step for every other process: an
  // opener never sees a new mapping without its size.
  if (!platform::MappingLock()) {
    uint32_t error = g_last_system_error = platform::LastSystemError();
    FreeEntry(entry);
    mem::Release(mapping_name);
    ErrLogWrite(1, kModule, "GetMemInternal", __LINE__, kErrNotEnoughMemory,
                "cannot lock the shared segments (err=0x%08X)", error);
    return kErrNotEnoughMemory;
  }
  platform::MappingHandle mapping = platform::kNoMapping;
  bool created = false;
  if (platform::MappingOpen(mapping_name, &mapping) != platform::MappingOpenResult::kOpened) {
    if (size == 0) {
      // Nobody has made this segment yet: an open-only request is answered with nothing.
      platform::MappingUnlock();
      FreeEntry(entry);
      mem::Release(mapping_name);
      *out = nullptr;
      *out_size = 0;
      return kResultOk;
    }
    if (size > 0xFFFFFFFFu - kHeaderSize ||
        !platform::MappingCreate(mapping_name, size + kHeaderSize, &mapping, &created)) {
      uint32_t error = g_last_system_error = platform::LastSystemError();
      platform::MappingUnlock();
      FreeEntry(entry);
      mem::Release(mapping_name);
      ErrLogWrite(1, kModule, "GetMemInternal", __LINE__, kErrNotEnoughMemory,
                  "cannot allocate memory (err=0x%08X)", error);
      return kErrNotEnoughMemory;
    }
  }
  mem::Release(mapping_name);

  auto* view = static_cast<uint8_t*>(platform::MappingMapView(mapping));
  if (!view) {
    uint32_t error = g_last_system_error = platform::LastSystemError();
    platform::MappingClose(mapping);
    platform::MappingUnlock();
    FreeEntry(entry);
    ErrLogWrite(1, kModule, "GetMemInternal", __LINE__, kErrNotEnoughMemory,
                "cannot map data (err=0x%08X)", error);
    return kErrNotEnoughMemory;
  }
  if (created) WriteSizeWord(view, size);
  entry->size = ReadSizeWord(view);
  platform::MappingUnlock();

  entry->payload = view + kHeaderSize;
  if (entry->size == 0) {
    // A creator that does not take the lock has not written its size yet: the segment is
    // answered as it is now and not remembered, so that the next request looks again.
    *out = entry->payload;
    *out_size = 0;
    FreeEntry(entry);
    return kResultOk;
  }
  entry->next = g_segments;
  g_segments = entry;
  *out = entry->payload;
  *out_size = entry->size;
  return kResultOk;
}

uint32_t GetMemLastSystemError() {
  return g_last_system_error;
}

uint32_t GetMem(const char* name, uint32_t size, void* own, void** out, uint32_t* out_size) {
  uint32_t result = GetMemInternal(name, size, own, out, out_size);
  if (result != kResultOk) ErrLogWrite(1, kModule, "GetMem", __LINE__, result, nullptr);
  return result;
}

}  // namespace ctapi
