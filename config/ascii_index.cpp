// SPDX-License-Identifier: BSD-3-Clause
// ASCII configuration files: the sorted index of a section's entry lines, its binary search,
// building on first use, insertion and removal, and the wildcard search over it.
#include <cstring>

#include "config/ascii.h"
#include "config/messages.h"
#include "support/errlog.h"
#include "support/memory.h"
#include "support/result.h"
#include "support/strings.h"

namespace {

constexpr char kModule[] = "CFG";

#define CFG_LOG(function, code, ...) ErrLogWrite(1, kModule, function, __LINE__, code, __VA_ARGS__)

// Compares `name` with the indexed line at `position`; in prefix mode a name that is a leading
// part of the indexed name counts as equal.
int CompareAt(const AsciiSection* section, uint32_t position, const char* name,
              uint32_t name_length, uint32_t prefix_mode) {
  uint32_t entry_length = 0;
  const char* entry = AsciiEntryName(section->index[position], &entry_length);
  if (!entry) entry = "";
  if (prefix_mode && entry_length >= name_length && std::memcmp(entry, name, name_length) == 0) {
    return 0;
  }
  return AsciiCompareNames(name, name_length, entry, entry_length);
}

}  // namespace

int AsciiCompareNames(const char* a, uint32_t a_length, const char* b, uint32_t b_length) {
  const uint32_t shorter = a_length < b_length ? a_length : b_length;
  for (uint32_t i = 0; i < shorter; ++i) {
    const uint8_t x = static_cast<uint8_t>(a[i]);
    const uint8_t y = static_cast<uint8_t>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a_length == b_length) return 0;
  return a_length < b_length ? -1 : 1;
}

uint32_t AsciiSearchSortList(const AsciiSection* section, const char* name, uint32_t name_length,
                             uint32_t prefix_mode, uint32_t find_first, uint32_t* position) {
  if (!section || !name || !position) return 0;
  *position = 0;
  if (!section->index) return 0;
  // Half-open range [low, high): `low` ends as the insertion point of a missing name.
  uint32_t low = 0;
  uint32_t high = section->index_count;
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    const int order = CompareAt(section, middle, name, name_length, prefix_mode);
    if (order == 0) {
      uint32_t match = middle;
      while (find_first && match > 0 &&
             CompareAt(section, match - 1, name, name_length, prefix_mode) == 0) {
        --match;
      }
      *position = match;
      return 1;
    }
    if (order < 0) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  *position = low;
  return 0;
}

uint32_t AsciiInsertSortList(AsciiSection* section, uint32_t position, AsciiLine* line) {
  if (!section || !line) return kErrIllegalArgument;
  if (!section->index) {
    section->index = static_cast<AsciiLine**>(mem::Allocate(kAsciiIndexStep * sizeof(AsciiLine*)));
    if (!section->index) {
      CFG_LOG("AsciiInsertSortList", kErrNotEnoughMemory, "%s", MessageTextEn(kErrNotEnoughMemory));
      return kErrNotEnoughMemory;
    }
    section->index_count = 0;
    section->index_capacity = kAsciiIndexStep;
  }
  if (position > section->index_count) return kErrIllegalArgument;
  if (section->index_count % kAsciiIndexStep == kAsciiIndexStep - 1 ||
      section->index_count + 1 > section->index_capacity) {
    const uint32_t capacity = section->index_capacity + kAsciiIndexStep;
    AsciiLine** grown = static_cast<AsciiLine**>(
        mem::Reallocate(section->index, static_cast<size_t>(capacity) * sizeof(AsciiLine*)));
    if (!grown) {
      CFG_LOG("AsciiInsertSortList", kErrNotEnoughMemory, "%s", MessageTextEn(kErrNotEnoughMemory));
      return kErrNotEnoughMemory;
    }
    section->index = grown;
    section->index_capacity = capacity;
  }
  std::memmove(section->index + position + 1, section->index + position,
               (section->index_count - position) * sizeof(AsciiLine*));
  section->index[position] = line;
  ++section->index_count;
  return kResultOk;
}

uint32_t AsciiDelSortList(AsciiSection* section, uint32_t position) {
  if (!section || !section->index || position >= section->index_count) {
    return kErrIllegalArgument;
  }
  std::memmove(section->index + position, section->index + position + 1,
               (section->index_count - position - 1) * sizeof(AsciiLine*));
  --section->index_count;
  section->index[section->index_count] = nullptr;
  return kResultOk;
}

uint32_t AsciiBuildSortList(AsciiSection* section) {
  if (!section || !section->header) return kErrIllegalArgument;
  if (!section->index) {
    section->index = static_cast<AsciiLine**>(mem::Allocate(kAsciiIndexStep * sizeof(AsciiLine*)));
    if (!section->index) {
      CFG_LOG("AsciiBuildSortList", kErrNotEnoughMemory, "%s", MessageTextEn(kErrNotEnoughMemory));
      return kErrNotEnoughMemory;
    }
    section->index_capacity = kAsciiIndexStep;
  }
  section->index_count = 0;
  section->index_cursor = 0;
  const AsciiLine* end = section->next ? section->next->header : nullptr;
  for (AsciiLine* line = section->header->next; line && line != end; line = line->next) {
    uint32_t length = 0;
    const char* name = AsciiEntryName(line, &length);
    if (!name) continue;
    uint32_t position = 0;
    // Only the first line of a name in file order is indexed, so that it is the one found.
    if (AsciiSearchSortList(section, name, length, 0, 0, &position)) continue;
    const uint32_t result = AsciiInsertSortList(section, position, line);
    if (result != kResultOk) {
      mem::Release(section->index);
      section->index = nullptr;
      section->index_count = 0;
      section->index_capacity = 0;
      return result;
    }
  }
  return kResultOk;
}

uint32_t AsciiFindSortedEntry(AsciiSection* section, const char* name, AsciiLine** line,
                              uint32_t* position) {
  if (!section || !name || !line || !position) return kErrIllegalArgument;
  *line = nullptr;
  *position = 0;
  if (!section->index) {
    const uint32_t result = AsciiBuildSortList(section);
    if (result != kResultOk) return result;
  }
  if (section->index_count == 0) return kErrAsciiEntryNotFound;
  if (!AsciiSearchSortList(section, name, SafeStrLen(name), 0, 1, position)) {
    return kErrAsciiEntryNotFound;
  }
  *line = section->index[*position];
  return kResultOk;
}

uint32_t AsciiWildcardSearch(AsciiSection* section, const char* name, uint32_t mode,
                             AsciiLine** line) {
  if (!section || !name || !line) return kErrIllegalArgument;
  *line = nullptr;
  if (!section->index) {
    const uint32_t result = AsciiBuildSortList(section);
    if (result != kResultOk) return result;
  }
  const uint32_t length = SafeStrLen(name);
  uint32_t position = 0;
  bool found = false;
  if (length == 1 && name[0] == '*') {
    if (mode == kAsciiWildcardFirst) {
      position = 0;
    } else if (mode == kAsciiWildcardNext) {
      position = section->index_cursor + 1;
    } else {
      return kErrIllegalArgument;
    }
    found = position < section->index_count;
  } else if (length > 0 && name[length - 1] == '*') {
    found = AsciiSearchSortList(section, name, length - 1, 1, 1, &position) != 0;
  } else {
    found = AsciiSearchSortList(section, name, length, 0, 1, &position) != 0;
  }
  if (!found) return kErrAsciiEntryNotFound;
  section->index_cursor = position;
  *line = section->index[position];
  return kResultOk;
}
