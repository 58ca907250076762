// SPDX-License-Identifier: BSD-3-Clause
// The readers inisync knows: one row per reader name the CT-API library can report, with the
// port under which the reader is opened, its display name and whether it has a PIN pad.
#pragma once

#include <cstdint>

namespace inisync {

constexpr uint32_t kReaderEntryCount = 144;  // rows of the table
constexpr uint32_t kFilledReaderEntries = 136;
constexpr uint32_t kNameSize = 256;  // 255 characters and the terminator
constexpr uint32_t kPinEntrySize = 4;

struct ReaderEntry {
  // The reader's name as the library reports it with every blank made "_": the INI section of
  // the reader and its key in section "CardReader".
  char SectionName[kNameSize];
  int32_t Found;   // 1 when some port answered with exactly this name
  int32_t Listed;  // 1 when the INI file holds a usable "Port" in the reader's section
  uint32_t Port;
  char ReaderName[kNameSize];
  char PinEntry[kPinEntrySize];  // "0", or "3" for a reader with a PIN pad
};

// Row order decides which newly found reader becomes "Active". Rows 136 to 143 are empty.
extern const ReaderEntry ReaderEntryTable[kReaderEntryCount];

}  // namespace inisync
