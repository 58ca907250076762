// SPDX-License-Identifier: BSD-3-Clause
// Opening and closing terminals on the simulator: port names, the keep-power flag, the table
// search, the SinglePort switch, the display give-back, the twins and the refusals (their
// error-log records, with a second process holding a port: processes_test.cpp).
#include <string>
#include <vector>

#include "ctapi/ctapi.h"
#include "ctapi/terminal.h"
#include "pcsc/pcsc.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using ctapitest::CtapiTest;

constexpr char kBirch0[] = "TREVANO Kelvane Birch 0";
constexpr char kBirch1[] = "TREVANO Kelvane Birch 1";

class TerminalTest : public CtapiTest {};

TEST_F(TerminalTest, PortZeroIsRefusedAndTouchesNothing) {
  AddReaders({kBirch0});
  EXPECT_EQ(CT_init(1, 0), ERR_INVALID);
  EXPECT_FALSE(ctapi::IsAttached());
  EXPECT_EQ(sim::Calls().size(), 0u);
}

TEST_F(TerminalTest, OpenRecordsTheReaderAndMakesNoConnection) {
  AddReaders({kBirch0});
  ASSERT_EQ(CT_init(1, 1), OK);
  const ctapi::TerminalSlot& slot = SlotAt(0);
  EXPECT_EQ(slot.in_use, 1u);
  EXPECT_EQ(slot.port, 1u);
  EXPECT_EQ(slot.port_flag, 0u);
  EXPECT_STREQ(slot.reader_name, kBirch0);
  EXPECT_EQ(slot.card_handle, ctapi::kNoCardHandle);
  EXPECT_NE(slot.context, 0u);
  EXPECT_EQ(slot.reader_units, 1);
  EXPECT_EQ(sim::CountCalls(sim::Fn::kConnect), 0u);
  EXPECT_EQ(ctapi::FindSlotByCtn(1), 0);
  for (int i = 1; i < ctapi::kSlotCount; ++i) {
    EXPECT_EQ(SlotAt(i).in_use, 0u);
    EXPECT_EQ(SlotAt(i).card_handle, ctapi::kNoCardHandle);
    EXPECT_EQ(SlotAt(i).selected_last, ctapi::kNoAddress);
  }
  EXPECT_EQ(CT_close(1), OK);
  EXPECT_EQ(SlotAt(0).in_use, 0u);
  EXPECT_EQ(ctapi::FindSlotByCtn(1), ctapi::kNotFound);
  EXPECT_EQ(sim::OpenContexts(), 0u);
}

TEST_F(TerminalTest, TwinsShareOneTable) {
  AddReaders({kBirch0});
  ASSERT_EQ(CTKORVIKV_init(1, 1), OK);
  EXPECT_EQ(CT_init(1, 2), ERR_INVALID);  // ctn 1 is taken, whichever name opened it
  EXPECT_EQ(CT_close(1), OK);
  ASSERT_EQ(CT_init(1, 1), OK);
  EXPECT_EQ(CTKORVIKV_close(1), OK);
  EXPECT_EQ(CTKORVIKV_close(1), ERR_INVALID);
}

TEST_F(TerminalTest, KeepPowerFlagStoresThePortWithoutIt) {
  AddReaders({kBirch0});
  ASSERT_EQ(CT_init(1, 0x201), OK);
  EXPECT_EQ(SlotAt(0).port, 1u);
  EXPECT_EQ(SlotAt(0).port_flag, 1u);
  // pn 1 meets the stored port; pn 0x201 never does and opens the same reader again.
  EXPECT_EQ(CT_init(2, 1), ERR_INVALID);
  ASSERT_EQ(CT_init(3, 0x201), OK);
  EXPECT_STREQ(SlotAt(1).reader_name, kBirch0);
  EXPECT_EQ(ctapi::FindSlotByCtn(3), 1);
}

TEST_F(TerminalTest, CtnInUseIsRefusedWhateverThePort) {
  AddReaders({kBirch0, kBirch1});
  ASSERT_EQ(CT_init(7, 1), OK);
  EXPECT_EQ(CT_init(7, 2), ERR_INVALID);
  EXPECT_EQ(CT_init(7, 1), ERR_INVALID);
}

TEST_F(TerminalTest, FifthTerminalFindsNoSlot) {
  AddReaders({kBirch0, kBirch1, "TREVANO Kelvane Birch 2", "TREVANO Kelvane Birch 3",
              "TREVANO Kelvane Birch 4"});
  for (uint16_t ctn = 1; ctn <= 4; ++ctn)
    ASSERT_EQ(CT_init(ctn, ctn), OK) << ctn;
  EXPECT_EQ(CT_init(5, 5), ERR_MEMORY);
  EXPECT_EQ(CT_close(2), OK);
  EXPECT_EQ(CT_init(5, 5), OK);
  EXPECT_EQ(ctapi::FindSlotByCtn(5), 1);
}

TEST_F(TerminalTest, OpenWhenAnotherProcessTookTheLastSlot) {
  AddReaders({kBirch0});
  ASSERT_EQ(CT_init(1, 1), OK);
  for (int i = 1; i < ctapi::kSlotCount; ++i)
    SlotAt(i).in_use = 1;
  EXPECT_EQ(ctapi::OpenTerminal(2, 2), ERR_MEMORY);
  EXPECT_EQ(ctapi::FindSlotByCtn(2), ctapi::kNotFound);
}

TEST_F(TerminalTest, MissingReaderFreesSlotAndContext) {
  AddReaders({kBirch1, "Acme Reader 0"});
  EXPECT_EQ(CT_init(1, 1), ERR_INVALID);  // Birch 0 is not there; two known readers are not one
  EXPECT_EQ(SlotAt(0).in_use, 0u);
  EXPECT_EQ(SlotAt(0).port, 0u);
  EXPECT_EQ(ctapi::FindSlotByCtn(1), ctapi::kNotFound);
  EXPECT_EQ(sim::OpenContexts(), 0u);
}

TEST_F(TerminalTest, TwoKnownReadersAndNoMatch) {
  AddReaders({kBirch1, "Cherry SmartBoard XX44 0", "TREVANO Kelvane Alder 0",
              "TREVANO Kelvane Cedar 0", "TREVANO Kelvane Elm 0"});
  EXPECT_EQ(CT_init(1, 37), ERR_INVALID);
  // The port's name twice (its own and its alternate), then known readers only until a second
  // one shows that the table search is not allowed.
  EXPECT_EQ(sim::CountCalls(sim::Fn::kGetStatusChange), 4u);
}

TEST_F(TerminalTest, ResourceManagerNotRunning) {
  AddReaders({kBirch0});
  sim::SetServiceRunning(false);
  EXPECT_EQ(CT_init(1, 1), ERR_INVALID);
  EXPECT_EQ(SlotAt(0).in_use, 0u);
  sim::SetServiceRunning(true);
  EXPECT_EQ(CT_init(1, 1), OK);
}

TEST_F(TerminalTest, TableSearchOpensTheSingleKnownReader) {
  AddReaders({"Cherry SmartBoard XX44 0"});
  ASSERT_EQ(CT_init(1, 37), OK);
  EXPECT_STREQ(SlotAt(0).reader_name, "Cherry SmartBoard XX44 0");
  EXPECT_EQ(SlotAt(0).capabilities, ctapi::kCapPinPad);
  EXPECT_EQ(SlotAt(0).port, 37u);
  EXPECT_EQ(CT_close(1), OK);
}

TEST_F(TerminalTest, SinglePortLimitsTheSearchToPortOne) {
  AddReaders({"Cherry SmartBoard XX44 0"});
  SetSinglePort("1");
  EXPECT_EQ(CT_init(1, 37), ERR_INVALID);
  ASSERT_EQ(CT_init(1, 1), OK);
  EXPECT_STREQ(SlotAt(0).reader_name, "Cherry SmartBoard XX44 0");
}

TEST_F(TerminalTest, TableSearchOnlyInTheFirstSlot) {
  AddReaders({"Cherry SmartBoard XX44 0", kBirch0});
  sim::RemoveReader(kBirch0);
  AddReaders({"TREVANO Kelvane Birch 4"});
  ASSERT_EQ(CT_init(1, 5), OK);  // slot 0 holds Birch 4 by its own name
  sim::RemoveReader("TREVANO Kelvane Birch 4");
  // Only the Cherry reader is left and slot 0 is taken: no search.
  EXPECT_EQ(CT_init(2, 37), ERR_INVALID);
}

TEST_F(TerminalTest, UnavailableCypressStillOpens) {
  AddReaders({"TREVANO Kelvane Cypress 0"}, true);
  sim::SetUnavailable("TREVANO Kelvane Cypress 0", true, pcsc::kSuccess);
  ASSERT_EQ(CT_init(1, 30), OK);
  EXPECT_STREQ(SlotAt(0).reader_name, "TREVANO Kelvane Cypress 0");
  EXPECT_EQ(SlotAt(0).capabilities, 3);
  EXPECT_EQ(SlotAt(0).keypad_input, 1u);
}

TEST_F(TerminalTest, AlternateNameOfKeyboardReaders) {
  AddReaders({"FSC SCR Keyboard USB 2A 2", kBirch0});
  ASSERT_EQ(CT_init(1, 222), OK);
  EXPECT_STREQ(SlotAt(0).reader_name, "FSC SCR Keyboard USB 2A 2");
  EXPECT_EQ(SlotAt(0).capabilities, ctapi::kCapPinPad);
}

TEST_F(TerminalTest, CloseTwiceAndCloseOfUnknownCtn) {
  AddReaders({kBirch0});
  EXPECT_EQ(CT_close(1), ERR_INVALID);  // not attached yet
  ASSERT_EQ(CT_init(1, 1), OK);
  EXPECT_EQ(CT_close(2), ERR_INVALID);
  EXPECT_EQ(CT_close(1), OK);
  EXPECT_EQ(CT_close(1), ERR_INVALID);
}

TEST_F(TerminalTest, CloseDisconnectsTheCardWithReset) {
  AddReaders({kBirch0});
  sim::InsertCard(kBirch0, cards::CardSpec{});
  ASSERT_EQ(CT_init(1, 1), OK);
  uint32_t protocol = 0;
  ASSERT_EQ(pcsc::SCardConnectA(SlotAt(0).context, kBirch0, pcsc::kShareShared, 3,
                                &SlotAt(0).card_handle, &protocol),
            pcsc::kSuccess);
  sim::ClearCalls();
  EXPECT_EQ(CT_close(1), OK);
  ASSERT_EQ(sim::CountCalls(sim::Fn::kDisconnect), 1u);
  EXPECT_EQ(sim::Calls()[0].fn, sim::Fn::kDisconnect);
  EXPECT_EQ(sim::Calls()[0].disposition, pcsc::kResetCard);
  EXPECT_EQ(sim::OpenConnections(), 0u);
}

TEST_F(TerminalTest, DisplayIsGivenBackOnlyWhenWritten) {
  constexpr char kSpruce[] = "TREVANO Kelvane Spruce 0";
  AddReaders({kSpruce}, true);
  ASSERT_EQ(CT_init(1, 35), OK);
  ASSERT_EQ(SlotAt(0).capabilities & ctapi::kCapDisplay, ctapi::kCapDisplay);
  sim::ClearCalls();
  EXPECT_EQ(CT_close(1), OK);
  EXPECT_EQ(sim::CountCalls(sim::Fn::kConnect), 0u);
  EXPECT_EQ(sim::CountCalls(sim::Fn::kControl), 0u);
  EXPECT_EQ(sim::NowMs(), 0u);
}

TEST_F(TerminalTest, DisplayGiveBackOverADirectConnection) {
  constexpr char kSpruce[] = "TREVANO Kelvane Spruce 0";
  AddReaders({kSpruce}, true);
  ASSERT_EQ(CT_init(1, 35), OK);
  SlotAt(0).display_used = 1;
  sim::ClearCalls();
  const uint64_t before = sim::NowMs();
  EXPECT_EQ(CT_close(1), OK);
  // No card: the shared connect fails and a direct one is made.
  ASSERT_EQ(sim::CountCalls(sim::Fn::kConnect), 2u);
  EXPECT_EQ(sim::Calls()[0].share_mode, pcsc::kShareShared);
  EXPECT_EQ(sim::Calls()[0].protocols, 3u);
  EXPECT_EQ(sim::Calls()[1].share_mode, pcsc::kShareDirect);
  EXPECT_EQ(sim::Calls()[1].protocols, 0u);
  std::vector<sim::ControlRecord> controls = sim::Controls();
  ASSERT_EQ(controls.size(), 2u);
  EXPECT_EQ(controls[0].code, 0x00312F70u);
  EXPECT_EQ(controls[0].input, std::vector<uint8_t>{0x00});
  EXPECT_EQ(controls[1].code, 0x00313FC0u);
  EXPECT_TRUE(controls[1].input.empty());
  EXPECT_EQ(sim::CountCalls(sim::Fn::kDisconnect), 1u);
  EXPECT_EQ(sim::NowMs() - before, 700u);  // the pause after closing, on the virtual clock
  EXPECT_EQ(sim::OpenConnections(), 0u);
}

TEST_F(TerminalTest, DisplayGiveBackOverTheCardConnection) {
  constexpr char kSpruce[] = "TREVANO Kelvane Spruce 0";
  AddReaders({kSpruce}, true);
  sim::InsertCard(kSpruce, cards::CardSpec{});
  ASSERT_EQ(CT_init(1, 35), OK);
  SlotAt(0).display_used = 1;
  sim::ClearCalls();
  EXPECT_EQ(CT_close(1), OK);
  EXPECT_EQ(sim::CountCalls(sim::Fn::kConnect), 1u);
  std::vector<sim::ControlRecord> controls = sim::Controls();
  ASSERT_EQ(controls.size(), 1u);
  EXPECT_EQ(controls[0].code, 0x00312F70u);
  EXPECT_EQ(sim::NowMs(), 700u);
}

TEST_F(TerminalTest, FailedContextReleaseStillFreesTheSlot) {
  AddReaders({kBirch0});
  struct Case {
    uint32_t result;
    int8_t code;
  };
  for (const Case& c : {Case{pcsc::kInvalidHandle, CTKORVIN_ERR_PCSC}, Case{0x7A, ERR_MEMORY}}) {
    ASSERT_EQ(CT_init(1, 1), OK);
    sim::FailCall(sim::Fn::kReleaseContext, 1, c.result);
    EXPECT_EQ(CT_close(1), c.code);
    EXPECT_EQ(SlotAt(0).in_use, 0u);
    EXPECT_EQ(ctapi::FindSlotByCtn(1), ctapi::kNotFound);
  }
}

TEST_F(TerminalTest, OperatingSystemVersions) {
  AddReaders({kBirch0});
  struct Case {
    const char* version;
    int8_t code;
  };
  const Case cases[] = {
      {"2.5.0.2195", OK},
      {"2.5.1.2600", OK},
      {"2.4.0.1381", OK},
      {"1.4.10.2222", OK},
      {"1.4.0.950", OK},
      {"2.6.1.7601", ERR_INVALID},
      {"2.3.51.1057", ERR_INVALID},
      {"3.5.0.0", ERR_INVALID},
      {"0.5.0.0", ERR_INVALID},
      {"not a version", ERR_INVALID},
  };
  for (const Case& c : cases) {
    testutil::ScopedEnv version("CTKORVIN_OSVERSION", c.version);
    EXPECT_EQ(CT_init(1, 1), c.code) << c.version;
    if (c.code == OK) {
      EXPECT_EQ(CT_close(1), OK);
    }
  }
}

TEST_F(TerminalTest, OsClasses) {
  struct Case {
    const char* version;
    uint32_t os_class;
  };
  const Case cases[] = {{"1.4.0.950", 95},  {"1.4.10.2222", 98}, {"1.4.90.3000", 98},
                        {"2.4.0.1381", 40}, {"2.5.0.2195", 50},  {"2.6.0.6000", 0},
                        {"4.5.0.0", 0}};
  for (const Case& c : cases) {
    testutil::ScopedEnv version("CTKORVIN_OSVERSION", c.version);
    EXPECT_EQ(ctapi::GetOsClass(), c.os_class) << c.version;
  }
  EXPECT_EQ(ctapi::GetOsClass(), 50u);
}

}  // namespace
