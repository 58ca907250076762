// SPDX-License-Identifier: BSD-3-Clause
// Status queries, connects and reconnects shared by the command handlers.
#include "ctapi/card_link.h"

#include "platform/clock.h"
#include "support/strings.h"

namespace ctapi {
namespace {

constexpr char kO2MicroPrefix[] = "O2Micro";
constexpr uint32_t kBothProtocols = pcsc::kProtocolT0 | pcsc::kProtocolT1;
constexpr uint32_t kReleasePauseMs = 700;

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

bool CardStillThere(int slot_index, StatusWord* sw) {
  TerminalSlot& slot = Slot(slot_index);
  uint32_t event_state = 0;
  const pcsc::Result queried = QueryReader(slot, 1, pcsc::kStateUnaware, &event_state);
  if (queried != pcsc::kSuccess) {
    MapSCardResult(queried, sw);
    return false;
  }
  if (event_state & pcsc::kStateEmpty) {
    *sw = kSwNoCard;
    return false;
  }
  if (slot.icc_active == 0) {
    *sw = kSwCardNotActivated;
    return false;
  }
  // The protocol is not needed; asking for it shows whether the connection still stands.
  uint8_t protocol[4];
  uint32_t protocol_length = sizeof protocol;
  const pcsc::Result standing = pcsc::SCardGetAttrib(
      slot.card_handle, pcsc::kAttrCurrentProtocolType, protocol, &protocol_length);
  if (standing != pcsc::kSuccess) {
    ResetCardState(slot_index);
    MapSCardResult(standing, sw);
    return false;
  }
  return true;
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

pcsc::Result ConnectToReader(TerminalSlot& slot, ReaderLink* link) {
  *link = ReaderLink{};
  bool shared_allowed = true;
  if (slot.card_handle != kNoCardHandle) {
    if (pcsc::SCardReconnect(slot.card_handle, pcsc::kShareShared, kBothProtocols, pcsc::kLeaveCard,
                             &slot.active_protocol) == pcsc::kSuccess) {
      *link = ReaderLink{slot.card_handle, LinkKind::kKept};
      return pcsc::kSuccess;
    }
    const pcsc::Result dropped = pcsc::SCardDisconnect(slot.card_handle, pcsc::kLeaveCard);
    slot.card_handle = kNoCardHandle;
    if (dropped != pcsc::kSuccess) return dropped;
    shared_allowed = false;  // the card would not answer: straight to the reader itself
  }
  pcsc::CardHandle handle = 0;
  uint32_t protocol = 0;
  if (shared_allowed && pcsc::SCardConnectA(slot.context, slot.reader_name, pcsc::kShareShared,
                                            kBothProtocols, &handle, &protocol) == pcsc::kSuccess) {
    *link = ReaderLink{handle, LinkKind::kOwnShared};
    return pcsc::kSuccess;
  }
  slot.direct_connected = 1;
  const pcsc::Result direct =
      pcsc::SCardConnectA(slot.context, slot.reader_name, pcsc::kShareDirect,
                          pcsc::kProtocolUndefined, &handle, &protocol);
  if (direct == pcsc::kSuccess) *link = ReaderLink{handle, LinkKind::kOwnDirect};
  return direct;
}

void ReleaseReaderLink(const ReaderLink& link) {
  if (link.kind == LinkKind::kKept) return;
  uint32_t returned = 0;
  if (link.kind == LinkKind::kOwnDirect) {
    pcsc::SCardControl(link.handle, pcsc::kCtlBeforeDirectClose, nullptr, 0, nullptr, 0, &returned);
  }
  if (link.kind != LinkKind::kNone) pcsc::SCardDisconnect(link.handle, pcsc::kLeaveCard);
  platform::SleepMs(kReleasePauseMs);
}

}  // namespace ctapi
