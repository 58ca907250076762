// SPDX-License-Identifier: BSD-3-Clause
// Opening and closing a terminal: the second half of CT_init and the whole of CT_close.
#pragma once

#include <cstdint>

namespace ctapi {

constexpr uint32_t kDisplayGiveBackPauseMs = 700;

// Runs after AdmitTerminal said yes: claims a slot and a ctn entry, establishes a PC/SC context
// and finds the reader of the port. 0, -1 (also when another process took the port in the
// meantime), or -11 when another process took the last free slot in the meantime.
int8_t OpenTerminal(uint16_t ctn, uint16_t pn);
// 0, -1 (ctn not open in this process), or the mapped result of releasing the context.
int8_t CloseTerminal(uint16_t ctn);

}  // namespace ctapi
