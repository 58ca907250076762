// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target for the insurance-card data check: the card's data area is outside input; the check
// must pass or fail any bytes without reading outside them. The first input byte picks H1.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "memcard/insurance.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t header[4] = {data[0], 0x13, 0x10, 0x91};
  std::vector<uint8_t> area(data + 1, data + size);
  memcard::InsuranceDataCheck(area.data(), static_cast<uint32_t>(area.size()), header);
  return 0;
}
