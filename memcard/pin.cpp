// SPDX-License-Identifier: BSD-3-Clause
// PIN entry for memory cards on the PIN pad. The command carries the card command to perform in
// a 0x52 object; it is checked here against what a 2-wire or 3-wire card can do, then pinlink
// has the PIN typed and presented, and its status becomes the answer.
#include <cstring>

#include "ctapi/card_link.h"
#include "ctapi/command.h"
#include "ctapi/pin.h"
#include "ctapi/slots.h"
#include "memcard/access.h"
#include "memcard/memcard.h"
#include "memlink/memlink.h"
#include "pinlink/pinlink.h"

namespace memcard {
namespace {

using ctapi::StatusWord;
using ctapi::TerminalSlot;

constexpr uint16_t kDataOffset = 5;
constexpr uint8_t kTagCommand = 0x52;
constexpr StatusWord kSwNotPossible = {0x69, 0x00};
constexpr StatusWord kSwBlocked = {0x69, 0x83};
constexpr StatusWord kSwCancelled = {0x64, 0x01};
constexpr StatusWord kSwNewPinsDiffer = {0x64, 0x02};

// Where the fields of the card command lie in the 0x52 object, counted from its tag.
struct Layout {
  uint32_t ins;
  uint8_t expected_ins;
  uint32_t cla;
  uint32_t p1;
  uint32_t lc;
  uint32_t lc_needs_length;  // Lc is looked at only when the object is at least this long
};
constexpr Layout kVerifyLayout = {5, 0x20, 4, 6, 8, 7};
constexpr Layout kModifyLayout = {6, 0x24, 5, 7, 9, 8};

// The 0x52 object among the command's data objects; 0 when there is none. The walk counts from
// the command's first byte but stops at the data field's length, as readers of this command
// have always done; an object is taken only when it lies wholly inside the command.
uint32_t FindCommandObject(uint16_t lenc, const uint8_t* command) {
  const uint32_t limit = lenc - kDataOffset;
  for (uint32_t at = kDataOffset; at + 1 < limit; at += 2 + command[at + 1]) {
    const uint32_t length = command[at + 1];
    if (command[at] == kTagCommand && length + 1 < limit && at + 1 + length < lenc) return at;
  }
  return 0;
}

// The card's answer to a wrong code: the tries left.
StatusWord TriesLeft(const TerminalSlot& slot, uint32_t card, bool* from_card) {
  *from_card = true;
  uint32_t status = 0;
  uint8_t tries = 0;
  if (slot.memory_card_type == kTypeThreeWire) {
    uint8_t bytes[2] = {};
    status = Mem3WRead(card, sizeof bytes, bytes, kThreeWireCounterPair);
    tries = ThreeWireTriesLeft(bytes[1]);
  } else {
    uint8_t counter = 0;
    status = Mem2WReadErrorCounter(card, &counter);
    tries = counter == 3 ? 2 : counter == 1 ? 1 : 0;
  }
  if (ctapi::MapSCardResult(status, nullptr) != OK) {
    *from_card = false;
    StatusWord sw{};
    ctapi::MapSCardResult(status, &sw);
    return sw;
  }
  return StatusWord{0x63, static_cast<uint8_t>(0xC0 + tries)};
}

// Checks the card command of the 0x52 object at `t` in the order readers expect; the answer when
// it cannot be performed.
bool CheckCommandObject(const TerminalSlot& slot, const uint8_t* command, uint16_t lenc, uint32_t t,
                        bool modify, StatusWord* sw) {
  const Layout& layout = modify ? kModifyLayout : kVerifyLayout;
  const uint32_t length = command[t + 1];
  // A position the object does not reach cannot hold what is asked for.
  auto at = [&](uint32_t position, uint8_t* value) {
    if (position > length + 1 || t + position >= lenc) return false;
    *value = command[t + position];
    return true;
  };
  *sw = kSwNotPossible;
  uint8_t ins = 0, control = 0, cla = 0, p1 = 0, p2 = 0, lc = 0, old_at = 0, new_at = 0;
  if (!at(layout.ins, &ins) || ins != layout.expected_ins) return false;
  if (!at(2, &control) || (control & 0x03) > 1) return false;
  if (!at(layout.cla, &cla)) return false;
  if (cla != 0x00) {
    *sw = ctapi::kSwWrongClass;
    return false;
  }
  if (!at(layout.p1, &p1) || !at(layout.p1 + 1, &p2) || p1 != 0 || p2 != 0) return false;
  const bool lc_known = length >= layout.lc_needs_length;
  if (lc_known) {
    if (!at(layout.lc, &lc)) return false;
    if (modify ? (lc != 4 && lc != 6) : (lc != 2 && lc != 3)) return false;
  }
  if (!at(3, &old_at) || old_at != 6) return false;
  if (modify && (!at(4, &new_at) || (new_at != 8 && new_at != 9 && new_at != 0))) return false;
  // 3-wire codes are two bytes; a third placeholder byte must be FF.
  if (slot.memory_card_type == kTypeThreeWire && lc_known) {
    uint8_t a = 0, b = 0;
    if (!modify && lc == 3 && (!at(11, &a) || a != 0xFF)) return false;
    if (modify && lc == 6 && (!at(12, &a) || !at(15, &b) || a != 0xFF || b != 0xFF)) return false;
  }
  const uint32_t pin_length = control >> 4;
  if (pin_length >= ((control & 0x03) == 0 ? 7u : 4u)) return false;
  return true;
}

int8_t RunMemoryPin(bool modify, int slot_index, uint8_t* sad, uint8_t* dad, uint16_t* lenc,
                    const uint8_t* command, uint16_t* lenr, uint8_t* response) {
  if (!sad || !dad || !lenc || !lenr || !response || *lenr < 2) return ERR_INVALID;
  TerminalSlot& slot = ctapi::Slot(slot_index);
  StatusWord sw{};
  if (!ctapi::PinCommandAdmitted(slot_index, *lenc, command, &sw)) {
    return ctapi::ReplyStatus(sad, dad, lenr, response, sw);
  }
  if (slot.memory_card_type != kTypeThreeWire && slot.memory_card_type != kTypeTwoWire) {
    return ctapi::ReplyStatus(sad, dad, lenr, response, kSwNotPossible);  // I2C: no code
  }
  const uint32_t t = FindCommandObject(*lenc, command);
  if (t == 0) return ctapi::ReplyStatus(sad, dad, lenr, response, kSwNotPossible);
  if (!CheckCommandObject(slot, command, *lenc, t, modify, &sw)) {
    return ctapi::ReplyStatus(sad, dad, lenr, response, sw);
  }
  if (slot.pin_area_plain == 1) return ctapi::ReplyStatus(sad, dad, lenr, response, kSwNotPossible);

  ctapi::ReaderLink link;
  const pcsc::Result connected = ctapi::ConnectToReader(slot, &link);
  if (connected != pcsc::kSuccess) {
    ctapi::MapSCardResult(connected, &sw);
    return ctapi::ReplyStatus(sad, dad, lenr, response, sw);
  }
  uint8_t data[PINLINK_ANSWER_SIZE];
  uint32_t data_length = *lenc - kDataOffset;
  if (data_length > sizeof data) data_length = sizeof data;
  std::memcpy(data, command + kDataOffset, data_length);
  uint8_t answer[PINLINK_ANSWER_SIZE];
  uint32_t answer_length = sizeof answer;
  const uint8_t family = static_cast<uint8_t>(slot.memory_card_type);
  const uint32_t status =
      modify ? MemPinChange(link.handle, data, data_length, answer, &answer_length, family)
             : MemPinVerify(link.handle, data, data_length, answer, &answer_length, family);
  std::memset(data, 0, sizeof data);

  bool from_card = false;
  switch (status) {
    case 0:
      sw = ctapi::kSwSuccess;
      from_card = true;
      break;
    case PINLINK_PIN_BLOCKED:
      sw = kSwBlocked;
      from_card = true;
      break;
    case PINLINK_WRONG_PIN:
      // The counter is read over the connection this command used.
      sw = TriesLeft(slot, link.handle, &from_card);
      break;
    case PINLINK_INVALID_VALUE:
      sw = kSwNotPossible;
      break;
    case PINLINK_CANCELLED:
      sw = kSwCancelled;
      break;
    case PINLINK_NEW_PINS_DIFFER:
      sw = modify ? kSwNewPinsDiffer : ctapi::kSwExecutionError;
      break;
    default:
      sw = ctapi::kSwExecutionError;
      break;
  }
  // A connection made for this command goes with it.
  ctapi::ReleaseReaderLink(link);
  *dad = *sad;
  *sad = from_card ? ctapi::kAddressIcc1 : ctapi::kAddressCt;
  ctapi::PutStatusWord(response, 0, lenr, sw);
  return OK;
}

}  // namespace

int8_t MemoryPinVerify(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenc, const uint8_t* command,
                       uint16_t* lenr, uint8_t* response) {
  return RunMemoryPin(false, slot, sad, dad, lenc, command, lenr, response);
}

int8_t MemoryPinModify(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenc, const uint8_t* command,
                       uint16_t* lenr, uint8_t* response) {
  return RunMemoryPin(true, slot, sad, dad, lenc, command, lenr, response);
}

}  // namespace memcard
