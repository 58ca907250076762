// SPDX-License-Identifier: BSD-3-Clause
// GET STATUS: the terminal's manufacturer data object (the library's identity and the driver
// family), the status of the card in ICC 1 and the list of the terminal's functional units.
#include "ctapi/get_status.h"

#include <cstring>

#include "ctapi/card_link.h"
#include "ctapi/result.h"
#include "ctapi/slots.h"
#include "pcsc/pcsc.h"

namespace ctapi {
namespace {

constexpr StatusWord kSwWrongLe = {0x6C, 0x00};

constexpr uint8_t kTagManufacturer = 0x46;
constexpr uint8_t kTagIccStatus = 0x80;
constexpr uint8_t kTagFunctionalUnits = 0x81;

// The identity towards applications: manufacturer, terminal type, software version.
constexpr char kIdentity[] =
    "KORVI"
    "KV   "
    "04.00";
constexpr uint32_t kIdentityLength = sizeof kIdentity - 1;
static_assert(kIdentityLength == 15, "three fields of five characters");

// Driver families known by the reader name without its last character.
struct FamilyText {
  const char* name_stem;
  const char* text;
};

constexpr FamilyText kFamilyTexts[] = {
    {"\\\\.\\CT-SERIAL-", "Kelvane SERIAL"},
    {"\\\\.\\Kelvane", "Kelvane SERIAL"},
    {"\\\\.\\CT-Elm-", "Kelvane USB"},
    {"\\\\.\\CT-Yew-", "Kelvane PCMCIA"},
};

constexpr uint32_t kIccStatusLength = 5;
constexpr uint8_t kIccPresent = 0x01;
constexpr uint8_t kIccNotActivated = 0x02;
constexpr uint8_t kIccActivated = 0x04;

constexpr uint32_t kShortQueryMs = 1;
constexpr uint32_t kMaxCardSlots = 14;
constexpr uint8_t kUnitDisplay = 0x40;
constexpr uint8_t kUnitPinPad = 0x50;
constexpr uint8_t kUnitCapabilityBit2 = 0x60;
constexpr uint8_t kUnitReaderClass = 0x70;  // 0x70 + bit number, bits 0 to 4
constexpr uint32_t kReaderClassBits = 5;
constexpr uint32_t kMaxUnits = kMaxCardSlots + 3 + kReaderClassBits;

// The family text for the slot's reader, or null. The name is taken up to 127 characters.
const char* FamilyTextOf(const TerminalSlot& slot) {
  uint32_t length = 0;
  while (length < kReaderNameSize - 1 && slot.reader_name[length] != '\0')
    ++length;
  if (length == 0) return nullptr;
  const uint32_t stem = length - 1;
  for (const FamilyText& family : kFamilyTexts) {
    if (std::strlen(family.name_stem) == stem &&
        std::memcmp(slot.reader_name, family.name_stem, stem) == 0) {
      return family.text;
    }
  }
  return nullptr;
}

int8_t ManufacturerData(const TerminalSlot& slot, uint16_t* lenr, uint8_t* response) {
  const char* family = FamilyTextOf(slot);
  const uint32_t f = family ? static_cast<uint32_t>(std::strlen(family)) : 0;
  if (*lenr < 19 + f) return StatusOnly(lenr, response, kSwExecutionError, ERR_MEMORY);
  response[0] = kTagManufacturer;
  response[1] = static_cast<uint8_t>(kIdentityLength + f);
  std::memcpy(response + 2, kIdentity, kIdentityLength);
  if (f != 0) std::memcpy(response + 2 + kIdentityLength, family, f);
  PutStatusWord(response, static_cast<uint16_t>(2 + kIdentityLength + f), lenr, kSwSuccess);
  return OK;
}

uint8_t IccStatusByte(const TerminalSlot& slot, uint32_t event_state) {
  if (event_state & pcsc::kStateEmpty) return 0x00;
  if (!(event_state & pcsc::kStatePresent)) return 0x00;
  return kIccPresent | (slot.icc_active == 1 ? kIccActivated : kIccNotActivated);
}

// The ICC status data object; the caller has checked the room for it.
int8_t IccStatus(const TerminalSlot& slot, uint32_t event_state, uint16_t* lenr,
                 uint8_t* response) {
  response[0] = kTagIccStatus;
  response[1] = 0x01;
  response[2] = IccStatusByte(slot, event_state);
  PutStatusWord(response, 3, lenr, kSwSuccess);
  return OK;
}

int8_t FunctionalUnits(const TerminalSlot& slot, uint16_t* lenr, uint8_t* response) {
  uint8_t units[kMaxUnits];
  uint32_t count = 0;
  const uint32_t card_slots = slot.reader_units < kMaxCardSlots ? slot.reader_units : kMaxCardSlots;
  for (uint32_t i = 1; i <= card_slots; ++i)
    units[count++] = static_cast<uint8_t>(i);
  if (slot.capabilities & kCapDisplay) units[count++] = kUnitDisplay;
  if (slot.capabilities & kCapPinPad) units[count++] = kUnitPinPad;
  if (slot.capabilities & 0x04) units[count++] = kUnitCapabilityBit2;
  for (uint32_t bit = 0; bit < kReaderClassBits; ++bit) {
    if (slot.reader_class & (1u << bit))
      units[count++] = static_cast<uint8_t>(kUnitReaderClass + bit);
  }
  if (count + 4 > *lenr) return StatusOnly(lenr, response, kSwExecutionError, ERR_MEMORY);
  response[0] = kTagFunctionalUnits;
  response[1] = static_cast<uint8_t>(count);
  std::memcpy(response + 2, units, count);
  PutStatusWord(response, static_cast<uint16_t>(2 + count), lenr, kSwSuccess);
  return OK;
}

int8_t TerminalStatus(TerminalSlot& slot, uint16_t* lenr, uint8_t* response,
                      const CommandApdu& command) {
  if (command.header_only == 1) return StatusOnly(lenr, response, kSwWrongLength);
  if (command.le != 0) return StatusOnly(lenr, response, kSwWrongLe);
  switch (command.p2) {
    case kTagManufacturer:
      return ManufacturerData(slot, lenr, response);
    case kTagIccStatus: {
      if (*lenr < kIccStatusLength)
        return StatusOnly(lenr, response, kSwExecutionError, ERR_MEMORY);
      uint32_t event_state = 0;
      const pcsc::Result result =
          QueryReader(slot, kShortQueryMs, pcsc::kStateUnaware, &event_state);
      if (result != pcsc::kSuccess) {
        return StatusOnly(lenr, response, kSwExecutionError, MapSCardResult(result, nullptr));
      }
      return IccStatus(slot, event_state, lenr, response);
    }
    case kTagFunctionalUnits:
      return FunctionalUnits(slot, lenr, response);
    default:
      return StatusOnly(lenr, response, kSwWrongParameters);
  }
}

int8_t CardStatus(TerminalSlot& slot, uint16_t* lenr, uint8_t* response,
                  const CommandApdu& command) {
  if (command.header_only == 1) return StatusOnly(lenr, response, kSwWrongLength);
  if (command.le != 0) return StatusOnly(lenr, response, kSwWrongLe);
  if (command.p2 != kTagIccStatus) return StatusOnly(lenr, response, kSwWrongParameters);
  uint32_t event_state = 0;
  const pcsc::Result result = QueryReader(slot, kShortQueryMs, pcsc::kStateUnaware, &event_state);
  if (result != pcsc::kSuccess) {
    StatusWord sw = kSwExecutionError;
    MapSCardResult(result, &sw);
    return StatusOnly(lenr, response, sw);
  }
  if (*lenr < kIccStatusLength) return StatusOnly(lenr, response, kSwExecutionError, ERR_MEMORY);
  return IccStatus(slot, event_state, lenr, response);
}

}  // namespace

int8_t GetStatusOfTerminal(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
                           const CommandApdu& command) {
  return RunHandler(slot, sad, dad, lenr, response, command, TerminalStatus);
}

int8_t GetStatusOfIcc(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
                      const CommandApdu& command) {
  return RunHandler(slot, sad, dad, lenr, response, command, CardStatus);
}

}  // namespace ctapi
