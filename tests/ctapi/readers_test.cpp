// SPDX-License-Identifier: BSD-3-Clause
// Reader naming: port ranges, alternate names, the reader table, the count of known readers and
// the SinglePort switch.
#include "ctapi/readers.h"

#include <cstring>
#include <string>

#include "pcsc/pcsc.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using ctapitest::CtapiTest;

std::string NameOf(uint32_t port) {
  char name[ctapi::kBuiltNameSize];
  ctapi::BuildReaderName(port, name, sizeof name);
  return name;
}

TEST(BuildReaderNameTest, PortRangesAndTheirEdges) {
  struct Case {
    uint32_t port;
    const char* name;
  };
  const Case cases[] = {
      {0, "Unknown reader"},
      {1, "TREVANO Kelvane Birch 0"},
      {19, "TREVANO Kelvane Birch 18"},
      {20, "TREVANO Kelvane Alder 0"},
      {29, "TREVANO Kelvane Alder 9"},
      {30, "TREVANO Kelvane Cypress 0"},
      {37, "TREVANO Kelvane Spruce 2"},
      {44, "TREVANO Kelvane Fir 4"},
      {45, "TREVANO Kelvane Larch 0"},
      {59, "TREVANO Kelvane Cedar 9"},
      {60, "TREVANO Kelvane Maple 0"},
      {74, "TREVANO Kelvane Oak 4"},
      {75, "TREVANO Kelvane Pine 0"},
      {84, "TREVANO Kelvane Rowan 4"},
      {89, "TREVANO Kelvane Aspen 4"},
      {90, "Unknown reader"},
      {99, "Unknown reader"},
      {100, "TREVANO Kelvane Elm 0"},
      {119, "TREVANO Kelvane Hazel 9"},
      {120, "TREVANO Kelvane Willow 0"},
      {134, "TREVANO Kelvane Yew 4"},
      {139, "TREVANO Kelvane Beech 4"},
      {140, "Unknown reader"},
      {150, "Cherry SmartBoard XX44 0"},
      {159, "Cherry SmartTerminal XX44 4"},
      {160, "TREVANO Kelvane Juniper 0"},
      {169, "TREVANO Kelvane Poplar 4"},
      {174, "TREVANO Kelvane Laurel 4"},
      {176, "USB CCID Smart Card Reader 1"},
      {180, "PC-Card Smart Card Reader 0"},
      {189, "Serial Smart Card Reader 4"},
      {190, "Unknown reader"},
      {200, "O2Micro PCMCIA Reader 0"},
      {219, "Vuzoded Divudaz USB Smartcard Reader 9"},
      {222, "Vuzoded Divudaz Computers SmartCard-Reader Keyboard USB 2A 2"},
      {225, "Vuzoded Divudaz Computers SmartCard-Reader USB 2A 0"},
      {234, "Vuzoded Divudaz Computers SmartCard-Reader USB 2C 4"},
      {235, "Unknown reader"},
      {240, "SchlumbergerSema Reflex PinPad 0"},
      {243, "Oberthur Card Systems OCR 145 1"},
      {244, "Unknown reader"},
      {0x201, "Unknown reader"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NameOf(c.port), c.name) << c.port;
}

TEST(BuildReaderNameTest, NamesAreCutToTheBuffer) {
  char name[8];
  ctapi::BuildReaderName(1, name, sizeof name);
  EXPECT_STREQ(name, "TREVANO");
}

TEST(BuildAlternateReaderNameTest, OnlyTheShortNameRanges) {
  struct Case {
    uint32_t port;
    const char* name;
  };
  const Case cases[] = {
      {222, "FSC SCR Keyboard USB 2A 2"}, {225, "FSC SCR USB 2A 0"}, {229, "FSC SCR USB 2A 4"},
      {230, "FSC SCR USB 2C 0"},          {234, "FSC SCR USB 2C 4"},
  };
  for (const Case& c : cases) {
    char name[ctapi::kBuiltNameSize];
    ctapi::BuildReaderName(c.port, name, sizeof name);
    ctapi::BuildAlternateReaderName(c.port, name, sizeof name);
    EXPECT_STREQ(name, c.name) << c.port;
  }
  for (uint32_t port : {5u, 219u, 235u}) {
    char name[ctapi::kBuiltNameSize];
    ctapi::BuildReaderName(port, name, sizeof name);
    std::string before = name;
    ctapi::BuildAlternateReaderName(port, name, sizeof name);
    EXPECT_EQ(before, name) << port;
  }
}

TEST(LookupReaderAttributesTest, RowsDefaultsAndPrefixMatching) {
  struct Case {
    const char* reader;
    uint8_t capabilities;
    uint8_t keypad_input;
  };
  const Case cases[] = {
      {"TREVANO Kelvane Cypress 0", 3, 1},
      {"TREVANO Kelvane Spruce 3", 3, 1},
      {"TREVANO Kelvane Maple 0", 2, 0},
      {"TREVANO Kelvane Pine 1", 2, 1},
      {"TREVANO Kelvane Birch 0", 0, 0},
      {"Halvoro KelvaneUSB 1", 0, 0},  // row 0 comes first
      {"Cherry SmartBoard XX44 0", 2, 0},
      {"FSC SCR USB 2C 0", 2, 0},
      {"SchlumbergerSema Reflex PinPad 0", 0, 0},
      {"Something else", 0, 0},
  };
  for (const Case& c : cases) {
    ctapi::TerminalSlot slot{};
    slot.reader_class = 9;
    slot.reader_units = 9;
    ctapi::LookupReaderAttributes(slot, c.reader);
    EXPECT_EQ(slot.capabilities, c.capabilities) << c.reader;
    EXPECT_EQ(slot.keypad_input, c.keypad_input) << c.reader;
    EXPECT_EQ(slot.reader_class, 0) << c.reader;
    EXPECT_EQ(slot.reader_units, 1) << c.reader;
  }
}

TEST(ReaderTableTest, ThirtySixRowsEndingInZero) {
  int rows = 0;
  for (const ctapi::ReaderRow* row = ctapi::kReaderTable; row->name[0] != '\0'; ++row) {
    std::string name = row->name;
    ASSERT_GE(name.size(), 3u);
    EXPECT_EQ(name.substr(name.size() - 2), " 0") << name;
    EXPECT_LE(name.size(), 99u);
    ++rows;
  }
  EXPECT_EQ(rows, 36);
  EXPECT_STREQ(ctapi::kReaderTable[0].name, "Halvoro Kelvane 0");
  EXPECT_STREQ(ctapi::kReaderTable[35].name, "TREVANO Kelvane Beech 0");
}

class KnownReadersTest : public CtapiTest {
 protected:
  uint32_t Count() {
    uint32_t context = 0;
    EXPECT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context), pcsc::kSuccess);
    uint32_t count = ctapi::CountKnownReaders(context);
    pcsc::SCardReleaseContext(context);
    return count;
  }
};

TEST_F(KnownReadersTest, CountsReadersOfKnownMakers) {
  EXPECT_EQ(Count(), 0u);
  AddReaders({"Generic Reader 0", "Cherry SmartBoard XX44 0", "FSC SCR USB 2A 0",
              "O2Micro PCMCIA Reader 0", "Acme 0"});
  EXPECT_EQ(Count(), 3u);
  EXPECT_EQ(sim::CountCalls(sim::Fn::kFreeMemory), 1u);  // the list is given back
}

TEST_F(KnownReadersTest, UnavailableCypressCountsOthersDoNot) {
  AddReaders({"TREVANO Kelvane Cypress 0", "TREVANO Kelvane Birch 0"});
  sim::SetUnavailable("TREVANO Kelvane Cypress 0", true, pcsc::kSuccess);
  sim::SetUnavailable("TREVANO Kelvane Birch 0", true, pcsc::kSuccess);
  EXPECT_EQ(Count(), 1u);
  // Whatever the status query answered.
  sim::SetUnavailable("TREVANO Kelvane Cypress 0", true, pcsc::kReaderUnavailable);
  EXPECT_EQ(Count(), 1u);
}

TEST_F(KnownReadersTest, FailedListingCountsNothing) {
  AddReaders({"TREVANO Kelvane Birch 0"});
  sim::FailCall(sim::Fn::kListReaders, 1, pcsc::kNoService);
  EXPECT_EQ(Count(), 0u);
  EXPECT_EQ(Count(), 1u);
}

TEST_F(KnownReadersTest, ProbeUsesOneMillisecondAndUnawareState) {
  AddReaders({"TREVANO Kelvane Birch 0"});
  uint32_t context = 0;
  ASSERT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context), pcsc::kSuccess);
  uint32_t event_state = 0;
  EXPECT_TRUE(ctapi::ProbeReader(context, "TREVANO Kelvane Birch 0", &event_state));
  EXPECT_TRUE(event_state & pcsc::kStateEmpty);
  EXPECT_FALSE(ctapi::ProbeReader(context, "TREVANO Kelvane Birch 1", &event_state));
  const sim::Call& probe = sim::Calls().back();
  EXPECT_EQ(probe.fn, sim::Fn::kGetStatusChange);
  EXPECT_EQ(probe.timeout_ms, 1u);
  pcsc::SCardReleaseContext(context);
}

TEST_F(CtapiTest, SinglePortSwitch) {
  EXPECT_FALSE(ctapi::IsSinglePortMode());  // no key
  struct Case {
    const char* text;
    bool on;
  };
  const Case cases[] = {{"1", true},  {"0x1", true}, {"1\n", true}, {"2", false},
                        {"0", false}, {"x", false},  {"", false}};
  for (const Case& c : cases) {
    SetSinglePort(c.text);
    EXPECT_EQ(ctapi::IsSinglePortMode(), c.on) << '"' << c.text << '"';
  }
}

}  // namespace
