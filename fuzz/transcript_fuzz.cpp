// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target for ctkorvin-cli's decoding of answers: whatever a card or terminal sends back is
// described without reading past it. The first byte picks the command the answer belongs to.
#include <cstddef>
#include <cstdint>

#include "tools/ctkorvin-cli/transcript.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const cli::Bytes kCommands[] = {
      {0x20, 0x13, 0x00, 0x46, 0x00}, {0x20, 0x13, 0x00, 0x81, 0x00},
      {0x20, 0x13, 0x01, 0x80, 0x00}, {0x20, 0x12, 0x01, 0x01, 0x00},
      {0x00, 0xB0, 0x00, 0x00, 0x00}, {0x20, 0xFF, 0x00, 0x00, 0x00}};
  const cli::Bytes& command = kCommands[data[0] % 6];
  const cli::Bytes response(data + 1, data + size);
  const cli::Target target = command[0] == 0x20 ? cli::Target::kCt : cli::Target::kIcc;
  cli::DescribeAnswer(target, command, response);
  cli::DescribeInsuranceData(response.data(), response.size());
  return 0;
}
