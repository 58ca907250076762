// SPDX-License-Identifier: BSD-3-Clause
// The reader simulator's control API for tests, its virtual clock (which also stands in for
// platform::MonotonicMs and platform::SleepMs), scheduled card events and fault injection.
#include "sim/sim.h"

#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "sim/state.h"

namespace sim {
namespace internal {

State& GetState() {
  static State state;
  return state;
}

std::unique_lock<std::recursive_mutex> Lock() {
  return std::unique_lock<std::recursive_mutex>(GetState().mutex);
}

Reader* FindReader(const std::string& name) {
  for (auto& reader : GetState().readers) {
    if (reader->spec.name == name) return reader.get();
  }
  return nullptr;
}

Reader* FindReaderById(uint32_t id) {
  for (auto& reader : GetState().readers) {
    if (reader->id == id) return reader.get();
  }
  return nullptr;
}

}  // namespace internal

namespace {

using internal::Event;
using internal::GetState;
using internal::Lock;
using internal::Reader;

// A test that names a reader which is not attached is wrong; stop it loudly.
[[noreturn]] void Misuse(const char* function, const std::string& reader) {
  fprintf(stderr, "sim::%s: no reader named \"%s\" is attached\n", function, reader.c_str());
  abort();
}

Reader& AttachedReader(const char* function, const std::string& name) {
  Reader* reader = internal::FindReader(name);
  if (reader == nullptr) Misuse(function, name);
  return *reader;
}

void TakeOutCard(Reader& reader) {
  reader.card.reset();
  reader.card_serial = 0;
  reader.powered = false;
  reader.card_protocol = 0;
}

void PutInCard(Reader& reader, const cards::CardSpec& spec) {
  TakeOutCard(reader);
  reader.card = cards::MakeCard(spec);
  reader.card_serial = ++GetState().next_card_serial;
}

void CarryOut(const Event& event) {
  Reader* reader = internal::FindReader(event.reader);
  if (reader == nullptr) return;
  if (event.insert) {
    PutInCard(*reader, event.card);
  } else {
    TakeOutCard(*reader);
  }
}

void Schedule(Event event) {
  internal::State& state = GetState();
  event.seq = state.next_event_seq++;
  state.events.push_back(std::move(event));
  // An event due now or earlier happens at once.
  internal::AdvanceTo(state.now_ms);
}

}  // namespace

namespace internal {

uint64_t NextEventMs() {
  uint64_t next = UINT64_MAX;
  for (const Event& event : GetState().events) {
    if (event.at_ms < next) next = event.at_ms;
  }
  return next;
}

void AdvanceTo(uint64_t ms) {
  State& state = GetState();
  for (;;) {
    auto due = state.events.end();
    for (auto it = state.events.begin(); it != state.events.end(); ++it) {
      if (it->at_ms > ms) continue;
      if (due == state.events.end() || it->at_ms < due->at_ms ||
          (it->at_ms == due->at_ms && it->seq < due->seq)) {
        due = it;
      }
    }
    if (due == state.events.end()) break;
    Event event = std::move(*due);
    state.events.erase(due);
    if (event.at_ms > state.now_ms) state.now_ms = event.at_ms;
    CarryOut(event);
  }
  if (ms > state.now_ms) state.now_ms = ms;
}

bool TakeFault(Fn fn, pcsc::Result* result) {
  bool fired = false;
  for (auto it = GetState().faults.begin(); it != GetState().faults.end();) {
    if (it->fn != fn) {
      ++it;
      continue;
    }
    if (it->remaining > 1) {
      --it->remaining;
      ++it;
    } else if (!fired) {
      fired = true;
      *result = it->result;
      it = GetState().faults.erase(it);
    } else {
      ++it;  // due on the same call as an earlier fault: it answers the next call instead
    }
  }
  return fired;
}

}  // namespace internal

void Reset() {
  auto lock = Lock();
  internal::State& state = GetState();
  state.service_running = true;
  state.now_ms = 0;
  // Handles keep counting: code that remembers something per card handle (memlink) must not
  // meet a handle of an earlier test again.
  state.next_reader_id = 0;
  state.next_card_serial = 0;
  state.next_event_seq = 0;
  state.readers.clear();
  state.contexts.clear();
  state.connections.clear();
  state.allocations.clear();
  state.events.clear();
  state.faults.clear();
  state.calls.clear();
  state.controls.clear();
  state.pin_pad_commands.clear();
}

void SetServiceRunning(bool running) {
  auto lock = Lock();
  GetState().service_running = running;
}

void AddReader(const ReaderSpec& spec) {
  auto lock = Lock();
  if (internal::FindReader(spec.name) != nullptr) {
    fprintf(stderr, "sim::AddReader: a reader named \"%s\" is already attached\n",
            spec.name.c_str());
    abort();
  }
  auto reader = std::make_unique<Reader>();
  reader->id = ++GetState().next_reader_id;
  reader->spec = spec;
  GetState().readers.push_back(std::move(reader));
}

void RemoveReader(const std::string& name) {
  auto lock = Lock();
  AttachedReader("RemoveReader", name);
  auto& readers = GetState().readers;
  for (auto it = readers.begin(); it != readers.end(); ++it) {
    if ((*it)->spec.name == name) {
      readers.erase(it);
      return;
    }
  }
}

void InsertCard(const std::string& reader, const cards::CardSpec& card) {
  auto lock = Lock();
  PutInCard(AttachedReader("InsertCard", reader), card);
}

void RemoveCard(const std::string& reader) {
  auto lock = Lock();
  TakeOutCard(AttachedReader("RemoveCard", reader));
}

void InsertCardAt(const std::string& reader, const cards::CardSpec& card, uint64_t at_ms) {
  auto lock = Lock();
  Event event;
  event.at_ms = at_ms;
  event.reader = reader;
  event.insert = true;
  event.card = card;
  Schedule(std::move(event));
}

void RemoveCardAt(const std::string& reader, uint64_t at_ms) {
  auto lock = Lock();
  Event event;
  event.at_ms = at_ms;
  event.reader = reader;
  Schedule(std::move(event));
}

void HoldExclusively(const std::string& reader, bool held) {
  auto lock = Lock();
  AttachedReader("HoldExclusively", reader).held = held;
}

void SetUnavailable(const std::string& reader, bool unavailable, uint32_t result) {
  auto lock = Lock();
  Reader& target = AttachedReader("SetUnavailable", reader);
  target.unavailable = unavailable;
  target.unavailable_result = result;
}

void FailCall(Fn fn, uint32_t nth, uint32_t result) {
  auto lock = Lock();
  GetState().faults.push_back(internal::Fault{fn, nth == 0 ? 1 : nth, result});
}

const std::vector<Call>& Calls() {
  auto lock = Lock();
  return GetState().calls;
}

void ClearCalls() {
  auto lock = Lock();
  GetState().calls.clear();
  GetState().controls.clear();
  GetState().pin_pad_commands.clear();
}

size_t CountCalls(Fn fn) {
  auto lock = Lock();
  size_t count = 0;
  for (const Call& call : GetState().calls) {
    if (call.fn == fn) ++count;
  }
  return count;
}

std::vector<ControlRecord> Controls() {
  auto lock = Lock();
  return GetState().controls;
}

void QueueKeys(const std::string& reader, const std::vector<uint8_t>& keys) {
  auto lock = Lock();
  Reader& target = AttachedReader("QueueKeys", reader);
  target.keys.insert(target.keys.end(), keys.begin(), keys.end());
}

PinEntry PinDigits(const std::string& digits) {
  return PinEntry{PinEntry::Kind::kDigits, digits};
}

PinEntry PinCancel() {
  return PinEntry{PinEntry::Kind::kCancel, {}};
}

PinEntry PinTimeout() {
  return PinEntry{PinEntry::Kind::kTimeout, {}};
}

void QueuePinEntries(const std::string& reader, const std::vector<PinEntry>& entries) {
  auto lock = Lock();
  Reader& target = AttachedReader("QueuePinEntries", reader);
  target.pin_entries.insert(target.pin_entries.end(), entries.begin(), entries.end());
}

std::vector<CardCommand> PinPadCommands() {
  auto lock = Lock();
  return GetState().pin_pad_commands;
}

std::vector<std::string> DisplayLines(const std::string& reader) {
  auto lock = Lock();
  const Reader& target = AttachedReader("DisplayLines", reader);
  return std::vector<std::string>(target.lines.begin(), target.lines.end());
}

size_t OpenContexts() {
  auto lock = Lock();
  return GetState().contexts.size();
}

size_t OpenConnections() {
  auto lock = Lock();
  return GetState().connections.size();
}

size_t OpenAllocations() {
  auto lock = Lock();
  return GetState().allocations.size();
}

uint64_t NowMs() {
  auto lock = Lock();
  return GetState().now_ms;
}

void AdvanceMs(uint64_t ms) {
  auto lock = Lock();
  internal::AdvanceTo(GetState().now_ms + ms);
}

}  // namespace sim

// The library's clock and sleep, on virtual time.
namespace platform {

uint64_t MonotonicMs() {
  return sim::NowMs();
}

void SleepMs(uint32_t ms) {
  sim::AdvanceMs(ms);
}

}  // namespace platform
