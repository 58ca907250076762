// Status queries, connects and reconnects shared by the command handlers.
#include "ctapi/card_link.h"

#include "support/strings.h"

namespace ctapi {
namespace {

constexpr char kO2MicroPrefix[] = "O2Micro";
constexpr uint32_t kBothProtocols = pcsc::kProtocolT0 | pcsc::kProtocolT1;

}  // namespace

pcsc::Result QueryReader(const TerminalSlot& slot, uint32_t timeout_ms, uint32_t current_state,
                         uint32_t* event_state) {
  pcsc::ReaderState state{};
  state.reader = slot.reader_name;
  state.current_state = current_state;
  pcsc::Result result = pcsc::SCardGetStatusChangeA(slot.context, timeout_ms, &state, 1);
  if (event_state) *event_state = state.event_state;
  return result;
}

bool IsO2MicroReader(const TerminalSlot& slot) {
  return SafeStrCompareN(slot.reader_name, kO2MicroPrefix, sizeof kO2MicroPrefix - 1) == 0;
}

pcsc::Result ConnectSequence(TerminalSlot& slot) {
  // The slot keeps its handle until a connect succeeds.
  const uint32_t first = IsO2MicroReader(slot) ? pcsc::kProtocolT1 : kBothProtocols;
  pcsc::CardHandle card = 0;
  uint32_t protocol = 0;
  pcsc::Result result = pcsc::SCardConnectA(slot.context, slot.reader_name, pcsc::kShareShared,
                                            first, &card, &protocol);
  if (result != pcsc::kSuccess && IsO2MicroReader(slot)) {
    result = pcsc::SCardConnectA(slot.context, slot.reader_name, pcsc::kShareShared,
                                 pcsc::kProtocolT0, &card, &protocol);
  }
  if (result == pcsc::kSuccess) {
    slot.card_handle = card;
    slot.active_protocol = protocol;
  }
  return result;
}

pcsc::Result ReconnectSequence(TerminalSlot& slot, uint32_t initialization) {
  if (!IsO2MicroReader(slot)) {
    return pcsc::SCardReconnect(slot.card_handle, pcsc::kShareShared, kBothProtocols,
                                initialization, &slot.active_protocol);
  }
  pcsc::Result result =
      pcsc::SCardReconnect(slot.card_handle, pcsc::kShareShared, pcsc::kProtocolT1, initialization,
                           &slot.active_protocol);
  if (result == pcsc::kSuccess) return result;
  return pcsc::SCardReconnect(slot.card_handle, pcsc::kShareShared, pcsc::kProtocolT0,
                              initialization, &slot.active_protocol);
}

}  // namespace ctapi
