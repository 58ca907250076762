// SPDX-License-Identifier: BSD-3-Clause
// Cards in the layout of the German health insurance card: the layout check (header, ATR file,
// directory) and the check of the whole data object with its checksum.
#pragma once

#include <cstdint>

namespace memcard {

// True when the card in `slot` has the insurance-card header, ATR file and directory. Reads
// the ATR file and the directory through memlink.
bool InsuranceLayoutCheck(int slot);

// True when `data` (the `count` bytes from the first address after the directory object up to
// address 255) holds a valid insurance data object, checksum and end byte included. `header`
// is H1 H2 H3 H4.
bool InsuranceDataCheck(const uint8_t* data, uint32_t count, const uint8_t header[4]);

}  // namespace memcard
