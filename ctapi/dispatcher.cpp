// SPDX-License-Identifier: BSD-3-Clause
// The CT_data dispatcher: addresses, the terminal-command table, the vendor commands and the
// way to the card.
#include "ctapi/dispatcher.h"

#include "ctapi/card_link.h"
#include "ctapi/command.h"
#include "ctapi/display.h"
#include "ctapi/get_status.h"
#include "ctapi/pin.h"
#include "ctapi/power.h"
#include "ctapi/result.h"
#include "ctapi/slots.h"
#include "ctapi/transport.h"
#include "memcard/memcard.h"
#include "pcsc/pcsc.h"
#include "support/strings.h"

namespace ctapi {
namespace {

constexpr uint8_t kInsVendor = 0xFF;

// What a command must meet beyond its P1, and when the reader's abilities are looked at.
enum class Gate {
  kNone,
  kKeypadFirst,   // INPUT: keypad input and a PIN pad, checked before P1; else 6D 00
  kDisplayFirst,  // OUTPUT: a display, checked before P1; else 6D 00
  kPinPadAfter,   // PIN commands: P2 0 and no Le, then a PIN pad; else 64 00
};

struct Route {
  uint8_t ins;
  uint8_t p1;
  Gate gate;
  TerminalHandler handler;
  // The PIN commands take the raw command, and memory cards have their own handling.
  PinHandler processor_pin;
  PinHandler memory_pin;
};

constexpr Route kRoutes[] = {
    // clang-format off
    {0x10, 0x00, Gate::kNone, ResetCt, nullptr, nullptr},
    {0x10, 0x01, Gate::kNone, ResetCt, nullptr, nullptr},
    {0x11, 0x00, Gate::kNone, ResetCt, nullptr, nullptr},
    {0x11, 0x01, Gate::kNone, ResetCt, nullptr, nullptr},
    {0x12, 0x01, Gate::kNone, RequestIcc, nullptr, nullptr},
    {0x13, 0x00, Gate::kNone, GetStatusOfTerminal, nullptr, nullptr},
    {0x13, 0x01, Gate::kNone, GetStatusOfIcc, nullptr, nullptr},
    {0x14, 0x01, Gate::kNone, DeactivateIcc, nullptr, nullptr},
    {0x15, 0x01, Gate::kNone, EjectIcc, nullptr, nullptr},
    {0x16, 0x50, Gate::kKeypadFirst, Input, nullptr, nullptr},
    {0x17, 0x40, Gate::kDisplayFirst, Output, nullptr, nullptr},
    {0x18, 0x01, Gate::kPinPadAfter, nullptr, PerformVerification, memcard::MemoryPinVerify},
    {0x19, 0x01, Gate::kPinPadAfter, nullptr, ModifyVerificationData, memcard::MemoryPinModify},
    // clang-format on
};

// Older O2Micro readers are known to applications by the reader maker's name.
struct ReaderAlias {
  const char* reader;
  const char* reported;
};

constexpr ReaderAlias kReaderAliases[] = {
    {"O2Micro PCMCIA Reader 0", "TREVANO Kelvane Ash 0"},
    {"O2Micro PCMCIA Reader 1", "TREVANO Kelvane Ash 1"},
    {"O2Micro PCMCIA Reader 2", "TREVANO Kelvane Ash 2"},
    {"O2Micro PCMCIA Reader 3", "TREVANO Kelvane Ash 3"},
};

bool GateBeforeP1Open(Gate gate, const TerminalSlot& slot) {
  switch (gate) {
    case Gate::kKeypadFirst:
      return slot.keypad_input != 0 && (slot.capabilities & kCapPinPad);
    case Gate::kDisplayFirst:
      return (slot.capabilities & kCapDisplay) != 0;
    default:
      return true;
  }
}

int8_t VendorCommand(int slot_index, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
                     const CommandApdu& command) {
  TerminalSlot& slot = Slot(slot_index);
  if (command.p1 == 0x00 && command.p2 == 0x00) {
    const char* name = slot.reader_name;
    for (const ReaderAlias& alias : kReaderAliases) {
      if (SafeStrCompare(slot.reader_name, alias.reader) == 0) name = alias.reported;
    }
    const uint32_t length = SafeStrLen(name);
    if (*lenr < length + 2)
      return ReplyStatus(sad, dad, lenr, response, kSwExecutionError, ERR_MEMORY);
    SafeMemCopy(response, *lenr, name, length);
    AddressReplyFromTerminal(sad, dad);
    PutStatusWord(response, static_cast<uint16_t>(length), lenr, kSwSuccess);
    return OK;
  }
  if (command.p1 == 0x00 && command.p2 == 0x01 && command.lc == 1) {
    slot.vendor_option = command.data[0] == 0x01 ? 1 : 0;
    return ReplyStatus(sad, dad, lenr, response, kSwSuccess);
  }
  if (command.p1 == 0x00 && command.p2 == 0x02 && command.lc == 2) {
    slot.vendor_value = static_cast<uint32_t>(command.data[0]) * 256 + command.data[1];
    return ReplyStatus(sad, dad, lenr, response, kSwSuccess);
  }
  return ReplyStatus(sad, dad, lenr, response, kSwUnknownInstruction);
}

int8_t TerminalCommand(int slot_index, uint8_t* sad, uint8_t* dad, uint16_t lenc,
                       const uint8_t* bytes, uint16_t* lenr, uint8_t* response) {
  CommandApdu command;
  if (ParseCommandApdu(lenc, bytes, &command) != 0) {
    return ReplyStatus(sad, dad, lenr, response, kSwWrongLength);
  }
  if (command.cla != kClassCtBcs) return ReplyStatus(sad, dad, lenr, response, kSwWrongClass);
  if (command.ins == kInsVendor)
    return VendorCommand(slot_index, sad, dad, lenr, response, command);

  const TerminalSlot& slot = Slot(slot_index);
  const Route* of_ins = nullptr;
  const Route* route = nullptr;
  for (const Route& candidate : kRoutes) {
    if (candidate.ins != command.ins) continue;
    if (!of_ins) of_ins = &candidate;
    if (candidate.p1 == command.p1) route = &candidate;
  }
  if (!of_ins) return ReplyStatus(sad, dad, lenr, response, kSwUnknownInstruction);
  if (!GateBeforeP1Open(of_ins->gate, slot)) {
    return ReplyStatus(sad, dad, lenr, response, kSwUnknownInstruction);
  }
  if (!route) return ReplyStatus(sad, dad, lenr, response, kSwWrongParameters);
  if (route->gate == Gate::kPinPadAfter) {
    if (command.p2 != 0x00 || command.le != 0) {
      return ReplyStatus(sad, dad, lenr, response, kSwWrongParameters);
    }
    if (!(slot.capabilities & kCapPinPad)) {
      return ReplyStatus(sad, dad, lenr, response, kSwExecutionError);
    }
  }
  if (route->gate == Gate::kPinPadAfter) {
    const PinHandler pin = slot.memory_card == 1 ? route->memory_pin : route->processor_pin;
    return pin(slot_index, sad, dad, &lenc, bytes, lenr, response);
  }
  return route->handler(slot_index, sad, dad, lenr, response, command);
}

int8_t CardCommand(int slot_index, uint8_t* sad, uint8_t* dad, uint16_t lenc,
                   const uint8_t* command, uint16_t* lenr, uint8_t* response) {
  const TerminalSlot& slot = Slot(slot_index);
  StatusWord sw{};
  if (!CardStillThere(slot_index, &sw)) return ReplyStatus(sad, dad, lenr, response, sw);
  *dad = *sad;
  *sad = kAddressIcc1;
  const CardTransport transport =
      slot.memory_card == 1 ? memcard::MemoryCardCommand : TransmitToIcc;
  const int8_t code = transport(slot_index, &lenc, command, lenr, response);
  if (code != OK) *sad = kAddressCt;
  return code;
}

}  // namespace

int8_t DispatchCtData(uint16_t ctn, uint8_t* dad, uint8_t* sad, uint16_t lenc,
                      const uint8_t* command, uint16_t* lenr, uint8_t* response) {
  if (!dad || !sad || !lenr) return ERR_INVALID;  // nowhere to answer
  // Until *lenr is known to be 2 or more, a refusal writes its status word only where it fits.
  auto refuse = [&](int8_t code) {
    AddressReplyFromTerminal(sad, dad);
    if (*lenr >= 2 && response) PutStatusWord(response, 0, lenr, kSwExecutionError);
    return code;
  };
  if (!IsAttached()) return refuse(ERR_INVALID);
  const int slot = FindSlotByCtn(ctn);
  if (slot == kNotFound) return refuse(ERR_INVALID);
  if (*sad != kAddressHost && *sad != kAddressRemoteHost) return refuse(ERR_INVALID);
  if (*dad != kAddressIcc1 && *dad != kAddressCt) return refuse(ERR_INVALID);
  if (*lenr < 2) {
    AddressReplyFromTerminal(sad, dad);
    return ERR_MEMORY;
  }
  if (!response || (!command && lenc > 0)) return refuse(ERR_INVALID);
  if (*dad == kAddressCt) return TerminalCommand(slot, sad, dad, lenc, command, lenr, response);
  return CardCommand(slot, sad, dad, lenc, command, lenr, response);
}

}  // namespace ctapi
