// SPDX-License-Identifier: BSD-3-Clause
// Parsing terminal commands and replying from the terminal.
#include "ctapi/command.h"

#include <cstring>

namespace ctapi {
namespace {

constexpr uint16_t kShortest = 4;
constexpr uint16_t kLongest = 260;
constexpr uint8_t kInsResetCt = 0x11;
constexpr uint8_t kInsGetStatus = 0x13;

}  // namespace

int ParseCommandApdu(uint16_t lenc, const uint8_t* command, CommandApdu* parsed) {
  std::memset(parsed, 0, sizeof *parsed);
  if (!command || lenc < kShortest || lenc > kLongest) return -1;
  parsed->cla = command[0];
  parsed->ins = command[1];
  parsed->p1 = command[2];
  parsed->p2 = command[3];
  // RESET CT and GET STATUS carry no data field.
  if ((parsed->ins == kInsResetCt || parsed->ins == kInsGetStatus) && lenc >= 6) return -1;
  if (lenc == 4) {
    parsed->header_only = 1;
    parsed->no_le = 1;
    return 0;
  }
  if (lenc == 5) {
    parsed->le = command[4];
    return 0;
  }
  const uint8_t lc = command[4];
  if (5 + lc == lenc) {
    parsed->lc = lc;
    std::memcpy(parsed->data, command + 5, lc);
    parsed->no_le = 1;
    return 0;
  }
  if (5 + lc == lenc - 1) {
    parsed->lc = lc;
    std::memcpy(parsed->data, command + 5, lc);
    parsed->le = command[lenc - 1];
    return 0;
  }
  return -1;  // the data field is never read past the command
}

void AddressReplyFromTerminal(uint8_t* sad, uint8_t* dad) {
  *dad = *sad;
  *sad = kAddressCt;
}

void PutStatusWord(uint8_t* response, uint16_t at, uint16_t* lenr, StatusWord sw) {
  response[at] = sw.sw1;
  response[at + 1] = sw.sw2;
  *lenr = static_cast<uint16_t>(at + 2);
}

int8_t StatusOnly(uint16_t* lenr, uint8_t* response, StatusWord sw, int8_t code) {
  PutStatusWord(response, 0, lenr, sw);
  return code;
}

int8_t MappedStatusOnly(uint16_t* lenr, uint8_t* response, uint32_t result) {
  StatusWord sw{};
  MapSCardResult(result, &sw);
  return StatusOnly(lenr, response, sw);
}

int8_t ReplyStatus(uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response, StatusWord sw,
                   int8_t code) {
  AddressReplyFromTerminal(sad, dad);
  return StatusOnly(lenr, response, sw, code);
}

}  // namespace ctapi
