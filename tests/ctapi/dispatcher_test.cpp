// SPDX-License-Identifier: BSD-3-Clause
// CT_data: the order of its checks, the address exchange in every outcome, the command parser,
// the instruction table with its capability gates, and the vendor commands.
#include "ctapi/dispatcher.h"

#include <cstring>
#include <string>
#include <vector>

#include "ctapi/command.h"
#include "ctapi/ctapi.h"
#include "pcsc/pcsc.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using ctapitest::Bytes;
using ctapitest::CtData;
using ctapitest::Exchange;

class DispatcherTest : public ctapitest::CtapiTest {
 protected:
  // A command of terminal 1 from SAD 2 to the terminal itself.
  Exchange ToCt(const Bytes& command, uint16_t capacity = 258) {
    return CtData(1, 1, command, capacity);
  }
};

TEST_F(DispatcherTest, RefusalsBeforeTheCommandIsLookedAt) {
  // Not attached yet: this process never opened a terminal.
  Exchange early = CtData(1, 1, {0x20, 0x13, 0x00, 0x46, 0x00});
  EXPECT_EQ(early.code, ERR_INVALID);
  EXPECT_EQ(early.response, (Bytes{0x64, 0x00}));
  Open("TREVANO Kelvane Birch 0", 1);
  struct Case {
    uint16_t ctn;
    uint8_t sad;
    uint8_t dad;
  };
  const Case cases[] = {{2, 2, 1}, {1, 1, 1}, {1, 0, 1}, {1, 3, 1}, {1, 2, 2}, {1, 5, 5}};
  for (const Case& c : cases) {
    Exchange out = CtData(c.ctn, c.dad, {0x20, 0x13, 0x00, 0x46, 0x00}, 258, c.sad);
    EXPECT_EQ(out.code, ERR_INVALID) << c.ctn << " " << int(c.sad) << " " << int(c.dad);
    EXPECT_EQ(out.response, (Bytes{0x64, 0x00}));
    EXPECT_EQ(out.lenr, 2);
    EXPECT_EQ(out.dad, c.sad);
    EXPECT_EQ(out.sad, 1);
  }
  // Remote host is a valid source.
  EXPECT_EQ(CtData(1, 1, {0x20, 0x13, 0x00, 0x46, 0x00}, 258, 5).code, OK);
}

TEST_F(DispatcherTest, ResponseBufferBelowTwoBytes) {
  Open("TREVANO Kelvane Birch 0", 1);
  Exchange out = CtData(1, 1, {0x20, 0x13, 0x00, 0x46, 0x00}, 1);
  EXPECT_EQ(out.code, ERR_MEMORY);
  EXPECT_EQ(out.lenr, 1);
  EXPECT_EQ(out.dad, 2);
  EXPECT_EQ(out.sad, 1);
  // An address error with *lenr 1 writes no status word either.
  Exchange bad = CtData(9, 1, {0x20, 0x13, 0x00, 0x46, 0x00}, 1, 2);
  EXPECT_EQ(bad.code, ERR_INVALID);
  EXPECT_EQ(bad.lenr, 1);
}

TEST_F(DispatcherTest, MissingPointersAreRefused) {
  Open("TREVANO Kelvane Birch 0", 1);
  uint8_t sad = 2, dad = 1, response[8];
  uint16_t lenr = sizeof response;
  uint8_t command[] = {0x20, 0x13, 0x00, 0x46, 0x00};
  EXPECT_EQ(CT_data(1, nullptr, &sad, 5, command, &lenr, response), ERR_INVALID);
  EXPECT_EQ(CT_data(1, &dad, nullptr, 5, command, &lenr, response), ERR_INVALID);
  EXPECT_EQ(CT_data(1, &dad, &sad, 5, command, nullptr, response), ERR_INVALID);
  sad = 2, dad = 1;
  EXPECT_EQ(CT_data(1, &dad, &sad, 5, command, &lenr, nullptr), ERR_INVALID);
  sad = 2, dad = 1;
  EXPECT_EQ(CT_data(1, &dad, &sad, 5, nullptr, &lenr, response), ERR_INVALID);
}

TEST_F(DispatcherTest, CommandParser) {
  struct Case {
    Bytes command;
    int result;
    uint8_t lc, le, header_only, no_le;
  };
  const Case cases[] = {
      {{0x20, 0x10, 0x00}, -1, 0, 0, 0, 0},
      {{0x20, 0x10, 0x00, 0x00}, 0, 0, 0, 1, 1},
      {{0x20, 0x10, 0x00, 0x00, 0x07}, 0, 0, 7, 0, 0},
      {{0x20, 0x10, 0x00, 0x00, 0x00, 0x01}, 0, 0, 1, 0, 0},
      {{0x20, 0x11, 0x00, 0x00, 0x00, 0x01}, -1, 0, 0, 0, 0},
      {{0x20, 0x13, 0x00, 0x46, 0x01, 0x01}, -1, 0, 0, 0, 0},
      {{0x20, 0x12, 0x01, 0x00, 0x02, 0xAA, 0xBB}, 0, 2, 0, 0, 1},
      {{0x20, 0x12, 0x01, 0x00, 0x02, 0xAA, 0xBB, 0x05}, 0, 2, 5, 0, 0},
      {{0x20, 0x12, 0x01, 0x00, 0x03, 0xAA, 0xBB}, -1, 0, 0, 0, 0},
      {{0x20, 0x12, 0x01, 0x00, 0x01, 0xAA, 0xBB, 0xCC}, -1, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    ctapi::CommandApdu parsed;
    ASSERT_EQ(
        ctapi::ParseCommandApdu(static_cast<uint16_t>(c.command.size()), c.command.data(), &parsed),
        c.result)
        << c.command.size();
    if (c.result != 0) continue;
    EXPECT_EQ(parsed.lc, c.lc);
    EXPECT_EQ(parsed.le, c.le);
    EXPECT_EQ(parsed.header_only, c.header_only);
    EXPECT_EQ(parsed.no_le, c.no_le);
    if (c.lc) {
      EXPECT_EQ(parsed.data[0], 0xAA);
    }
  }
  Bytes longest(260, 0x00);
  longest[0] = 0x20;
  longest[4] = 0xFF;  // 5 + 255 = 260: a data field without Le
  ctapi::CommandApdu parsed;
  EXPECT_EQ(ctapi::ParseCommandApdu(260, longest.data(), &parsed), 0);
  EXPECT_EQ(parsed.lc, 255);
  longest.push_back(0);
  EXPECT_EQ(ctapi::ParseCommandApdu(261, longest.data(), &parsed), -1);
}

TEST_F(DispatcherTest, InstructionTable) {
  Open("TREVANO Kelvane Birch 0", 1);
  struct Case {
    Bytes command;
    Bytes response;
  };
  const Case cases[] = {
      {{0x20, 0x11, 0x00, 0x00, 0x00, 0x01}, {0x67, 0x00}},
      {{0x20, 0x10, 0x00, 0x00, 0x00, 0x01}, {0x6C, 0x00}},  // reaches RESET CT: Le not 0
      {{0x20, 0x10, 0x00, 0x00}, {0x90, 0x00}},
      {{0x00, 0x11, 0x00, 0x00}, {0x6E, 0x00}},
      {{0x20, 0x20, 0x00, 0x00}, {0x6D, 0x00}},
      {{0x20, 0x12, 0x00, 0x00}, {0x6A, 0x00}},
      {{0x20, 0x13, 0x02, 0x46, 0x00}, {0x6A, 0x00}},
      {{0x20, 0x14, 0x00, 0x00}, {0x6A, 0x00}},
      {{0x20, 0x15, 0x02, 0x00}, {0x6A, 0x00}},
      {{0x20, 0x16, 0x50, 0x00}, {0x6D, 0x00}},  // no keypad input on this reader
      {{0x20, 0x17, 0x40, 0x00}, {0x6D, 0x00}},  // no display
      {{0x20, 0x17, 0x41, 0x00}, {0x6D, 0x00}},
      {{0x20, 0x18, 0x01, 0x00, 0x00}, {0x64, 0x00}},  // no PIN pad
      {{0x20, 0x18, 0x02, 0x00, 0x00}, {0x6A, 0x00}},  // P1 comes before the PIN pad
      {{0x20, 0x19, 0x01, 0x01, 0x00}, {0x6A, 0x00}},
      {{0x20, 0x18, 0x01, 0x00, 0x01, 0x00, 0x08}, {0x6A, 0x00}},  // an Le
      {{0x20, 0x13}, {0x67, 0x00}},
  };
  for (const Case& c : cases) {
    Exchange out = ToCt(c.command);
    EXPECT_EQ(out.code, OK);
    EXPECT_EQ(out.response, c.response)
        << std::hex << int(c.command[1]) << " " << int(c.command[2]);
    EXPECT_EQ(out.sad, 1);
    EXPECT_EQ(out.dad, 2);
  }
}

TEST_F(DispatcherTest, CapabilityGates) {
  // The Cypress has a display, a PIN pad and keypad input.
  Open("TREVANO Kelvane Cypress 0", 30, true);
  struct Case {
    Bytes command;
    Bytes response;
  };
  const Case cases[] = {
      {{0x20, 0x16, 0x51, 0x00}, {0x6A, 0x00}},  // gate open, P1 wrong
      {{0x20, 0x17, 0x41, 0x00}, {0x6A, 0x00}},
      {{0x20, 0x18, 0x01, 0x01, 0x00}, {0x6A, 0x00}},
      // INPUT and OUTPUT reach their handlers: no key comes, an empty text is shown.
      {{0x20, 0x16, 0x50, 0x00}, {0x64, 0x00}},
      {{0x20, 0x17, 0x40, 0x00}, {0x90, 0x00}},
      // The PIN commands reach their handlers: without a data field there is nothing to do.
      {{0x20, 0x18, 0x01, 0x00, 0x00}, {0x67, 0x00}},
      {{0x20, 0x19, 0x01, 0x00, 0x00}, {0x67, 0x00}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToCt(c.command).response, c.response)
        << std::hex << int(c.command[1]) << " " << int(c.command[2]);
  }
}

TEST_F(DispatcherTest, VendorReaderName) {
  Open("TREVANO Kelvane Birch 0", 1);
  const std::string name = "TREVANO Kelvane Birch 0";
  Exchange out = ToCt({0x20, 0xFF, 0x00, 0x00, 0x00});
  EXPECT_EQ(out.code, OK);
  EXPECT_EQ(std::string(out.response.begin(), out.response.end() - 2), name);
  EXPECT_EQ(Bytes(out.response.end() - 2, out.response.end()), (Bytes{0x90, 0x00}));
  EXPECT_EQ(out.lenr, name.size() + 2);
  // Exactly enough room, and one byte less.
  EXPECT_EQ(ToCt({0x20, 0xFF, 0x00, 0x00}, name.size() + 2).code, OK);
  Exchange small = ToCt({0x20, 0xFF, 0x00, 0x00}, name.size() + 1);
  EXPECT_EQ(small.code, ERR_MEMORY);
  EXPECT_EQ(small.response, (Bytes{0x64, 0x00}));
}

TEST_F(DispatcherTest, VendorReaderNameOfOlderO2MicroReaders) {
  AddReaders({"O2Micro PCMCIA Reader 2", "O2Micro PCMCIA Reader 4"});
  ASSERT_EQ(CT_init(1, 202), OK);
  ASSERT_EQ(CT_init(2, 204), OK);
  Exchange renamed = ToCt({0x20, 0xFF, 0x00, 0x00, 0x00});
  EXPECT_EQ(std::string(renamed.response.begin(), renamed.response.end() - 2),
            "TREVANO Kelvane Ash 2");
  Exchange kept = CtData(2, 1, {0x20, 0xFF, 0x00, 0x00, 0x00}, 258, 2);
  EXPECT_EQ(std::string(kept.response.begin(), kept.response.end() - 2), "O2Micro PCMCIA Reader 4");
}

TEST_F(DispatcherTest, VendorOptionAndValue) {
  Open("TREVANO Kelvane Birch 0", 1);
  EXPECT_EQ(ToCt({0x20, 0xFF, 0x00, 0x01, 0x01, 0x01}).response, (Bytes{0x90, 0x00}));
  EXPECT_EQ(SlotAt(0).vendor_option, 1u);
  EXPECT_EQ(ToCt({0x20, 0xFF, 0x00, 0x01, 0x01, 0x05}).response, (Bytes{0x90, 0x00}));
  EXPECT_EQ(SlotAt(0).vendor_option, 0u);
  EXPECT_EQ(ToCt({0x20, 0xFF, 0x00, 0x02, 0x02, 0x12, 0x34}).response, (Bytes{0x90, 0x00}));
  EXPECT_EQ(SlotAt(0).vendor_value, 0x1234u);
  // Wrong data lengths and unknown P1 P2.
  EXPECT_EQ(ToCt({0x20, 0xFF, 0x00, 0x01, 0x02, 0x01, 0x01}).response, (Bytes{0x6D, 0x00}));
  EXPECT_EQ(ToCt({0x20, 0xFF, 0x00, 0x02, 0x01, 0x12}).response, (Bytes{0x6D, 0x00}));
  EXPECT_EQ(ToCt({0x20, 0xFF, 0x01, 0x00, 0x00}).response, (Bytes{0x6D, 0x00}));
  EXPECT_EQ(SlotAt(0).vendor_value, 0x1234u);
}

}  // namespace
