// SPDX-License-Identifier: BSD-3-Clause
// Terminal commands: the parsed form that every terminal-command handler receives, the shape of
// the handlers, and the replies of the terminal.
#pragma once

#include <cstdint>

#include "ctapi/ctapi.h"
#include "ctapi/result.h"
#include "ctapi/slots.h"

namespace ctapi {

constexpr uint8_t kAddressIcc1 = 0;
constexpr uint8_t kAddressCt = 1;
constexpr uint8_t kAddressHost = 2;
constexpr uint8_t kAddressRemoteHost = 5;
constexpr uint8_t kClassCtBcs = 0x20;

// A terminal command, filled with zero before each parse.
struct CommandApdu {
  uint8_t cla;
  uint8_t ins;
  uint8_t p1;
  uint8_t p2;
  uint8_t lc;  // 0 when there is no data field
  uint8_t data[255];
  uint8_t le;           // 0 when absent
  uint8_t header_only;  // 1: the four header bytes alone
  uint8_t no_le;        // 1: no Le byte
};

// 0, or -1 for a command that is not a well-formed terminal command.
int ParseCommandApdu(uint16_t lenc, const uint8_t* command, CommandApdu* parsed);

// A terminal-command handler: slot index, the reply's addresses, the response's capacity (in)
// and length (out), the response, the command.
using TerminalHandler = int8_t (*)(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr,
                                   uint8_t* response, const CommandApdu& command);

// A card transport: slot index, command length and bytes as received, response.
using CardTransport = int8_t (*)(int slot, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                                 uint8_t* response);

// Turns the addresses round for a reply of the terminal: *dad = the caller's SAD, *sad = CT.
void AddressReplyFromTerminal(uint8_t* sad, uint8_t* dad);

// A reply of the terminal that is only a status word; returns `code`.
int8_t ReplyStatus(uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response, StatusWord sw,
                   int8_t code = 0);

// Writes SW1 SW2 at response[at] and sets *lenr = at + 2 (the caller has checked the room).
void PutStatusWord(uint8_t* response, uint16_t at, uint16_t* lenr, StatusWord sw);

// An answer that is only a status word, addresses untouched; returns `code`.
int8_t StatusOnly(uint16_t* lenr, uint8_t* response, StatusWord sw, int8_t code = 0);
// An answer that is only the status word MapSCardResult gives for `result`; returns 0.
int8_t MappedStatusOnly(uint16_t* lenr, uint8_t* response, uint32_t result);

// The frame of a terminal-command handler: arguments checked (-1 for missing pointers or a
// table not attached, -11 for a response of fewer than 2 bytes), `body` run on the slot, and
// the addresses turned round once, whatever the outcome.
template <typename Body>
int8_t RunHandler(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
                  const CommandApdu& command, Body body) {
  if (!sad || !dad || !lenr || !response || slot < 0 || slot >= kSlotCount || !IsAttached()) {
    return ERR_INVALID;
  }
  const int8_t code =
      *lenr < 2 ? static_cast<int8_t>(ERR_MEMORY) : body(Slot(slot), lenr, response, command);
  AddressReplyFromTerminal(sad, dad);
  return code;
}

}  // namespace ctapi
