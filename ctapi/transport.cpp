// SPDX-License-Identifier: BSD-3-Clause
// Commands to a processor card.
#include "ctapi/transport.h"

#include "ctapi/card_link.h"
#include "ctapi/command.h"
#include "ctapi/result.h"
#include "ctapi/slots.h"
#include "pcsc/pcsc.h"

namespace ctapi {
namespace {

constexpr uint32_t kPciLength = 8;

int8_t TransmissionError(uint16_t* lenr, uint8_t* response) {
  return StatusOnly(lenr, response, kSwTransmissionError);
}

}  // namespace

int8_t TransmitToIcc(int slot_index, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                     uint8_t* response) {
  TerminalSlot& slot = Slot(slot_index);
  // The connection is refreshed first, so that a card reset by another application in the
  // meantime is reached again with the protocol it now speaks.
  const pcsc::Result connected = slot.card_handle != kNoCardHandle
                                     ? ReconnectSequence(slot, pcsc::kLeaveCard)
                                     : ConnectSequence(slot);
  if (MapSCardResult(connected, nullptr) != OK || !command) {
    return TransmissionError(lenr, response);
  }
  const pcsc::IoRequest send_pci{slot.active_protocol, kPciLength};
  // A case-2 command over T=0 goes without its Le byte 00: the card answers with what it has.
  if ((slot.active_protocol & pcsc::kProtocolT0) && *lenc == 5 && command[4] == 0x00) *lenc = 4;
  uint32_t received = *lenr;
  const pcsc::Result result = pcsc::SCardTransmit(slot.card_handle, &send_pci, command, *lenc,
                                                  nullptr, response, &received);
  switch (MapSCardResult(result, nullptr)) {
    case OK:
      *lenr = static_cast<uint16_t>(received);
      return OK;
    case ERR_MEMORY:
      *lenr = 0;
      return ERR_MEMORY;
    default:
      return TransmissionError(lenr, response);
  }
}

}  // namespace ctapi
