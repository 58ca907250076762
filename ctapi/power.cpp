// SPDX-License-Identifier: BSD-3-Clause
// The card power commands of the terminal: RESET CT of the terminal and of ICC 1, REQUEST ICC,
// DEACTIVATE ICC and EJECT ICC. They connect, reset, power down and forget the card connection
// kept in the terminal's slot, and answer the card's answer-to-reset or its historical bytes.
#include "ctapi/power.h"

#include <cstring>

#include "ctapi/card_link.h"
#include "ctapi/result.h"
#include "ctapi/slots.h"
#include "memcard/memcard.h"
#include "pcsc/pcsc.h"
#include "support/strings.h"

namespace ctapi {
namespace {

static_assert(kAtrBufferSize == memcard::kAtrBufferSize, "one answer-to-reset buffer size");

constexpr StatusWord kSwProcessorCard = {0x90, 0x01};  // processor card powered; card removed
constexpr StatusWord kSwNotDone = {0x62, 0x00};        // no card came, or it was not taken out
constexpr StatusWord kSwKeptPowered = {0x62, 0x01};    // the card was powered and left so
constexpr StatusWord kSwWrongObjectLength = {0x69, 0x00};
constexpr StatusWord kSwWrongLe = {0x6C, 0x00};

constexpr uint32_t kBothProtocols = pcsc::kProtocolT0 | pcsc::kProtocolT1;
constexpr uint32_t kResetQueryMs = 10;
constexpr uint32_t kShortQueryMs = 1;
constexpr uint32_t kMsPerSecond = 1000;
constexpr uint8_t kTagDisplayText = 0x50;
constexpr uint8_t kTagTimeout = 0x80;
constexpr uint32_t kMemoryCardHistoricalBytes = 2;

// What a power-up answers after the status bytes' data.
enum class AtrData { kNone, kWhole, kHistorical };

bool StartsWith(const char* name, const char* prefix) {
  return SafeStrCompareN(name, prefix, SafeStrLen(prefix)) == 0;
}

// Readers that keep a powered card powered on REQUEST ICC, as the keep-power flag does.
bool IsVuzodedReader(const TerminalSlot& slot) {
  return StartsWith(slot.reader_name, "Vuzoded") || StartsWith(slot.reader_name, "FSC");
}

// Closes the card connection, leaving the card as it is, and forgets it: no handle may stay
// open in the resource manager once the slot no longer names it.
void DropConnection(TerminalSlot& slot) {
  if (slot.card_handle != kNoCardHandle) pcsc::SCardDisconnect(slot.card_handle, pcsc::kLeaveCard);
  slot.card_handle = kNoCardHandle;
}

// Powers the card down and makes a fresh connection: a cold reset. The old handle is closed
// whatever the connect does, so the slot never keeps it.
pcsc::Result ColdReset(TerminalSlot& slot) {
  pcsc::SCardDisconnect(slot.card_handle, pcsc::kUnpowerCard);
  slot.card_handle = kNoCardHandle;
  return ConnectSequence(slot);
}

// The common end of RESET CT for ICC 1 and REQUEST ICC once the connection stands: reads the
// answer-to-reset, lets the memory-card detection look at it and answers it. The size check
// comes before any data are written.
int8_t AnswerPowerUp(int index, TerminalSlot& slot, AtrData choice, bool kept_powered,
                     uint16_t* lenr, uint8_t* response) {
  uint8_t atr[kAtrBufferSize] = {};
  uint32_t atr_length = kAtrBufferSize;
  if (pcsc::SCardGetAttrib(slot.card_handle, pcsc::kAttrAtrString, atr, &atr_length) !=
      pcsc::kSuccess) {
    return StatusOnly(lenr, response, kSwExecutionError);
  }
  if (atr_length > kAtrBufferSize) atr_length = kAtrBufferSize;
  slot.memory_card = 0;
  memcard::DetectMemoryCard(index, atr, &atr_length);
  if (atr_length > kAtrBufferSize) atr_length = kAtrBufferSize;
  if (slot.card_refused == 1) return StatusOnly(lenr, response, kSwExecutionError);

  const bool memory_card = slot.memory_card == 1;
  uint32_t first = 0;
  uint32_t count = 0;
  uint32_t needed = 2;
  if (choice == AtrData::kWhole) {
    count = atr_length;
    needed = count + 2;
  } else if (choice == AtrData::kHistorical) {
    // K counts from T0 of the buffer as it now stands, for a memory card as well; the room
    // asked for is K + 2, and never less than what is written.
    const uint32_t k = atr_length >= 2 ? (atr[1] & 0x0F) : 0;
    if (memory_card) {
      count = atr_length < kMemoryCardHistoricalBytes ? atr_length : kMemoryCardHistoricalBytes;
      first = atr_length - count;
    } else {
      HistoricalBytes(atr, atr_length, &first, &count);
    }
    needed = (k > count ? k : count) + 2;
  }
  if (needed > *lenr) return StatusOnly(lenr, response, kSwExecutionError, ERR_MEMORY);

  std::memcpy(response, atr + first, count);
  const StatusWord sw = kept_powered ? kSwKeptPowered : memory_card ? kSwSuccess : kSwProcessorCard;
  PutStatusWord(response, static_cast<uint16_t>(count), lenr, sw);
  slot.icc_active = 1;
  return OK;
}

int8_t ResetTerminal(TerminalSlot& slot, uint16_t* lenr, uint8_t* response,
                     const CommandApdu& command) {
  if (command.lc != 0 || command.le != 0) return StatusOnly(lenr, response, kSwWrongLe);
  if (command.p2 != 0x00) return StatusOnly(lenr, response, kSwWrongParameters);
  if (slot.card_handle != kNoCardHandle) {
    pcsc::SCardDisconnect(slot.card_handle, pcsc::kResetCard);
    slot.card_handle = kNoCardHandle;
  }
  slot.icc_active = 0;
  slot.card_refused = 1;
  return StatusOnly(lenr, response, kSwSuccess);
}

int8_t ResetIcc(int index, TerminalSlot& slot, uint16_t* lenr, uint8_t* response,
                const CommandApdu& command) {
  if (command.lc != 0 || command.le != 0) return StatusOnly(lenr, response, kSwWrongLe);
  if (command.p2 > 2) return StatusOnly(lenr, response, kSwWrongParameters);
  uint32_t event_state = 0;
  if (QueryReader(slot, kResetQueryMs, pcsc::kStateUnaware, &event_state) != pcsc::kSuccess) {
    return StatusOnly(lenr, response, kSwExecutionError);
  }
  if (event_state & pcsc::kStateEmpty) return StatusOnly(lenr, response, kSwNoCard);

  pcsc::Result outcome;
  if (slot.card_handle != kNoCardHandle) {
    outcome = pcsc::SCardReconnect(slot.card_handle, pcsc::kShareShared, kBothProtocols,
                                   pcsc::kLeaveCard, &slot.active_protocol);
    // A handle that cannot be reconnected stays as it is; the next power-up tries it again.
    if (outcome == pcsc::kSuccess) outcome = ColdReset(slot);
  } else {
    outcome = ConnectSequence(slot);
  }
  // A failed connect leaves no handle behind: the connect sequence stores one only on success.
  if (outcome != pcsc::kSuccess) return StatusOnly(lenr, response, kSwExecutionError);
  const AtrData choice = command.p2 == 0x01   ? AtrData::kWhole
                         : command.p2 == 0x02 ? AtrData::kHistorical
                                              : AtrData::kNone;
  return AnswerPowerUp(index, slot, choice, false, lenr, response);
}

// The waiting time of REQUEST ICC in seconds; only the first data object counts. False with
// *sw when the object is malformed (a 0x80 object whose value is missing counts as such).
bool RequestWaitSeconds(const CommandApdu& command, uint32_t* seconds, StatusWord* sw) {
  *seconds = 0;
  if (command.lc == 1) {
    *seconds = command.data[0];
  } else if (command.lc > 1 && command.data[0] == kTagTimeout) {
    if (command.data[1] != 0x01 || command.lc < 3) {
      *sw = kSwWrongObjectLength;
      return false;
    }
    *seconds = command.data[2];
  }
  return true;
}

int8_t RequestCard(int index, TerminalSlot& slot, uint16_t* lenr, uint8_t* response,
                   const CommandApdu& command) {
  if (command.le != 0) return StatusOnly(lenr, response, kSwWrongLe);
  uint32_t wait_s = 0;
  StatusWord refusal = kSwWrongParameters;
  if (!RequestWaitSeconds(command, &wait_s, &refusal)) return StatusOnly(lenr, response, refusal);

  if (wait_s != 0) {
    uint32_t event_state = 0;
    pcsc::Result result = QueryReader(slot, kShortQueryMs, pcsc::kStateUnaware, &event_state);
    if (result == pcsc::kSuccess && (event_state & pcsc::kStateEmpty)) {
      result = QueryReader(slot, wait_s * kMsPerSecond, event_state & ~pcsc::kStateChanged,
                           &event_state);
    }
    // Other failures of the wait are left to the connect below.
    if (result == pcsc::kTimeout) return StatusOnly(lenr, response, kSwNotDone);
  }

  bool kept_powered = false;
  pcsc::Result outcome;
  if (slot.card_handle != kNoCardHandle) {
    uint8_t atr[kAtrBufferSize];
    uint32_t atr_length = sizeof atr;
    const bool replaced = pcsc::SCardGetAttrib(slot.card_handle, pcsc::kAttrAtrString, atr,
                                               &atr_length) == pcsc::kRemovedCard;
    outcome = pcsc::SCardReconnect(slot.card_handle, pcsc::kShareShared, kBothProtocols,
                                   pcsc::kLeaveCard, &slot.active_protocol);
    if (outcome == pcsc::kSuccess) {
      if ((slot.port_flag == 0 && !IsVuzodedReader(slot)) || replaced) {
        outcome = ColdReset(slot);
      } else {
        kept_powered = true;
      }
    }
  } else {
    outcome = ConnectSequence(slot);
  }
  if (outcome != pcsc::kSuccess) {
    DropConnection(slot);
    return StatusOnly(lenr, response,
                      outcome == pcsc::kRemovedCard ? kSwNoCard : kSwExecutionError);
  }
  const AtrData choice = (command.p2 & 0x0F) == 0x01   ? AtrData::kWhole
                         : (command.p2 & 0x0F) == 0x02 ? AtrData::kHistorical
                                                       : AtrData::kNone;
  return AnswerPowerUp(index, slot, choice, kept_powered, lenr, response);
}

int8_t Deactivate(TerminalSlot& slot, uint16_t* lenr, uint8_t* response,
                  const CommandApdu& command) {
  if (command.le != 0 || command.lc != 0) return StatusOnly(lenr, response, kSwWrongLength);
  uint32_t event_state = 0;
  if (QueryReader(slot, 0, pcsc::kStateUnaware, &event_state) != pcsc::kSuccess ||
      (event_state & pcsc::kStateEmpty)) {
    return StatusOnly(lenr, response, kSwNoCard);
  }
  if (slot.card_handle == kNoCardHandle) {
    pcsc::CardHandle card = 0;
    uint32_t protocol = 0;
    const pcsc::Result connected = pcsc::SCardConnectA(
        slot.context, slot.reader_name, pcsc::kShareShared, kBothProtocols, &card, &protocol);
    if (connected != pcsc::kSuccess) {
      StatusWord sw = kSwExecutionError;
      MapSCardResult(connected, &sw);
      return StatusOnly(lenr, response, sw);
    }
    slot.card_handle = card;
    slot.active_protocol = protocol;
  }
  const pcsc::Result disconnected = pcsc::SCardDisconnect(slot.card_handle, pcsc::kUnpowerCard);
  slot.card_handle = kNoCardHandle;
  if (disconnected != pcsc::kSuccess) return StatusOnly(lenr, response, kSwExecutionError);

  const pcsc::Result queried = QueryReader(slot, kShortQueryMs, pcsc::kStateUnaware, &event_state);
  if (queried != pcsc::kSuccess) {
    return StatusOnly(lenr, response, kSwExecutionError, MapSCardResult(queried, nullptr));
  }
  return StatusOnly(lenr, response, (event_state & pcsc::kStateEmpty) ? kSwSuccess : kSwNotDone);
}

// The time-out of EJECT ICC in milliseconds from its data field: one byte of seconds, or data
// objects (tag, length, value) of which 0x50 (display text) is skipped and 0x80 gives the
// seconds. A single trailing byte is not read, nor anything past Lc.
bool EjectTimeoutMs(const CommandApdu& command, uint32_t* timeout_ms, StatusWord* sw) {
  *timeout_ms = 0;
  if (command.lc == 1) {
    *timeout_ms = command.data[0] * kMsPerSecond;
    return true;
  }
  for (uint32_t at = 0; command.lc > 1 && at + 1 < command.lc;) {
    const uint8_t tag = command.data[at];
    const uint8_t length = command.data[at + 1];
    if (tag == kTagDisplayText) {
      at += 2u + length;
    } else if (tag == kTagTimeout) {
      if (length != 1 || at + 2 >= command.lc) {
        *sw = kSwWrongObjectLength;
        return false;
      }
      *timeout_ms = command.data[at + 2] * kMsPerSecond;
      at += 3;
    } else {
      *sw = kSwWrongParameters;
      return false;
    }
  }
  return true;
}

int8_t Eject(TerminalSlot& slot, uint16_t* lenr, uint8_t* response, const CommandApdu& command) {
  if (command.le != 0) return StatusOnly(lenr, response, kSwWrongLe);
  uint8_t protocol_value[4];
  uint32_t protocol_length = sizeof protocol_value;
  if (pcsc::SCardGetAttrib(slot.card_handle, pcsc::kAttrCurrentProtocolType, protocol_value,
                           &protocol_length) != pcsc::kSuccess) {
    slot.icc_active = 0;
  }
  uint32_t timeout_ms = 0;
  StatusWord refusal = kSwWrongParameters;
  if (!EjectTimeoutMs(command, &timeout_ms, &refusal)) return StatusOnly(lenr, response, refusal);

  if (slot.card_handle != kNoCardHandle) {
    if (pcsc::SCardReconnect(slot.card_handle, pcsc::kShareShared, kBothProtocols, pcsc::kResetCard,
                             &slot.active_protocol) != pcsc::kSuccess) {
      return StatusOnly(lenr, response, kSwSuccess);  // no card to eject
    }
  } else {
    pcsc::CardHandle card = 0;
    uint32_t protocol = 0;
    if (pcsc::SCardConnectA(slot.context, slot.reader_name, pcsc::kShareShared, kBothProtocols,
                            &card, &protocol) != pcsc::kSuccess) {
      return StatusOnly(lenr, response, kSwSuccess);
    }
    slot.card_handle = card;
    slot.active_protocol = protocol;
  }
  pcsc::SCardDisconnect(slot.card_handle, pcsc::kUnpowerCard);
  slot.card_handle = kNoCardHandle;
  if (timeout_ms == 0) return StatusOnly(lenr, response, kSwSuccess);

  uint32_t event_state = 0;
  if (QueryReader(slot, kShortQueryMs, pcsc::kStateUnaware, &event_state) != pcsc::kSuccess) {
    return StatusOnly(lenr, response, kSwSuccess);
  }
  if (event_state & pcsc::kStateEmpty) return StatusOnly(lenr, response, kSwProcessorCard);
  // Waits for the removal: the state just seen, change bit and all, is the one to leave.
  const pcsc::Result waited = QueryReader(slot, timeout_ms, event_state, &event_state);
  if (waited == pcsc::kTimeout) return StatusOnly(lenr, response, kSwNotDone);
  if (waited != pcsc::kSuccess) return StatusOnly(lenr, response, kSwSuccess);
  return StatusOnly(lenr, response,
                    (event_state & pcsc::kStateEmpty) ? kSwProcessorCard : kSwNotDone);
}

}  // namespace

void HistoricalBytes(const uint8_t* atr, uint32_t length, uint32_t* first, uint32_t* count) {
  *first = 0;
  *count = 0;
  if (!atr || length < 2) return;
  uint32_t k = atr[1] & 0x0F;
  // A malformed answer too short for its K historical bytes gives what it has after TS and T0;
  // no byte outside the answer is named.
  if (k > length - 2) k = length - 2;
  uint8_t check = 0;
  for (uint32_t i = 1; i + 1 < length; ++i)
    check ^= atr[i];
  if (check == atr[length - 1]) {
    *first = length - 1 - k;  // the last byte is a check byte
  } else {
    *first = length - k;
  }
  *count = k;
}

int8_t ResetCt(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
               const CommandApdu& command) {
  return RunHandler(slot, sad, dad, lenr, response, command,
                    [slot](TerminalSlot& s, uint16_t* n, uint8_t* r, const CommandApdu& c) {
                      if (c.p1 == 0x00) return ResetTerminal(s, n, r, c);
                      if (c.p1 == 0x01) return ResetIcc(slot, s, n, r, c);
                      return StatusOnly(n, r, kSwWrongParameters);
                    });
}

int8_t RequestIcc(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
                  const CommandApdu& command) {
  return RunHandler(slot, sad, dad, lenr, response, command,
                    [slot](TerminalSlot& s, uint16_t* n, uint8_t* r, const CommandApdu& c) {
                      return RequestCard(slot, s, n, r, c);
                    });
}

int8_t DeactivateIcc(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
                     const CommandApdu& command) {
  return RunHandler(slot, sad, dad, lenr, response, command, Deactivate);
}

int8_t EjectIcc(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
                const CommandApdu& command) {
  return RunHandler(slot, sad, dad, lenr, response, command,
                    [](TerminalSlot& s, uint16_t* n, uint8_t* r, const CommandApdu& c) {
                      const int8_t code = Eject(s, n, r, c);
                      // Whatever the outcome, the terminal holds no card connection afterwards.
                      DropConnection(s);
                      return code;
                    });
}

}  // namespace ctapi
