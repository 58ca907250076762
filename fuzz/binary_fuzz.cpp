// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target for binary configuration files: the input is the whole file. Every walk, lookup,
// value read and change runs over it once; none may hang or touch memory outside a block.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/binary.h"
#include "tests/common/test_util.h"

namespace {

const std::string& FilePath() {
  static testutil::TempDir dir;
  static const std::string path = dir.File("fuzz.cfg");
  return path;
}

void WalkEverything(fio::Handle file, BinCursor* cursor) {
  BinSectionRecord section;
  for (uint32_t s = BinSearchSection(file, cursor, kBinFirst, &section); s;
       s = BinSearchSection(file, cursor, kBinNext, &section)) {
    BinEntryRecord entry;
    for (uint32_t e = BinSearchEntry(file, cursor, kBinFirst, &entry); e;
         e = BinSearchEntry(file, cursor, kBinNext, &entry)) {
      char value[256];
      uint32_t length = sizeof value;
      BinReadEntryValue(file, &entry, value, &length);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  testutil::WriteFile(FilePath(), std::string(reinterpret_cast<const char*>(data), size));
  fio::Handle file = fio::kNoHandle;
  if (fio::Open(FilePath().c_str(), &file, fio::kModeReadWrite, fio::kShareAll) != 0) return 0;
  uint32_t type = 0;
  BinCheckHeader(file, &type);
  BinCursor cursor{};
  WalkEverything(file, &cursor);
  BinSectionRecord first;
  if (BinSearchSection(file, &cursor, kBinFirst, &first)) {
    BinEntryRecord entry;
    if (BinSearchEntry(file, &cursor, kBinFirst, &entry)) {
      BinUpdateEntry(file, &cursor, "a longer value than before", 27);
    }
    BinFindSection(file, &cursor, first.name, nullptr);
    if (!BinFindEntry(file, &cursor, "fuzz-entry", nullptr)) {
      BinAddEntry(file, &cursor, "fuzz-entry", "v", 2);
    }
    BinFindSection(file, &cursor, first.name, nullptr);
    if (BinSearchEntry(file, &cursor, kBinFirst, &entry)) {
      BinDeleteEntry(file, &cursor, entry.name);
    }
  }
  if (!BinFindSection(file, &cursor, "fuzz-section", nullptr)) {
    BinAddSection(file, &cursor, "fuzz-section", "e", "v", 2);
  }
  if (BinSearchSection(file, &cursor, kBinFirst, &first)) {
    BinDeleteSection(file, &cursor, first.name);
  }
  WalkEverything(file, &cursor);
  fio::Close(file);
  return 0;
}
