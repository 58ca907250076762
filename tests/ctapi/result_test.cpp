// SPDX-License-Identifier: BSD-3-Clause
// The mapping of PC/SC results onto return codes and status words.
#include "ctapi/result.h"

#include <gtest/gtest.h>

#include "pcsc/pcsc.h"

namespace {

TEST(MapSCardResultTest, Table) {
  struct Case {
    uint32_t result;
    int8_t code;
    uint8_t sw2;
  };
  const Case cases[] = {
      {pcsc::kSuccess, 0, 0x00},
      {pcsc::kNoSmartcard, -2, 0xA1},
      {pcsc::kRemovedCard, -2, 0xA2},
      {0x7A, -11, 0x00},
      {pcsc::kInsufficientBuffer, -11, 0x00},
      {pcsc::kReaderUnavailable, -2, 0x00},
      {pcsc::kSharingViolation, -2, 0x00},
      {0xFFFFFFFF, -2, 0x00},
  };
  for (const Case& c : cases) {
    ctapi::StatusWord sw{0, 0};
    EXPECT_EQ(ctapi::MapSCardResult(c.result, &sw), c.code) << std::hex << c.result;
    EXPECT_EQ(sw.sw1, 0x64) << std::hex << c.result;
    EXPECT_EQ(sw.sw2, c.sw2) << std::hex << c.result;
  }
  EXPECT_EQ(ctapi::MapSCardResult(pcsc::kNoSmartcard, nullptr), -2);
}

}  // namespace
