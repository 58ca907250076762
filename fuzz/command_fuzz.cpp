// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target for terminal commands as CT_data receives them: the parser must accept or refuse
// any bytes without reading past them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ctapi/command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFF) return 0;
  // An exact-size copy, so that a read past the command is a report.
  std::vector<uint8_t> command(data, data + size);
  ctapi::CommandApdu parsed;
  ctapi::ParseCommandApdu(static_cast<uint16_t>(size), command.data(), &parsed);
  return 0;
}
