// SPDX-License-Identifier: BSD-3-Clause
// CT_data: checks the terminal number and the addresses, then hands the command to the card of
// ICC 1 or to the handler of a terminal command.
#pragma once

#include <cstdint>

namespace ctapi {

int8_t DispatchCtData(uint16_t ctn, uint8_t* dad, uint8_t* sad, uint16_t lenc,
                      const uint8_t* command, uint16_t* lenr, uint8_t* response);

}  // namespace ctapi
