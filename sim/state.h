// SPDX-License-Identifier: BSD-3-Clause
// The reader simulator's inner state, shared by its source files (the control API, the PC/SC
// calls and the reader driver). Tests use sim/sim.h, never this header.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pcsc/pcsc.h"
#include "sim/cards/card.h"
#include "sim/sim.h"

namespace sim {
namespace internal {

// One reader attached to the machine, with the card in it and its driver's state.
struct Reader {
  uint32_t id = 0;  // never reused, so that connections notice a reader that was re-attached
  ReaderSpec spec;
  std::unique_ptr<cards::Card> card;
  uint32_t card_serial = 0;    // which insertion the card is; 0 = no card
  bool powered = false;        // the card has answered to reset since it was inserted
  uint32_t generation = 0;     // counts resets and power-downs of the card
  uint32_t card_protocol = 0;  // protocol the powered card runs, 0 = not negotiated
  bool held = false;           // another application holds the card exclusively
  bool unavailable = false;
  pcsc::Result unavailable_result = pcsc::kSuccess;
  // Reader driver.
  std::deque<uint8_t> keys;
  bool keypad_on = false;
  bool display_prepared = false;
  std::array<std::string, 2> lines;
  std::deque<PinEntry> pin_entries;
};

// One card handle handed out by SCardConnectA.
struct Connection {
  uint32_t handle = 0;
  uint32_t context = 0;
  uint32_t reader_id = 0;
  std::string reader_name;  // for the call log, also after the reader is gone
  uint32_t share_mode = 0;
  uint32_t protocol = 0;     // active protocol, 0 for a direct connection without one
  uint32_t card_serial = 0;  // the card this connection talks to
  uint32_t generation = 0;   // the card's generation this connection has seen
};

// A card insertion or removal waiting for the virtual clock.
struct Event {
  uint64_t at_ms = 0;
  uint64_t seq = 0;  // events due at the same time happen in the order they were scheduled
  std::string reader;
  bool insert = false;
  cards::CardSpec card;
};

struct Fault {
  Fn fn;
  uint32_t remaining;  // calls of fn still to come before this one answers
  pcsc::Result result;
};

struct State {
  std::recursive_mutex mutex;
  bool service_running = true;
  uint64_t now_ms = 0;
  uint32_t next_handle = 0;
  uint32_t next_reader_id = 0;
  uint32_t next_card_serial = 0;
  uint64_t next_event_seq = 0;
  std::vector<std::unique_ptr<Reader>> readers;  // in listing order
  std::vector<uint32_t> contexts;
  std::vector<Connection> connections;
  std::map<const void*, std::unique_ptr<uint8_t[]>> allocations;
  std::vector<Event> events;
  std::vector<Fault> faults;
  std::vector<Call> calls;
  std::vector<ControlRecord> controls;
  std::vector<CardCommand> pin_pad_commands;
};

State& GetState();
std::unique_lock<std::recursive_mutex> Lock();

Reader* FindReader(const std::string& name);
Reader* FindReaderById(uint32_t id);

// Moves the virtual clock forward to `ms` (never back), carrying out the scheduled insertions and
// removals that fall due on the way, each at its own time.
void AdvanceTo(uint64_t ms);
// Time of the next scheduled event, or UINT64_MAX when none is scheduled.
uint64_t NextEventMs();

// Fault injection: counts a call of `fn` against the pending faults; true when one falls due,
// with its result in *result.
bool TakeFault(Fn fn, pcsc::Result* result);

// The platform control codes as the simulator gives them (pcsc-lite's form), and the codes of
// the PIN-pad features its readers report.
constexpr uint32_t SimPlatformCode(uint32_t n) {
  return 0x42000000u + n;
}
constexpr uint32_t kCtlGetFeatureRequest = SimPlatformCode(pcsc::kFeatureRequestFunction);
constexpr uint32_t kCtlVerifyPinDirect = SimPlatformCode(3500 + 0x06);
constexpr uint32_t kCtlModifyPinDirect = SimPlatformCode(3500 + 0x07);

// One control request as the driver sees it.
struct ControlRequest {
  const uint8_t* input;
  uint32_t input_length;
  uint8_t* output;
  uint32_t output_length;
  uint32_t* returned;
};

// The PIN pad of PC/SC part 10 (pinpad.cpp): the feature list, and the secure PIN entry that
// builds the card command and sends it to the card.
pcsc::Result FeatureRequest(Reader& reader, const ControlRequest& request);
pcsc::Result VerifyPinDirect(Reader& reader, const ControlRequest& request);
pcsc::Result ModifyPinDirect(Reader& reader, const ControlRequest& request);

// The reader driver: carries out one vendor control request on `reader`.
pcsc::Result DriverControl(Reader& reader, uint32_t code, const uint8_t* input,
                           uint32_t input_length, uint8_t* output, uint32_t output_length,
                           uint32_t* returned);

}  // namespace internal
}  // namespace sim
