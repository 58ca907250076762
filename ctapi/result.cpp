// SPDX-License-Identifier: BSD-3-Clause
// The mapping of PC/SC results onto CT-API return codes and status words.
#include "ctapi/result.h"

#include "pcsc/pcsc.h"

namespace ctapi {
namespace {

struct ResultRule {
  uint32_t result;
  int8_t code;
  uint8_t sw2;
};

// The first matching row wins; everything else is -2 with 64 00.
constexpr ResultRule kResultRules[] = {
    {pcsc::kSuccess, OK, 0x00},
    {pcsc::kNoSmartcard, CTKORVIN_ERR_PCSC, 0xA1},
    {pcsc::kRemovedCard, CTKORVIN_ERR_PCSC, 0xA2},
    {pcsc::kPlatformBufferTooSmall, ERR_MEMORY, 0x00},
    // pcsc-lite's name for the platform's buffer-too-small code.
    {pcsc::kInsufficientBuffer, ERR_MEMORY, 0x00},
};

}  // namespace

int8_t MapSCardResult(uint32_t result, StatusWord* sw) {
  int8_t code = CTKORVIN_ERR_PCSC;
  uint8_t sw2 = 0x00;
  for (const ResultRule& rule : kResultRules) {
    if (rule.result == result) {
      code = rule.code;
      sw2 = rule.sw2;
      break;
    }
  }
  if (sw) *sw = StatusWord{0x64, sw2};
  return code;
}

}  // namespace ctapi
