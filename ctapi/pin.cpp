// SPDX-License-Identifier: BSD-3-Clause
// The PIN commands for processor cards: the command's data field goes unchanged to pinlink over
// a connection to the reader, and pinlink's answer comes back as it is, from the card or from
// the terminal.
#include "ctapi/pin.h"

#include <cstring>

#include "ctapi/card_link.h"
#include "ctapi/command.h"
#include "ctapi/slots.h"
#include "pcsc/pcsc.h"
#include "pinlink/pinlink.h"

namespace ctapi {
namespace {

constexpr uint32_t kPinlinkBufferSize = PINLINK_ANSWER_SIZE;
constexpr uint16_t kDataOffset = 5;

// Two-byte answers of the terminal itself rather than of the card.
constexpr StatusWord kTerminalAnswers[] = {
    {0x69, 0x00}, {0x6D, 0x00}, {0x64, 0x00}, {0x64, 0x01}, {0x64, 0x02}};

using PinlinkFunction = uint32_t(PINLINK_CALL*)(uint32_t, const uint8_t*, uint32_t, uint8_t*,
                                                uint32_t*);

bool FromTerminal(const uint8_t* answer, uint32_t length) {
  if (length != 2) return false;
  for (const StatusWord& sw : kTerminalAnswers) {
    if (answer[0] == sw.sw1 && answer[1] == sw.sw2) return true;
  }
  return false;
}

int8_t RunPinCommand(PinlinkFunction pinlink, int slot_index, uint8_t* sad, uint8_t* dad,
                     uint16_t* lenc, const uint8_t* command, uint16_t* lenr, uint8_t* response) {
  if (!sad || !dad || !lenc || !lenr || !response || *lenr < 2) return ERR_INVALID;
  StatusWord sw{};
  if (!PinCommandAdmitted(slot_index, *lenc, command, &sw)) {
    return ReplyStatus(sad, dad, lenr, response, sw);
  }
  TerminalSlot& slot = Slot(slot_index);
  ReaderLink link;
  const pcsc::Result connected = ConnectToReader(slot, &link);
  if (connected != pcsc::kSuccess) {
    MapSCardResult(connected, &sw);
    return ReplyStatus(sad, dad, lenr, response, sw);
  }

  uint8_t data[kPinlinkBufferSize];
  uint32_t data_length = *lenc - kDataOffset;
  if (data_length > sizeof data) data_length = sizeof data;
  std::memcpy(data, command + kDataOffset, data_length);
  uint8_t answer[kPinlinkBufferSize];
  uint32_t answer_length = sizeof answer;
  const uint32_t result = pinlink(link.handle, data, data_length, answer, &answer_length);
  std::memset(data, 0, sizeof data);

  int8_t code = OK;
  if (result != 0) {
    MapSCardResult(result, &sw);
    code = ReplyStatus(sad, dad, lenr, response, sw);
  } else if (answer_length < 2 || answer_length > sizeof answer) {
    code = ReplyStatus(sad, dad, lenr, response, kSwExecutionError);  // not an answer at all
  } else if (*lenr < answer_length) {
    code = ReplyStatus(sad, dad, lenr, response, kSwExecutionError, ERR_MEMORY);
  } else {
    std::memcpy(response, answer, answer_length);
    *lenr = static_cast<uint16_t>(answer_length);
    *dad = *sad;
    *sad = FromTerminal(answer, answer_length) ? kAddressCt : kAddressIcc1;
  }
  ReleaseReaderLink(link);
  return code;
}

}  // namespace

bool PinCommandAdmitted(int slot_index, uint16_t lenc, const uint8_t* command, StatusWord* sw) {
  // Without a data field there is nothing to perform, and an Le after the data is refused.
  if (!command || lenc <= kDataOffset || lenc > command[4] + kDataOffset) {
    *sw = kSwWrongLength;
    return false;
  }
  return CardStillThere(slot_index, sw);
}

int8_t PerformVerification(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenc,
                           const uint8_t* command, uint16_t* lenr, uint8_t* response) {
  return RunPinCommand(SCardSPEVerifyPin, slot, sad, dad, lenc, command, lenr, response);
}

int8_t ModifyVerificationData(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenc,
                              const uint8_t* command, uint16_t* lenr, uint8_t* response) {
  return RunPinCommand(SCardSPEChangePin, slot, sad, dad, lenc, command, lenr, response);
}

}  // namespace ctapi
