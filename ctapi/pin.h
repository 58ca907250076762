// SPDX-License-Identifier: BSD-3-Clause
// PERFORM VERIFICATION and MODIFY VERIFICATION DATA: the PIN is typed on the reader's PIN pad
// and presented to the card by pinlink, never passing through the application. Processor cards
// are handled here; memory cards in memcard/.
#pragma once

#include <cstdint>

#include "ctapi/result.h"

namespace ctapi {

// The handlers get the raw command, since the card command to perform is pinlink's to read.
using PinHandler = int8_t (*)(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenc,
                              const uint8_t* command, uint16_t* lenr, uint8_t* response);

int8_t PerformVerification(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenc,
                           const uint8_t* command, uint16_t* lenr, uint8_t* response);
int8_t ModifyVerificationData(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenc,
                              const uint8_t* command, uint16_t* lenr, uint8_t* response);

// The checks both kinds of card share before the PIN pad is used: a data field and no Le, a
// card in the reader, activated, its connection standing. False with the refusal's status word
// in *sw (the card state reset when the connection is gone).
bool PinCommandAdmitted(int slot, uint16_t lenc, const uint8_t* command, StatusWord* sw);

}  // namespace ctapi
