// SPDX-License-Identifier: BSD-3-Clause
// The card's code and protection memory: VERIFY and CHANGE REFERENCE DATA on 2-wire and 3-wire
// cards with the tries left in the answer, and READ and WRITE PROTECTION MEMORY on 2-wire cards.
#include "ctapi/command.h"
#include "ctapi/result.h"
#include "ctapi/slots.h"
#include "memcard/access.h"
#include "memcard/commands.h"
#include "memcard/memcard.h"
#include "memlink/memlink.h"
#include "support/strings.h"

namespace memcard {
namespace {

using ctapi::StatusWord;
using ctapi::TerminalSlot;

constexpr StatusWord kSwNotAccepted = {0x69, 0x00};
constexpr StatusWord kSwBlocked = {0x69, 0x83};
constexpr StatusWord kSwBufferTooSmall = {0x65, 0x01};
constexpr uint8_t kProtectionRequest = 0x20;
constexpr uint16_t kProtectionAnswer = 32;

// These readers report a 2-wire counter of one try as 0.
bool CountsLastTryAsZero(const TerminalSlot& slot) {
  return SafeStrCompareN(slot.reader_name, "Halvoro Kelvane", 15) == 0 ||
         SafeStrCompareN(slot.reader_name, "TREVANO Kelvane Birch", 21) == 0;
}

int8_t TriesLeft(const TerminalSlot& slot, uint16_t* lenr, uint8_t* response) {
  if (slot.memory_card_type == kTypeTwoWire) {
    uint8_t counter = 0;
    const uint32_t status = Mem2WReadErrorCounter(slot.card_handle, &counter);
    if (ctapi::MapSCardResult(status, nullptr) != OK)
      return ctapi::MappedStatusOnly(lenr, response, status);
    if (counter == 0 && CountsLastTryAsZero(slot)) counter = 1;
    const uint8_t sw2 = counter == 3 ? 0xC2 : counter == 1 ? 0xC1 : 0xC0;
    return ctapi::StatusOnly(lenr, response, StatusWord{0x63, sw2});
  }
  uint8_t bytes[2] = {};
  const uint32_t status = ReadMemory(slot, kThreeWireCounterPair, 2, bytes, sizeof bytes);
  if (ctapi::MapSCardResult(status, nullptr) != OK)
    return ctapi::MappedStatusOnly(lenr, response, status);
  const uint8_t tries = ThreeWireTriesLeft(bytes[1]);
  return ctapi::StatusOnly(lenr, response, StatusWord{0x63, static_cast<uint8_t>(0xC0 + tries)});
}

// The answer to a code operation's memlink status.
int8_t CodeAnswer(const TerminalSlot& slot, uint32_t status, uint16_t* lenr, uint8_t* response) {
  switch (status) {
    case MEMLINK_OK:
      return ctapi::StatusOnly(lenr, response, ctapi::kSwSuccess);
    case MEMLINK_PIN_BLOCKED:
      return ctapi::StatusOnly(lenr, response, kSwBlocked);
    case MEMLINK_WRONG_PIN:
      return TriesLeft(slot, lenr, response);
    default:
      return ctapi::StatusOnly(lenr, response, ctapi::kSwExecutionError);
  }
}

// Parses a code command: no Le, P1 and P2 zero. False when the answer is already given.
bool ParseCodeCommand(uint16_t lenc, const uint8_t* command, ctapi::CommandApdu* parsed,
                      uint16_t* lenr, uint8_t* response) {
  if (ctapi::ParseCommandApdu(lenc, command, parsed) != 0 || !parsed->no_le) {
    ctapi::StatusOnly(lenr, response, ctapi::kSwWrongLength);
    return false;
  }
  if (parsed->p1 != 0x00 || parsed->p2 != 0x00) {
    ctapi::StatusOnly(lenr, response, ctapi::kSwWrongParameters);
    return false;
  }
  return true;
}

}  // namespace

int8_t Verify(int slot_index, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
              uint8_t* response) {
  const TerminalSlot& slot = ctapi::Slot(slot_index);
  ctapi::CommandApdu parsed;
  if (!ParseCodeCommand(*lenc, command, &parsed, lenr, response)) return OK;
  if (slot.memory_card_type == kTypeTwoWire) {
    if (parsed.lc != 3) return ctapi::StatusOnly(lenr, response, kSwNotAccepted);
    return CodeAnswer(slot, Mem2WVerify(slot.card_handle, 3, parsed.data), lenr, response);
  }
  if (slot.memory_card_type == kTypeThreeWire) {
    // A third byte is accepted as padding (FF) and not sent.
    if ((parsed.lc != 2 && parsed.lc != 3) || (parsed.lc == 3 && parsed.data[2] != 0xFF) ||
        slot.pin_area_plain == 1) {
      return ctapi::StatusOnly(lenr, response, kSwNotAccepted);
    }
    return CodeAnswer(slot, Mem3WVerify(slot.card_handle, 2, parsed.data), lenr, response);
  }
  return ctapi::StatusOnly(lenr, response, ctapi::kSwExecutionError);
}

int8_t ChangeReferenceData(int slot_index, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                           uint8_t* response) {
  const TerminalSlot& slot = ctapi::Slot(slot_index);
  ctapi::CommandApdu parsed;
  if (!ParseCodeCommand(*lenc, command, &parsed, lenr, response)) return OK;
  if (slot.memory_card_type == kTypeThreeWire) {
    if (parsed.lc != 4) return ctapi::StatusOnly(lenr, response, ctapi::kSwWrongParameters);
    if (slot.pin_area_plain == 1) return ctapi::StatusOnly(lenr, response, kSwNotAccepted);
    return CodeAnswer(slot, Mem3WChange(slot.card_handle, 2, parsed.data, 2, parsed.data + 2), lenr,
                      response);
  }
  if (slot.memory_card_type == kTypeTwoWire) {
    if (parsed.lc != 6) return ctapi::StatusOnly(lenr, response, ctapi::kSwWrongParameters);
    return CodeAnswer(slot, Mem2WChange(slot.card_handle, 3, parsed.data, 3, parsed.data + 3), lenr,
                      response);
  }
  return ctapi::StatusOnly(lenr, response, ctapi::kSwExecutionError);
}

int8_t ReadProtectionMemory(int slot_index, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                            uint8_t* response) {
  const TerminalSlot& slot = ctapi::Slot(slot_index);
  if (slot.memory_card_type != kTypeTwoWire) {
    return ctapi::StatusOnly(lenr, response, ctapi::kSwExecutionError);
  }
  if (*lenc < 5) return ctapi::StatusOnly(lenr, response, ctapi::kSwWrongLength);
  if (command[4] != kProtectionRequest)
    return ctapi::StatusOnly(lenr, response, ctapi::kSwWrongParameters);
  uint8_t protection[4] = {};
  const uint32_t status = Mem2WReadProtect(slot.card_handle, sizeof protection, protection);
  if (*lenr < kProtectionAnswer + 2) return ctapi::StatusOnly(lenr, response, kSwBufferTooSmall);
  if (status != MEMLINK_OK) return ctapi::StatusOnly(lenr, response, ctapi::kSwExecutionError);
  // One byte per protection bit: byte j * 8 + b is bit b of protection byte j.
  for (uint16_t i = 0; i < kProtectionAnswer; ++i) {
    response[i] = (protection[i / 8] >> (i % 8)) & 0x01;
  }
  ctapi::PutStatusWord(response, kProtectionAnswer, lenr, ctapi::kSwSuccess);
  return OK;
}

int8_t WriteProtectionMemory(int slot_index, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                             uint8_t* response) {
  const TerminalSlot& slot = ctapi::Slot(slot_index);
  if (slot.memory_card_type != kTypeTwoWire) {
    return ctapi::StatusOnly(lenr, response, ctapi::kSwExecutionError);
  }
  if (*lenc < 8) return ctapi::StatusOnly(lenr, response, ctapi::kSwWrongLength);
  if (command[4] != 3 || command[6] != 0x00) {
    return ctapi::StatusOnly(lenr, response, ctapi::kSwWrongParameters);
  }
  const uint32_t status = Mem2WWriteProtect(slot.card_handle, command[5], command[7]);
  return ctapi::StatusOnly(lenr, response,
                           status == MEMLINK_OK ? ctapi::kSwSuccess : ctapi::kSwExecutionError);
}

}  // namespace memcard
