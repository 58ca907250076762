// SPDX-License-Identifier: BSD-3-Clause
// The reader simulator: an in-process stand-in for the whole PC/SC world, for tests. It
// implements the PC/SC seam (pcsc/pcsc.h) and plays the resource manager, the reader driver with
// its vendor control codes, and the cards; it also owns the virtual clock behind
// platform::MonotonicMs and platform::SleepMs. Everything is deterministic: nothing waits for
// real, and waits (status-change time-outs, sleeps) advance the virtual clock.
//
// Tests drive it through the functions below. The state is per process; a forked child starts
// with a copy of its parent's simulator. A control function that names a reader which is not
// attached reports the mistake on stderr and aborts the test program (scheduled insertions and
// removals are the exception: they do nothing when their reader is gone by then).
//
// Choices where WinSCard leaves room, made once here:
// - SCardGetStatusChangeA with kInfinite and nothing scheduled that could change a watched
//   reader answers kTimeout at once instead of waiting forever.
// - The protocol of a connection is the lowest protocol that the caller's preferred protocols and
//   the card have in common (T=0 when both allow T=0). While other connections use the card,
//   a new connection must accept the protocol the card already runs.
// - A direct connection reaches the reader, not the card: it works with or without a card, is
//   not blocked by another application's exclusive hold, and does not mark the card in use.
// - A reset or power-down of the card through one handle makes the other handles of that card
//   answer kCardWasReset until they reconnect; a removed card stays kRemovedCard for its handles
//   even when a card is inserted again, and a removed reader kReaderUnavailable even when a
//   reader of that name is attached again.
// - Shared or exclusive connects without a preferred protocol answer kInvalidValue; SCardControl
//   needs its `returned` pointer (kInvalidParameter without it).
// - The state bits carry no event counter in their upper 16 bits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/cards/card.h"

namespace sim {

// The PC/SC functions of the seam, for the call log and for fault injection.
enum class Fn {
  kEstablishContext,
  kReleaseContext,
  kListReaders,
  kFreeMemory,
  kGetStatusChange,
  kConnect,
  kReconnect,
  kDisconnect,
  kTransmit,
  kGetAttrib,
  kControl,
};

struct ReaderSpec {
  std::string name;  // the name PC/SC reports, e.g. "TREVANO Kelvane Birch 0"
  bool display = false;
  bool keypad = false;
  bool pin_pad = false;
};

// One call the library made, as the simulator saw it.
struct Call {
  Fn fn;
  uint64_t time_ms;            // virtual time at the call
  uint32_t result;             // what the simulator answered
  std::string reader;          // reader named or reached by the call ("" when none)
  uint32_t context = 0;        // context of the call, when it has one
  uint32_t card = 0;           // card handle of the call, when it has one
  uint32_t share_mode = 0;     // connect, reconnect
  uint32_t protocols = 0;      // connect, reconnect: the preferred protocols
  uint32_t disposition = 0;    // disconnect; reconnect: the initialization
  uint32_t code = 0;           // control: the control code; get attrib: the attribute id
  uint32_t timeout_ms = 0;     // get status change (`reader` is then the first reader asked)
  std::vector<uint8_t> input;  // control input, transmitted command
};

// Back to a machine with no readers, a running resource manager, time 0, empty call log and no
// faults pending. Call it at the start of every test. Context and card handles are never handed
// out twice in a process, not even after a reset.
void Reset();

// The resource manager: when it is not running, SCardEstablishContext answers kNoService.
void SetServiceRunning(bool running);

// Readers, in the order in which the resource manager lists them.
void AddReader(const ReaderSpec& reader);
void RemoveReader(const std::string& name);

// Cards. A card inserted or removed "at" a virtual time appears or vanishes when the virtual
// clock reaches that time (a status-change wait that covers that time ends there).
void InsertCard(const std::string& reader, const cards::CardSpec& card);
void RemoveCard(const std::string& reader);
void InsertCardAt(const std::string& reader, const cards::CardSpec& card, uint64_t at_ms);
void RemoveCardAt(const std::string& reader, uint64_t at_ms);

// Another application holds the reader's card exclusively: shared and exclusive connects answer
// kSharingViolation until released.
void HoldExclusively(const std::string& reader, bool held);

// The reader reports itself changed and unavailable (event state low bits 0x0A) to status
// queries, with the result `result` (kSuccess or a failure), until cleared with false.
void SetUnavailable(const std::string& reader, bool unavailable, uint32_t result);

// Fault injection: counting from now, the n-th call (1 = the next one) of `fn` answers `result`
// instead of doing its work (it is still logged). Several faults may be pending at once; when
// two fall on the same call, the one registered first answers and the other moves to the next
// call, so FailCall(f, 1, a); FailCall(f, 1, b) fails the next two calls with a, then b.
void FailCall(Fn fn, uint32_t nth, uint32_t result);

// The call log. ClearCalls also clears the control records below.
const std::vector<Call>& Calls();
void ClearCalls();
size_t CountCalls(Fn fn);

// What the reader driver received through its vendor control codes, in order (also in Calls()).
struct ControlRecord {
  std::string reader;
  uint32_t code;
  std::vector<uint8_t> input;
};
std::vector<ControlRecord> Controls();

// Key presses for the reader driver's read-key request (kCtlReadKey), in order; each request takes
// one. A queued 0, or an empty queue, is a request that waits out its time-out on the virtual
// clock and answers key 0 ("no key").
void QueueKeys(const std::string& reader, const std::vector<uint8_t>& keys);

// The PIN pad of PC/SC part 10: the feature request (pcsc::PlatformControlCode(3400)) lists
// FEATURE_VERIFY_PIN_DIRECT and FEATURE_MODIFY_PIN_DIRECT on readers with pin_pad and nothing on
// the others. Their codes take PIN_VERIFY_STRUCTURE / PIN_MODIFY_STRUCTURE, insert the typed PIN
// into the command template (BCD two digits a byte with an F nibble to pad, ASCII or binary one
// a byte; positions in bytes), send it to the card and answer the card's response.
//
// PIN-pad entries for those requests: a verification takes one entry; a modification takes the old
// PIN (when the request asks for it), the new PIN and its confirmation, in that order. Digits are
// checked against the request's minimum and maximum length (outside them the reader answers 64 03);
// a mismatch of new PIN and confirmation answers 64 02, a cancel 64 01, a time-out 64 00 after the
// request's time-out has passed on the virtual clock (30 s when the request gives none). An empty
// queue is a time-out.
struct PinEntry {
  enum class Kind { kDigits, kCancel, kTimeout };
  Kind kind = Kind::kDigits;
  std::string digits;  // kDigits: the characters "0" to "9" typed before the confirm key
};
PinEntry PinDigits(const std::string& digits);
PinEntry PinCancel();
PinEntry PinTimeout();
void QueuePinEntries(const std::string& reader, const std::vector<PinEntry>& entries);

// Commands the PIN pad built and sent to the card (PIN inserted), with the card's answer, in
// order. Cleared by ClearCalls.
struct CardCommand {
  std::string reader;
  std::vector<uint8_t> apdu;
  std::vector<uint8_t> response;
};
std::vector<CardCommand> PinPadCommands();

// The reader's two display lines as the driver shows them now (each the text up to its first zero
// byte); empty until a text is shown, and again after the display is given back.
std::vector<std::string> DisplayLines(const std::string& reader);

// Open contexts, card connections and lists allocated by the resource manager (kAutoAllocate)
// and not yet freed, right now: a test can assert that nothing leaked. Releasing a context
// closes its connections but does not free its allocations.
size_t OpenContexts();
size_t OpenConnections();
size_t OpenAllocations();

// The virtual clock in milliseconds since Reset().
uint64_t NowMs();
void AdvanceMs(uint64_t ms);

}  // namespace sim
