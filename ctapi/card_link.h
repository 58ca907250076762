// SPDX-License-Identifier: BSD-3-Clause
// The library's ways of reaching the card and the reader that every command handler shares:
// the status query, the connect sequence (with the O2Micro rule) and the reconnect.
#pragma once

#include <cstdint>

#include "ctapi/result.h"
#include "ctapi/slots.h"
#include "pcsc/pcsc.h"

namespace ctapi {

// One SCardGetStatusChangeA on the slot's reader with the given time-out and current state;
// *event_state receives the reported state (also when the call fails).
pcsc::Result QueryReader(const TerminalSlot& slot, uint32_t timeout_ms, uint32_t current_state,
                         uint32_t* event_state);

// Whether the card of ICC 1 can take a command: a card in the reader, activated by REQUEST ICC
// or RESET CT, and its connection still standing. False with the answer in *sw (64 A1, 64 A2 or
// the mapped PC/SC failure); a connection found gone resets the slot's card state.
bool CardStillThere(int slot, StatusWord* sw);

// True for readers whose name begins with "O2Micro": they are connected with T=1 first.
bool IsO2MicroReader(const TerminalSlot& slot);

// A shared connection into card_handle and active_protocol: O2Micro readers T=1, then T=0;
// every other reader T=0 | T=1. The result of the last call made.
pcsc::Result ConnectSequence(TerminalSlot& slot);

// Reconnects card_handle in shared mode with `initialization`, the protocol into
// active_protocol: O2Micro readers T=1, then T=0; every other reader T=0 | T=1.
pcsc::Result ReconnectSequence(TerminalSlot& slot, uint32_t initialization);

// The connection a command that needs the reader (display, keypad, PIN pad) talks over: the
// terminal's kept card connection, or one of the command's own, shared when a card answers,
// else direct.
enum class LinkKind { kNone, kKept, kOwnShared, kOwnDirect };
struct ReaderLink {
  pcsc::CardHandle handle = 0;
  LinkKind kind = LinkKind::kNone;
};

// Reconnects the kept connection, or makes an own one. A kept connection that cannot be
// reconnected is closed and forgotten, and the reader is then reached directly. Returns the
// result that failed (the kept connection's disconnect, or the direct connect), else success.
pcsc::Result ConnectToReader(TerminalSlot& slot, ReaderLink* link);

// Gives an own connection back (a direct one after telling the driver) and pauses so that the
// reader settles; a kept connection stays. The pause also follows when no connection was made.
void ReleaseReaderLink(const ReaderLink& link);

}  // namespace ctapi
