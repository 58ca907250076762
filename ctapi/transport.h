// SPDX-License-Identifier: BSD-3-Clause
// The transport of commands to a processor card: the connection is refreshed before every
// command, and the card's answer comes back exactly as PC/SC delivered it.
#pragma once

#include <cstdint>

namespace ctapi {

// 0 with the card's answer (or 6F 00 when the card cannot be reached), or -11 with *lenr = 0
// when the answer does not fit the response.
int8_t TransmitToIcc(int slot, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                     uint8_t* response);

}  // namespace ctapi
