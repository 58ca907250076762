// SPDX-License-Identifier: BSD-3-Clause
// The entry of every command to a memory card: the connection is refreshed, the class checked,
// and the instruction routed to its emulation.
#include "ctapi/card_link.h"
#include "ctapi/command.h"
#include "ctapi/result.h"
#include "ctapi/slots.h"
#include "memcard/commands.h"
#include "memcard/memcard.h"

namespace memcard {
namespace {

struct MemoryRoute {
  uint8_t ins;
  ctapi::CardTransport handler;
};

// VERIFY, CHANGE REFERENCE DATA, SELECT FILE, READ BINARY, UPDATE BINARY, READ and WRITE
// PROTECTION MEMORY.
constexpr MemoryRoute kMemoryRoutes[] = {
    {0x20, Verify},
    {0x24, ChangeReferenceData},
    {0xA4, SelectFile},
    {0xB0, ReadBinary},
    {0xD6, UpdateBinary},
    {0xF0, ReadProtectionMemory},
    {0xF1, WriteProtectionMemory},
};

}  // namespace

int8_t MemoryCardCommand(int slot_index, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                         uint8_t* response) {
  ctapi::TerminalSlot& slot = ctapi::Slot(slot_index);
  pcsc::Result connected = pcsc::kSuccess;
  if (slot.card_handle == ctapi::kNoCardHandle) {
    // The slot takes the handle only once the connect succeeded.
    pcsc::CardHandle card = 0;
    uint32_t protocol = 0;
    connected = pcsc::SCardConnectA(slot.context, slot.reader_name, pcsc::kShareShared,
                                    pcsc::kProtocolT0 | pcsc::kProtocolT1, &card, &protocol);
    if (connected == pcsc::kSuccess) {
      slot.card_handle = card;
      slot.active_protocol = protocol;
    }
  } else {
    connected = pcsc::SCardReconnect(slot.card_handle, pcsc::kShareShared,
                                     pcsc::kProtocolT0 | pcsc::kProtocolT1, pcsc::kLeaveCard,
                                     &slot.active_protocol);
  }
  if (ctapi::MapSCardResult(connected, nullptr) != OK) {
    return ctapi::StatusOnly(lenr, response, ctapi::kSwTransmissionError);
  }
  // CLA and INS are the least a command carries.
  if (*lenc < 2 || !command) return ctapi::StatusOnly(lenr, response, ctapi::kSwWrongLength);
  if (command[0] != 0x00) return ctapi::StatusOnly(lenr, response, ctapi::kSwWrongClass);
  for (const MemoryRoute& route : kMemoryRoutes) {
    if (route.ins == command[1]) {
      return route.handler(slot_index, lenc, command, lenr, response);
    }
  }
  return ctapi::StatusOnly(lenr, response, ctapi::kSwUnknownInstruction);
}

}  // namespace memcard
