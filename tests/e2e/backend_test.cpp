// SPDX-License-Identifier: BSD-3-Clause
// The library's pcsc-lite backend on the real stack: a reader name it knows to be missing is
// answered as pcsc-lite answers it, without asking pcsc-lite, and every other answer is
// pcsc-lite's own.
#include <gtest/gtest.h>
#include <winscard.h>

#include <string>
#include <vector>

#include "pcsc/pcsc.h"
#include "tests/e2e/e2e_layout.h"

namespace {

constexpr char kMissing[] = "No Such Reader 0";
constexpr uint32_t kUntouched = 0x5555;

pcsc::ReaderState State(const char* name, uint32_t current_state = pcsc::kStateUnaware) {
  pcsc::ReaderState state{};
  state.reader = name;
  state.current_state = current_state;
  state.event_state = kUntouched;
  return state;
}

// pcsc-lite's own answer for one reader, straight from its library.
LONG RawAnswer(const char* name, DWORD current_state) {
  SCARDCONTEXT context = 0;
  EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context), SCARD_S_SUCCESS);
  SCARD_READERSTATE state{};
  state.szReader = name;
  state.dwCurrentState = current_state;
  const LONG result = SCardGetStatusChange(context, 1, &state, 1);
  SCardReleaseContext(context);
  return result;
}

TEST(PcscLiteBackendE2eTest, MissingReadersAreAnsweredAsPcscLiteAnswersThem) {
  pcsc::Context context = 0;
  ASSERT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context), pcsc::kSuccess);
  const std::string present = std::string(e2e::kReader) + " 0";
  const struct {
    const char* what;
    std::vector<pcsc::ReaderState> states;
    pcsc::Result result;
  } cases[] = {
      {"a missing reader", {State(kMissing)}, pcsc::kUnknownReader},
      {"a present and a missing one",
       {State(present.c_str()), State(kMissing)},
       pcsc::kUnknownReader},
      {"a missing one set to be ignored", {State(kMissing, pcsc::kStateIgnore)}, pcsc::kSuccess},
  };
  for (auto c : cases) {
    EXPECT_EQ(pcsc::SCardGetStatusChangeA(context, 1, c.states.data(),
                                          static_cast<uint32_t>(c.states.size())),
              c.result)
        << c.what;
    if (c.result != pcsc::kSuccess) {
      for (const pcsc::ReaderState& state : c.states)
        EXPECT_EQ(state.event_state, kUntouched) << c.what;
    }
  }
  // pcsc-lite itself answers so.
  EXPECT_EQ(static_cast<pcsc::Result>(RawAnswer(kMissing, SCARD_STATE_UNAWARE)),
            pcsc::kUnknownReader);
  EXPECT_EQ(RawAnswer(kMissing, SCARD_STATE_IGNORE), SCARD_S_SUCCESS);
  // A present reader is pcsc-lite's to answer.
  pcsc::ReaderState state = State(present.c_str());
  EXPECT_EQ(pcsc::SCardGetStatusChangeA(context, 1, &state, 1), pcsc::kSuccess);
  EXPECT_NE(state.event_state & pcsc::kStatePresent, 0u);
  EXPECT_EQ(pcsc::SCardReleaseContext(context), pcsc::kSuccess);
}

}  // namespace
