// SPDX-License-Identifier: BSD-3-Clause
// Memory-card detection at power-up. A synchronous memory card is presented as a small card
// with a file structure: a 4-byte header H1 H2 H3 H4 at address 0, an ATR file, a directory
// object and the application area. The detection finds the family, the size and where these
// lie, and leaves the header in place of the answer-to-reset.
#include <cstring>

#include "ctapi/result.h"
#include "ctapi/slots.h"
#include "memcard/memcard.h"
#include "memlink/memlink.h"
#include "support/strings.h"

namespace memcard {
namespace {

using ctapi::TerminalSlot;

constexpr uint8_t kI2cAtr[] = {0x3B, 0x04, 0x49, 0x32, 0x43, 0x2E};
constexpr uint32_t kMemoryAtrLength = 6;  // 3B 04 and four bytes of memory
constexpr uint8_t kI2cKind = 8;
constexpr uint32_t kPinArea = 0x3FE;
constexpr uint8_t kProbe[2] = {0x5A, 0xA5};
constexpr uint32_t kProbeSizes[] = {2048, 1024, 512, 256, 128};

// Memory size by H2 AND 0xF8.
struct SizeCode {
  uint8_t code;
  uint32_t size;
};
constexpr SizeCode kSizeCodes[] = {{0x00, 256},  {0x08, 128},  {0x10, 256},  {0x18, 512},
                                   {0x20, 1024}, {0x28, 2048}, {0x30, 4096}, {0x38, 8192}};
constexpr uint32_t kDefaultSize = 256;

bool Ok(uint32_t status) {
  return ctapi::MapSCardResult(status, nullptr) == OK;
}

bool StartsWith(const char* name, const char* prefix) {
  return SafeStrCompareN(name, prefix, SafeStrLen(prefix)) == 0;
}

uint32_t SetI2cType(uint32_t card, uint8_t width, uint32_t size) {
  uint8_t record[MEMLINK_I2C_TYPE_SIZE] = {kI2cKind, width};
  for (int i = 0; i < 4; ++i)
    record[2 + i] = static_cast<uint8_t>(size >> (8 * i));
  return MemI2CSetType(card, record, 0);
}

void ClearLayout(TerminalSlot& slot) {
  slot.header_first = ctapi::kNoAddress;
  slot.header_last = ctapi::kNoAddress;
  slot.atr_file_first = ctapi::kNoAddress;
  slot.atr_file_last = ctapi::kNoAddress;
  slot.dir_file_first = ctapi::kNoAddress;
  slot.dir_file_last = ctapi::kNoAddress;
  slot.selected_first = ctapi::kNoAddress;
  slot.selected_last = ctapi::kNoAddress;
}

// Sets the I2C geometry, finding the address width by writing when the reader calls for it.
// False when the card cannot be used.
bool SetUpI2c(TerminalSlot& slot, bool* two_byte) {
  const uint32_t card = slot.card_handle;
  if (slot.vendor_option != 1) return Ok(SetI2cType(card, 1, 256));
  // A card with one-byte addresses takes the complement of its first byte; the byte is put back
  // afterwards. The outcomes of these reads and writes are judged by the read-back alone.
  SetI2cType(card, 1, 256);
  uint8_t original = 0;
  MemI2CRead(card, &original, 1, 0, 1);
  const uint8_t complement = static_cast<uint8_t>(~original);
  MemI2CWrite(card, &complement, 1, 0, 1);
  uint8_t read_back = original;
  MemI2CRead(card, &read_back, 1, 0, 1);
  MemI2CWrite(card, &original, 1, 0, 1);
  if (read_back == complement) return Ok(SetI2cType(card, 1, 256));
  SetI2cType(card, 2, 4096);
  *two_byte = true;
  return true;
}

uint32_t SizeFromHeader(uint8_t h2) {
  for (const SizeCode& code : kSizeCodes) {
    if (code.code == (h2 & 0xF8)) return code.size;
  }
  return kDefaultSize;
}

// The largest of the probe sizes whose last byte can be read.
uint32_t ProbeI2cSize(uint32_t card) {
  for (uint32_t size : kProbeSizes) {
    uint8_t last = 0;
    if (Ok(SetI2cType(card, 1, size)) && MemI2CRead(card, &last, 1, size - 1, 1) == MEMLINK_OK) {
      return size;
    }
  }
  return kDefaultSize;
}

// The 3-wire card's PIN area at 0x3FE is plain memory on cards without a code of their own.
// Returns the status that judges the layout: that of the last call, except for a probe write
// the card refused, which only says that the area is not plain memory.
uint32_t ProbePinArea(TerminalSlot& slot) {
  const uint32_t card = slot.card_handle;
  uint8_t area[2] = {};
  uint32_t status = Mem3WRead(card, sizeof area, area, kPinArea);
  if (status != MEMLINK_OK) return status;
  if (area[0] != 0x00 || area[1] != 0x00) {
    slot.pin_area_plain = 1;
    return status;
  }
  if (Mem3WWrite(card, sizeof kProbe, kProbe, kPinArea, 0) != MEMLINK_OK) return status;
  uint8_t back[2] = {};
  status = Mem3WRead(card, sizeof back, back, kPinArea);
  if (status == MEMLINK_OK && back[0] == kProbe[0] && back[1] == kProbe[1]) {
    slot.pin_area_plain = 1;
    const uint8_t zero[2] = {0x00, 0x00};
    status = Mem3WWrite(card, sizeof zero, zero, kPinArea, 0);
  }
  return status;
}

}  // namespace

void DetectMemoryCard(int slot_index, uint8_t* atr, uint32_t* atr_length) {
  TerminalSlot& slot = ctapi::Slot(slot_index);
  slot.card_refused = 0;
  slot.pin_area_plain = 0;
  if (StartsWith(slot.reader_name, "Vuzoded") || StartsWith(slot.reader_name, "FSC")) {
    slot.vendor_option = 1;
  }
  // The buffer holds kAtrBufferSize bytes; what lies beyond a short answer reads as zero.
  if (*atr_length < kMemoryAtrLength) {
    std::memset(atr + *atr_length, 0, kMemoryAtrLength - *atr_length);
  }

  const uint32_t card = slot.card_handle;
  bool i2c = false;
  bool two_byte = false;
  if (*atr_length >= sizeof kI2cAtr && std::memcmp(atr, kI2cAtr, sizeof kI2cAtr) == 0) {
    i2c = true;
    uint8_t first[4] = {};
    if (!SetUpI2c(slot, &two_byte) || !Ok(MemI2CRead(card, first, sizeof first, 0, 4))) {
      slot.card_refused = 1;
      return;
    }
    std::memcpy(atr + 2, first, sizeof first);
  }
  if ((atr[1] & 0xF0) != 0) return;  // a processor card
  if (!i2c && atr[0] == 0x3B && atr[1] == 0x04 && atr[2] != kTypeTwoWire &&
      atr[2] != kTypeThreeWire) {
    slot.card_refused = 1;
    return;
  }

  std::memmove(atr, atr + 2, 4);
  std::memcpy(slot.memory_card_header, atr, 4);
  *atr_length = 4;
  slot.memory_card = 1;
  ClearLayout(slot);
  slot.insurance_layout = 0;
  slot.selected_insurance_data = 0;
  const uint8_t h1 = atr[0];
  const uint8_t h2 = atr[1];
  const uint8_t h4 = atr[3];

  slot.memory_card_type = i2c                                            ? kTypeI2c
                          : (h1 == kTypeTwoWire || h1 == kTypeThreeWire) ? h1
                                                                         : kTypeI2c;
  if (i2c && h1 != kTypeI2c) {
    slot.memory_size = two_byte ? 4096 : ProbeI2cSize(card);
  } else {
    slot.memory_size = SizeFromHeader(h2);
  }

  slot.header_first = 0;
  slot.header_last = 3;
  if (h4 == 0x84) {
    slot.dir_file_first = 4;
  } else {
    slot.atr_file_first = 4;
    slot.atr_file_last = static_cast<uint32_t>(h4 & 0x7F) - 1;
    slot.dir_file_first = h4 & 0x7F;
  }

  uint8_t directory[2] = {};
  uint32_t status = MEMLINK_OK;
  switch (slot.memory_card_type) {
    case kTypeTwoWire:
      status = Mem2WRead(card, sizeof directory, directory, slot.dir_file_first);
      break;
    case kTypeThreeWire:
      status = Mem3WRead(card, sizeof directory, directory, slot.dir_file_first);
      break;
    default:
      if (slot.vendor_value != 0) slot.memory_size = slot.vendor_value;
      status = MemI2CRead(card, directory, sizeof directory, slot.dir_file_first, 2);
      break;
  }
  if (slot.memory_card_type == kTypeThreeWire) status = ProbePinArea(slot);

  if (Ok(status)) {
    slot.dir_file_last = slot.dir_file_first + 1 + directory[1];
  } else {
    ClearLayout(slot);  // only the whole memory can be selected
  }
}

}  // namespace memcard
