// SPDX-License-Identifier: BSD-3-Clause
// Commands to the card of ICC 1: the checks of the dispatcher on the way, and the transport to a
// processor card with its connection refresh, the T=0 case-2 rule and its answers.
#include "ctapi/transport.h"

#include <string>
#include <vector>

#include "ctapi/ctapi.h"
#include "pcsc/pcsc.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using ctapitest::Bytes;
using ctapitest::Exchange;
using ctapitest::TransmittedApdus;
constexpr char kBirch[] = "TREVANO Kelvane Birch 0";

class IccTest : public ctapitest::CtapiTest {
 protected:
  // A command of terminal 1 from SAD 2.
  Exchange Send(uint8_t dad, const Bytes& command, uint16_t capacity = 258) {
    return ctapitest::CtData(1, dad, command, capacity);
  }
  Exchange Request() { return Send(1, {0x20, 0x12, 0x01, 0x00, 0x00}); }

  static cards::CardSpec Card(uint32_t protocols) {
    cards::CardSpec card;
    card.protocols = protocols;
    card.files[0x2F01] = Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    card.script[Bytes{0x80, 0xCA, 0x00, 0x01, 0x00}] = Bytes{0x61, 0x10};
    card.script[Bytes{0x80, 0xCA, 0x00, 0x01}] = Bytes{0x61, 0x10};
    return card;
  }
};

TEST_F(IccTest, NoCardAndCardNotRequested) {
  AddReaders({kBirch});
  ASSERT_EQ(CT_init(1, 1), OK);
  Exchange empty = Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00});
  EXPECT_EQ(empty.code, OK);
  EXPECT_EQ(empty.response, (Bytes{0x64, 0xA1}));
  EXPECT_EQ(empty.sad, 1);
  EXPECT_EQ(empty.dad, 2);
  sim::InsertCard(kBirch, Card(3));
  Exchange idle = Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00});
  EXPECT_EQ(idle.response, (Bytes{0x64, 0xA2}));
  EXPECT_EQ(idle.sad, 1);
  EXPECT_TRUE(TransmittedApdus().empty());
}

TEST_F(IccTest, FailedStatusQueryIsMapped) {
  Open(kBirch, 1, Card(3));
  ASSERT_EQ(Request().code, OK);
  sim::FailCall(sim::Fn::kGetStatusChange, 1, pcsc::kNoSmartcard);
  EXPECT_EQ(Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00}).response, (Bytes{0x64, 0xA1}));
  sim::FailCall(sim::Fn::kGetStatusChange, 1, pcsc::kInvalidHandle);
  EXPECT_EQ(Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00}).response, (Bytes{0x64, 0x00}));
}

TEST_F(IccTest, CaseTwoCommandOverT0LosesItsLeByte) {
  struct Case {
    uint32_t protocols;
    size_t sent_length;
  };
  for (const Case& c : {Case{1, 4}, Case{2, 5}}) {
    sim::Reset();
    AddReaders({kBirch});
    sim::InsertCard(kBirch, Card(c.protocols));
    ASSERT_EQ(CT_init(1, 1), OK);
    ASSERT_EQ(Request().code, OK);
    ASSERT_EQ(Send(0, {0x00, 0xA4, 0x02, 0x0C, 0x02, 0x2F, 0x01}).response, (Bytes{0x90, 0x00}));
    sim::ClearCalls();
    Exchange read = Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00});
    EXPECT_EQ(read.code, OK);
    EXPECT_EQ(read.sad, 0);  // the card answers
    EXPECT_EQ(read.dad, 2);
    ASSERT_EQ(read.response.size(), 12u);
    EXPECT_EQ(Bytes(read.response.end() - 2, read.response.end()), (Bytes{0x90, 0x00}));
    std::vector<Bytes> sent = TransmittedApdus();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].size(), c.sent_length) << "protocols " << c.protocols;
    // Other five-byte commands keep their length.
    sim::ClearCalls();
    Send(0, {0x00, 0xB0, 0x00, 0x00, 0x04});
    EXPECT_EQ(TransmittedApdus().at(0).size(), 5u);
    EXPECT_EQ(CT_close(1), OK);
  }
}

TEST_F(IccTest, WarningsComeBackUnchanged) {
  Open(kBirch, 1, Card(1));
  ASSERT_EQ(Request().code, OK);
  Exchange out = Send(0, {0x80, 0xCA, 0x00, 0x01, 0x00});
  EXPECT_EQ(out.code, OK);
  EXPECT_EQ(out.response, (Bytes{0x61, 0x10}));
  EXPECT_EQ(out.lenr, 2);
  EXPECT_EQ(TransmittedApdus().size(), 1u);  // no GET RESPONSE behind the caller's back
}

TEST_F(IccTest, AnswerLongerThanTheBuffer) {
  Open(kBirch, 1, Card(2));
  ASSERT_EQ(Request().code, OK);
  ASSERT_EQ(Send(0, {0x00, 0xA4, 0x02, 0x0C, 0x02, 0x2F, 0x01}).code, OK);
  Exchange out = Send(0, {0x00, 0xB0, 0x00, 0x00, 0x0A}, 2);
  EXPECT_EQ(out.code, ERR_MEMORY);
  EXPECT_EQ(out.lenr, 0);
  EXPECT_EQ(out.sad, 1);
}

TEST_F(IccTest, RefusedReconnectSendsNothing) {
  Open(kBirch, 1, Card(3));
  ASSERT_EQ(Request().code, OK);
  sim::HoldExclusively(kBirch, true);
  sim::ClearCalls();
  Exchange out = Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00});
  EXPECT_EQ(out.code, OK);
  EXPECT_EQ(out.response, (Bytes{0x6F, 0x00}));
  EXPECT_EQ(out.sad, 0);
  EXPECT_TRUE(TransmittedApdus().empty());
  EXPECT_EQ(sim::CountCalls(sim::Fn::kReconnect), 1u);
}

TEST_F(IccTest, CardGoneBetweenCommands) {
  Open(kBirch, 1, Card(3));
  ASSERT_EQ(Request().code, OK);
  // Pulled out and put back: the old connection is dead, the card must be requested anew.
  sim::RemoveCard(kBirch);
  sim::InsertCard(kBirch, Card(3));
  Exchange out = Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00});
  EXPECT_EQ(out.response, (Bytes{0x64, 0xA2}));
  EXPECT_EQ(SlotAt(0).icc_active, 0u);
  EXPECT_EQ(Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00}).response, (Bytes{0x64, 0xA2}));
  sim::RemoveCard(kBirch);
  EXPECT_EQ(Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00}).response, (Bytes{0x64, 0xA1}));
}

TEST_F(IccTest, O2MicroReaderPrefersT1) {
  AddReaders({"O2Micro PCMCIA Reader 0", "O2Micro PCMCIA Reader 1"});
  sim::InsertCard("O2Micro PCMCIA Reader 0", Card(3));
  sim::InsertCard("O2Micro PCMCIA Reader 1", Card(1));
  ASSERT_EQ(CT_init(1, 200), OK);
  ASSERT_EQ(CT_init(2, 201), OK);
  ASSERT_EQ(Request().code, OK);
  EXPECT_EQ(SlotAt(0).active_protocol, pcsc::kProtocolT1);
  sim::ClearCalls();
  Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00});
  ASSERT_GE(sim::CountCalls(sim::Fn::kReconnect), 1u);
  for (const sim::Call& call : sim::Calls()) {
    if (call.fn == sim::Fn::kReconnect) {
      EXPECT_EQ(call.protocols, pcsc::kProtocolT1);
    }
  }
  EXPECT_EQ(TransmittedApdus().at(0).size(), 5u);  // T=1: the command goes whole
  // A T=0-only card in the same kind of reader falls back to T=0 on every refresh.
  ASSERT_EQ(ctapitest::CtData(2, 1, {0x20, 0x12, 0x01, 0x00, 0x00}, 64).code, OK);
  EXPECT_EQ(SlotAt(1).active_protocol, pcsc::kProtocolT0);
}

}  // namespace
