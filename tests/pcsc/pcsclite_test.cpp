// SPDX-License-Identifier: BSD-3-Clause
// Tests of the pcsc-lite backend that need no daemon: what it answers itself (pointer checks,
// handles that pcsc-lite cannot have given out) and that pcsc-lite's own answers come through.
// Every test points pcsc-lite at a socket that does not exist, so no running daemon is reached.
#include "pcsc/pcsc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/common/test_util.h"

namespace pcsc {
namespace {

class PcscLiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // pcsc-lite reads the variable once, before its first call; each test runs in a process
    // of its own.
    socket_ = dir_.File("no-daemon.comm");
    setenv("PCSCLITE_CSOCK_NAME", socket_.c_str(), 1);
  }
  void TearDown() override { unsetenv("PCSCLITE_CSOCK_NAME"); }

  testutil::TempDir dir_;
  std::string socket_;
};

// A context or card handle that fits 31 bits but that pcsc-lite never handed out.
constexpr uint32_t kStranger = 0x12345;
// A value that cannot be a pcsc-lite handle at all.
constexpr uint32_t kTooWide = 0x80000000;

TEST_F(PcscLiteTest, EstablishContextWithoutDaemonFailsWithNoService) {
  Context context = 0x5A5A;
  EXPECT_EQ(SCardEstablishContext(kScopeUser, &context), kNoService);
  EXPECT_EQ(context, 0x5A5Au);
}

TEST_F(PcscLiteTest, RefusesMissingPointers) {
  uint32_t length = 0;
  uint32_t protocol = 0;
  CardHandle card = 0;
  uint8_t byte = 0;
  const IoRequest pci = {kProtocolT1, sizeof(IoRequest)};
  ReaderState unnamed = {};
  struct Case {
    const char* call;
    Result result;
  };
  const Case cases[] = {
      {"EstablishContext", SCardEstablishContext(kScopeUser, nullptr)},
      {"ListReaders length", SCardListReadersA(kStranger, nullptr, nullptr, nullptr)},
      {"ListReaders auto",
       [&] {
         length = kAutoAllocate;
         return SCardListReadersA(kStranger, nullptr, nullptr, &length);
       }()},
      {"GetStatusChange states", SCardGetStatusChangeA(kStranger, 0, nullptr, 1)},
      {"Connect reader",
       SCardConnectA(kStranger, nullptr, kShareShared, kProtocolT1, &card, &protocol)},
      {"Connect card",
       SCardConnectA(kStranger, "Birch 0", kShareShared, kProtocolT1, nullptr, &protocol)},
      {"Connect protocol",
       SCardConnectA(kStranger, "Birch 0", kShareShared, kProtocolT1, &card, nullptr)},
      {"Reconnect protocol", SCardReconnect(kStranger, kShareShared, kProtocolT1, 0, nullptr)},
      {"Transmit pci", SCardTransmit(kStranger, nullptr, &byte, 1, nullptr, &byte, &length)},
      {"Transmit send", SCardTransmit(kStranger, &pci, nullptr, 1, nullptr, &byte, &length)},
      {"Transmit receive", SCardTransmit(kStranger, &pci, &byte, 1, nullptr, nullptr, &length)},
      {"Transmit length", SCardTransmit(kStranger, &pci, &byte, 1, nullptr, &byte, nullptr)},
      {"GetAttrib length", SCardGetAttrib(kStranger, kAttrAtrString, &byte, nullptr)},
      {"GetAttrib auto",
       [&] {
         length = kAutoAllocate;
         return SCardGetAttrib(kStranger, kAttrAtrString, nullptr, &length);
       }()},
      {"Control input", SCardControl(kStranger, kCtlReadKey, nullptr, 1, &byte, 1, &length)},
      {"Control output", SCardControl(kStranger, kCtlReadKey, &byte, 1, nullptr, 1, &length)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.result, kInvalidParameter) << c.call;
  EXPECT_EQ(SCardGetStatusChangeA(kStranger, 0, &unnamed, 1), kInvalidValue);
}

TEST_F(PcscLiteTest, RefusesMoreReaderStatesThanItCanWatch) {
  static ReaderState states[1000];
  for (ReaderState& state : states)
    state.reader = "Birch 0";
  EXPECT_EQ(SCardGetStatusChangeA(kStranger, 0, states, 1000), kInvalidParameter);
}

TEST_F(PcscLiteTest, RefusesHandlesWiderThan31Bits) {
  uint32_t length = 8;
  uint32_t protocol = 0;
  CardHandle card = 0;
  uint8_t buffer[8] = {};
  const IoRequest pci = {kProtocolT1, sizeof(IoRequest)};
  ReaderState state = {};
  state.reader = "Birch 0";
  struct Case {
    const char* call;
    Result result;
  };
  const Case cases[] = {
      {"ReleaseContext", SCardReleaseContext(kTooWide)},
      {"ListReaders", SCardListReadersA(kTooWide, nullptr, nullptr, &length)},
      {"FreeMemory", SCardFreeMemory(kTooWide, buffer)},
      {"GetStatusChange", SCardGetStatusChangeA(0xFFFFFFFF, 0, &state, 1)},
      {"Connect", SCardConnectA(kTooWide, "Birch 0", kShareShared, kProtocolT1, &card, &protocol)},
      {"Reconnect", SCardReconnect(kTooWide, kShareShared, kProtocolT1, kLeaveCard, &protocol)},
      {"Disconnect", SCardDisconnect(kTooWide, kLeaveCard)},
      {"Transmit", SCardTransmit(kTooWide, &pci, buffer, 4, nullptr, buffer, &length)},
      {"GetAttrib", SCardGetAttrib(kTooWide, kAttrAtrString, buffer, &length)},
      {"Control", SCardControl(kTooWide, kCtlReadKey, nullptr, 0, buffer, 8, &length)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.result, kInvalidHandle) << c.call;
  EXPECT_EQ(card, 0u);
}

TEST_F(PcscLiteTest, PassesPcscLiteAnswersForUnknownHandlesThrough) {
  uint32_t length = 8;
  uint32_t protocol = 0;
  CardHandle card = 0;
  uint8_t buffer[8] = {};
  const IoRequest pci = {kProtocolT0, sizeof(IoRequest)};
  ReaderState state = {};
  state.reader = "Birch 0";
  struct Case {
    const char* call;
    Result result;
  };
  const Case cases[] = {
      {"ReleaseContext", SCardReleaseContext(kStranger)},
      {"ListReaders", SCardListReadersA(kStranger, nullptr, nullptr, &length)},
      {"GetStatusChange", SCardGetStatusChangeA(kStranger, 0, &state, 1)},
      {"Connect", SCardConnectA(kStranger, "Birch 0", kShareShared, kProtocolT1, &card, &protocol)},
      {"Reconnect", SCardReconnect(kStranger, kShareShared, kProtocolT1, kLeaveCard, &protocol)},
      {"Disconnect", SCardDisconnect(kStranger, kLeaveCard)},
      {"Transmit", SCardTransmit(kStranger, &pci, buffer, 4, nullptr, buffer, &length)},
      {"GetAttrib", SCardGetAttrib(kStranger, kAttrCurrentProtocolType, buffer, &length)},
      {"Control", SCardControl(kStranger, kCtlReadKey, nullptr, 0, buffer, 8, &length)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.result, kInvalidHandle) << c.call;
  EXPECT_EQ(state.event_state, 0u);
}

TEST(PcscLitePlatformCodeTest, IsPcscLitesOwnControlCode) {
  // The feature request of PC/SC part 10 (CM_IOCTL_GET_FEATURE_REQUEST) on pcsc-lite.
  EXPECT_EQ(PlatformControlCode(3400), 0x42000D48u);
  EXPECT_EQ(PlatformControlCode(0), 0x42000000u);
}

}  // namespace
}  // namespace pcsc
