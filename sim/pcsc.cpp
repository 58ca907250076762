// SPDX-License-Identifier: BSD-3-Clause
// The PC/SC seam on the reader simulator: the resource manager's calls with the semantics of
// WinSCard, answered from the simulated readers and cards. Every call is logged with its answer;
// a pending fault answers in a call's place and the call then does nothing else.
#include "pcsc/pcsc.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "sim/state.h"

namespace pcsc {
namespace {

using sim::Call;
using sim::Fn;
using sim::internal::Connection;
using sim::internal::GetState;
using sim::internal::Lock;
using sim::internal::Reader;

constexpr uint32_t kScopeSystem = 2;
// Longest command or control input the simulator accepts (an extended APDU with both lengths).
constexpr uint32_t kMaxInputLength = 65544;
// The state bits compared between the caller's current state and the reader's.
constexpr uint32_t kComparedBits = kStateUnknown | kStateUnavailable | kStateEmpty | kStatePresent |
                                   kStateExclusive | kStateInUse | kStateMute | kStateUnpowered;

Call StartCall(Fn fn) {
  Call call{};
  call.fn = fn;
  call.time_ms = GetState().now_ms;
  return call;
}

// Does the work of a call unless a fault falls due, logs the call with its answer and returns it.
template <typename Work>
Result Answer(Call& call, Work work) {
  Result result = kSuccess;
  if (!sim::internal::TakeFault(call.fn, &result)) result = work();
  call.result = result;
  GetState().calls.push_back(call);
  return result;
}

uint32_t NewHandle() {
  return 0x00010000u + ++GetState().next_handle;
}

bool ContextOpen(Context context) {
  const auto& contexts = GetState().contexts;
  return std::find(contexts.begin(), contexts.end(), context) != contexts.end();
}

Connection* FindConnection(CardHandle handle) {
  for (Connection& connection : GetState().connections) {
    if (connection.handle == handle) return &connection;
  }
  return nullptr;
}

std::string ReaderOf(CardHandle handle) {
  const Connection* connection = FindConnection(handle);
  return connection ? connection->reader_name : std::string();
}

// A connection that talks to a card (every shared or exclusive one, and a direct one that
// negotiated a protocol) ends with that card; a plain direct one only reaches the reader.
bool IsCardConnection(const Connection& connection) {
  return connection.share_mode != kShareDirect || connection.protocol != kProtocolUndefined;
}

// The reader a connection reaches, and for a card connection that its card is still the same
// and has not been reset by someone else since.
Result CheckConnection(const Connection& connection, Reader** reader) {
  Reader* found = sim::internal::FindReaderById(connection.reader_id);
  if (found == nullptr) return kReaderUnavailable;
  if (IsCardConnection(connection)) {
    if (connection.card_serial != found->card_serial) return kRemovedCard;
    if (connection.generation != found->generation) return kCardWasReset;
  }
  *reader = found;
  return kSuccess;
}

// Other connections (all but `except`) that use the reader's current card.
template <typename Visit>
void ForOtherCardUsers(const Reader& reader, CardHandle except, Visit visit) {
  for (const Connection& connection : GetState().connections) {
    if (connection.handle == except || connection.reader_id != reader.id) continue;
    if (!IsCardConnection(connection) || connection.card_serial != reader.card_serial) continue;
    visit(connection);
  }
}

Result CheckSharing(const Reader& reader, uint32_t share_mode, CardHandle except) {
  if (reader.held) return kSharingViolation;
  bool exclusive = false;
  bool shared = false;
  ForOtherCardUsers(reader, except, [&](const Connection& other) {
    if (other.share_mode == kShareExclusive) exclusive = true;
    if (other.share_mode == kShareShared) shared = true;
  });
  if (exclusive || (share_mode == kShareExclusive && shared)) return kSharingViolation;
  return kSuccess;
}

// Chooses the protocol of a connection and powers the card up if needed.
Result Negotiate(Reader& reader, uint32_t preferred, CardHandle except, uint32_t* protocol) {
  bool others = false;
  ForOtherCardUsers(reader, except, [&](const Connection& other) {
    if (other.protocol != kProtocolUndefined) others = true;
  });
  if (others && reader.card_protocol != kProtocolUndefined) {
    if ((preferred & reader.card_protocol) == 0) return kProtoMismatch;
    *protocol = reader.card_protocol;
    return kSuccess;
  }
  const uint32_t common = preferred & reader.card->spec().protocols & (kProtocolT0 | kProtocolT1);
  if (common == 0) return kProtoMismatch;
  *protocol = (common & kProtocolT0) ? kProtocolT0 : kProtocolT1;
  if (!reader.powered) {
    reader.card->Reset();
    reader.powered = true;
  }
  reader.card_protocol = *protocol;
  return kSuccess;
}

// Share mode and protocol of a new or renewed connection to `reader`.
Result Attach(Reader& reader, uint32_t share_mode, uint32_t preferred, CardHandle except,
              uint32_t* protocol) {
  if (share_mode == kShareDirect) {
    *protocol = kProtocolUndefined;
    if (preferred == 0 || !reader.card) return kSuccess;
    return Negotiate(reader, preferred, except, protocol);
  }
  if (!reader.card) return kNoSmartcard;
  const Result sharing = CheckSharing(reader, share_mode, except);
  if (sharing != kSuccess) return sharing;
  return Negotiate(reader, preferred, except, protocol);
}

// Reset, power-down and eject all end in a fresh answer to reset or an unpowered card; every
// other connection to the card learns of it (kCardWasReset) and has to reconnect.
void ResetCard(Reader& reader, uint32_t how) {
  if (how == kResetCard || how == kUnpowerCard || how == kEjectCard) {
    reader.card->Reset();
    reader.powered = how == kResetCard;
    ++reader.generation;
    reader.card_protocol = kProtocolUndefined;
  }
}

bool ValidShareMode(uint32_t share_mode, uint32_t preferred) {
  if (share_mode < kShareExclusive || share_mode > kShareDirect) return false;
  return share_mode == kShareDirect || preferred != 0;
}

// Hands `bytes` to the caller in one of the three forms of a variable-length answer: length
// query (no buffer), caller's buffer, or a buffer allocated here (*length == kAutoAllocate, the
// buffer argument then points to the caller's pointer).
Result DeliverVariable(const void* bytes, uint32_t size, uint8_t* buffer, uint32_t* length) {
  if (*length == kAutoAllocate) {
    if (buffer == nullptr) return kInvalidParameter;
    auto block = std::make_unique<uint8_t[]>(size);
    if (size != 0) memcpy(block.get(), bytes, size);
    uint8_t* address = block.get();
    GetState().allocations[address] = std::move(block);
    memcpy(buffer, &address, sizeof address);
  } else if (buffer != nullptr) {
    if (*length < size) {
      *length = size;
      return kInsufficientBuffer;
    }
    if (size != 0) memcpy(buffer, bytes, size);
  }
  *length = size;
  return kSuccess;
}

// The state of one reader as SCardGetStatusChangeA reports it (without kStateChanged).
uint32_t ReaderStateBits(const Reader& reader) {
  if (!reader.card) return kStateEmpty;
  bool exclusive = reader.held;
  bool in_use = false;
  ForOtherCardUsers(reader, 0, [&](const Connection& connection) {
    if (connection.share_mode == kShareExclusive) exclusive = true;
    if (connection.share_mode == kShareShared) in_use = true;
  });
  if (exclusive) return kStatePresent | kStateExclusive;
  return kStatePresent | (in_use ? kStateInUse : 0);
}

enum class Look { kUnchanged, kChanged, kAnswer };

// Fills the event states; kAnswer with *result when the call must answer now with a failure.
Look LookAtReaders(ReaderState* states, uint32_t count, Result* result) {
  bool changed = false;
  bool unknown = false;
  Result failure = kSuccess;
  for (uint32_t i = 0; i < count; ++i) {
    ReaderState& state = states[i];
    if (state.current_state & kStateIgnore) continue;
    const Reader* reader = sim::internal::FindReader(state.reader);
    state.atr_length = 0;
    if (reader == nullptr) {
      state.event_state = kStateUnknown | kStateChanged;
      unknown = true;
      continue;
    }
    if (reader->unavailable) {
      state.event_state = kStateChanged | kStateUnavailable;
      if (failure == kSuccess) failure = reader->unavailable_result;
      changed = true;
      continue;
    }
    const uint32_t bits = ReaderStateBits(*reader);
    const bool differs =
        state.current_state == kStateUnaware || (state.current_state & kComparedBits) != bits;
    state.event_state = bits | (differs ? kStateChanged : 0);
    if (reader->card) {
      const cards::Bytes& atr = reader->card->Atr();
      state.atr_length = static_cast<uint32_t>(std::min<size_t>(atr.size(), kMaxAtrSize));
      if (state.atr_length != 0) memcpy(state.atr, atr.data(), state.atr_length);
    }
    changed = changed || differs;
  }
  if (unknown) {
    *result = kUnknownReader;
    return Look::kAnswer;
  }
  if (failure != kSuccess) {
    *result = failure;
    return Look::kAnswer;
  }
  return changed ? Look::kChanged : Look::kUnchanged;
}

Result GetStatusChange(uint32_t timeout_ms, ReaderState* states, uint32_t count) {
  Result result = kSuccess;
  Look look = LookAtReaders(states, count, &result);
  if (look == Look::kAnswer) return result;
  if (look == Look::kChanged) return kSuccess;
  if (timeout_ms == 0) return kTimeout;
  const uint64_t deadline =
      timeout_ms == kInfinite ? UINT64_MAX : GetState().now_ms + static_cast<uint64_t>(timeout_ms);
  // Only a scheduled insertion or removal can change a reader while the caller waits.
  for (uint64_t next = sim::internal::NextEventMs(); next != UINT64_MAX && next <= deadline;
       next = sim::internal::NextEventMs()) {
    sim::internal::AdvanceTo(next);
    look = LookAtReaders(states, count, &result);
    if (look == Look::kAnswer) return result;
    if (look == Look::kChanged) return kSuccess;
  }
  // With an infinite time-out and nothing left that could change a reader, waiting would never
  // end: answer the time-out now instead.
  if (timeout_ms != kInfinite) sim::internal::AdvanceTo(deadline);
  return kTimeout;
}

}  // namespace

Result SCardEstablishContext(uint32_t scope, Context* context) {
  auto lock = Lock();
  Call call = StartCall(Fn::kEstablishContext);
  return Answer(call, [&]() -> Result {
    if (context == nullptr) return kInvalidParameter;
    if (!GetState().service_running) return kNoService;
    if (scope != kScopeUser && scope != kScopeSystem) return kInvalidValue;
    *context = NewHandle();
    GetState().contexts.push_back(*context);
    call.context = *context;
    return kSuccess;
  });
}

Result SCardReleaseContext(Context context) {
  auto lock = Lock();
  Call call = StartCall(Fn::kReleaseContext);
  call.context = context;
  return Answer(call, [&]() -> Result {
    auto& contexts = GetState().contexts;
    auto found = std::find(contexts.begin(), contexts.end(), context);
    if (found == contexts.end()) return kInvalidHandle;
    contexts.erase(found);
    // The context's card handles end with it; their cards are left as they are.
    auto& connections = GetState().connections;
    connections.erase(std::remove_if(connections.begin(), connections.end(),
                                     [&](const Connection& c) { return c.context == context; }),
                      connections.end());
    return kSuccess;
  });
}

Result SCardListReadersA(Context context, const char* groups, char* readers, uint32_t* length) {
  (void)groups;  // every reader belongs to the one group there is
  auto lock = Lock();
  Call call = StartCall(Fn::kListReaders);
  call.context = context;
  return Answer(call, [&]() -> Result {
    if (length == nullptr) return kInvalidParameter;
    if (!ContextOpen(context)) return kInvalidHandle;
    if (GetState().readers.empty()) return kNoReadersAvailable;
    std::string list;
    for (const auto& reader : GetState().readers) {
      list += reader->spec.name;
      list += '\0';
    }
    list += '\0';
    return DeliverVariable(list.data(), static_cast<uint32_t>(list.size()),
                           reinterpret_cast<uint8_t*>(readers), length);
  });
}

Result SCardFreeMemory(Context context, const void* memory) {
  auto lock = Lock();
  Call call = StartCall(Fn::kFreeMemory);
  call.context = context;
  return Answer(call, [&]() -> Result {
    if (!ContextOpen(context)) return kInvalidHandle;
    if (memory == nullptr) return kSuccess;
    auto& allocations = GetState().allocations;
    auto found = allocations.find(memory);
    if (found == allocations.end()) return kInvalidParameter;
    allocations.erase(found);
    return kSuccess;
  });
}

Result SCardGetStatusChangeA(Context context, uint32_t timeout_ms, ReaderState* states,
                             uint32_t count) {
  auto lock = Lock();
  Call call = StartCall(Fn::kGetStatusChange);
  call.context = context;
  call.timeout_ms = timeout_ms;
  if (states != nullptr && count > 0 && states[0].reader != nullptr) call.reader = states[0].reader;
  return Answer(call, [&]() -> Result {
    if (states == nullptr && count > 0) return kInvalidParameter;
    for (uint32_t i = 0; i < count; ++i) {
      if (states[i].reader == nullptr) return kInvalidParameter;
    }
    if (!ContextOpen(context)) return kInvalidHandle;
    return GetStatusChange(timeout_ms, states, count);
  });
}

Result SCardConnectA(Context context, const char* reader, uint32_t share_mode,
                     uint32_t preferred_protocols, CardHandle* card, uint32_t* active_protocol) {
  auto lock = Lock();
  Call call = StartCall(Fn::kConnect);
  call.context = context;
  call.reader = reader ? reader : "";
  call.share_mode = share_mode;
  call.protocols = preferred_protocols;
  return Answer(call, [&]() -> Result {
    if (reader == nullptr || card == nullptr || active_protocol == nullptr) {
      return kInvalidParameter;
    }
    if (!ContextOpen(context)) return kInvalidHandle;
    if (!ValidShareMode(share_mode, preferred_protocols)) return kInvalidValue;
    Reader* target = sim::internal::FindReader(reader);
    if (target == nullptr) return kUnknownReader;
    uint32_t protocol = kProtocolUndefined;
    const Result attached = Attach(*target, share_mode, preferred_protocols, 0, &protocol);
    if (attached != kSuccess) return attached;
    Connection connection;
    connection.handle = NewHandle();
    connection.context = context;
    connection.reader_id = target->id;
    connection.reader_name = target->spec.name;
    connection.share_mode = share_mode;
    connection.protocol = protocol;
    connection.card_serial = target->card_serial;
    connection.generation = target->generation;
    GetState().connections.push_back(connection);
    *card = connection.handle;
    *active_protocol = protocol;
    call.card = connection.handle;
    return kSuccess;
  });
}

Result SCardReconnect(CardHandle card, uint32_t share_mode, uint32_t preferred_protocols,
                      uint32_t initialization, uint32_t* active_protocol) {
  auto lock = Lock();
  Call call = StartCall(Fn::kReconnect);
  call.card = card;
  call.reader = ReaderOf(card);
  call.share_mode = share_mode;
  call.protocols = preferred_protocols;
  call.disposition = initialization;
  return Answer(call, [&]() -> Result {
    if (active_protocol == nullptr) return kInvalidParameter;
    Connection* connection = FindConnection(card);
    if (connection == nullptr) return kInvalidHandle;
    call.context = connection->context;
    if (!ValidShareMode(share_mode, preferred_protocols) || initialization > kEjectCard) {
      return kInvalidValue;
    }
    Reader* reader = sim::internal::FindReaderById(connection->reader_id);
    if (reader == nullptr) return kReaderUnavailable;
    // Reconnecting answers a reset but not a removal: that card is gone for this handle.
    if (IsCardConnection(*connection) && connection->card_serial != reader->card_serial) {
      return kRemovedCard;
    }
    uint32_t protocol = kProtocolUndefined;
    const Result attached = Attach(*reader, share_mode, preferred_protocols, card, &protocol);
    if (attached != kSuccess) return attached;
    if (reader->card && initialization != kLeaveCard) {
      ResetCard(*reader, kResetCard);  // power-down and eject on reconnect are a cold reset
      reader->card_protocol = protocol;
    }
    connection->share_mode = share_mode;
    connection->protocol = protocol;
    connection->card_serial = reader->card_serial;
    connection->generation = reader->generation;
    *active_protocol = protocol;
    return kSuccess;
  });
}

Result SCardDisconnect(CardHandle card, uint32_t disposition) {
  auto lock = Lock();
  Call call = StartCall(Fn::kDisconnect);
  call.card = card;
  call.reader = ReaderOf(card);
  call.disposition = disposition;
  return Answer(call, [&]() -> Result {
    Connection* connection = FindConnection(card);
    if (connection == nullptr) return kInvalidHandle;
    call.context = connection->context;
    if (disposition > kEjectCard) return kInvalidValue;
    Reader* reader = sim::internal::FindReaderById(connection->reader_id);
    const bool same_card =
        reader != nullptr && reader->card &&
        (!IsCardConnection(*connection) || connection->card_serial == reader->card_serial);
    if (same_card && reader->powered) ResetCard(*reader, disposition);
    auto& connections = GetState().connections;
    connections.erase(connections.begin() + (connection - connections.data()));
    return kSuccess;
  });
}

Result SCardTransmit(CardHandle card, const IoRequest* send_pci, const uint8_t* send,
                     uint32_t send_length, IoRequest* receive_pci, uint8_t* receive,
                     uint32_t* receive_length) {
  auto lock = Lock();
  Call call = StartCall(Fn::kTransmit);
  call.card = card;
  call.reader = ReaderOf(card);
  const bool send_ok = send != nullptr && send_length > 0 && send_length <= kMaxInputLength;
  if (send_ok) call.input.assign(send, send + send_length);
  return Answer(call, [&]() -> Result {
    if (send_pci == nullptr || !send_ok || receive == nullptr || receive_length == nullptr) {
      return kInvalidParameter;
    }
    Connection* connection = FindConnection(card);
    if (connection == nullptr) return kInvalidHandle;
    call.context = connection->context;
    Reader* reader = nullptr;
    if (!IsCardConnection(*connection)) {
      // A direct connection without a protocol reaches no card.
      reader = sim::internal::FindReaderById(connection->reader_id);
      if (reader == nullptr) return kReaderUnavailable;
      return reader->card ? kProtoMismatch : kNoSmartcard;
    }
    const Result checked = CheckConnection(*connection, &reader);
    if (checked != kSuccess) return checked;
    if (send_pci->protocol != connection->protocol) return kProtoMismatch;
    const cards::Bytes response = reader->card->Process(call.input);
    const uint32_t size = static_cast<uint32_t>(response.size());
    if (size > *receive_length) {
      *receive_length = size;
      return kInsufficientBuffer;
    }
    if (size != 0) memcpy(receive, response.data(), size);  // a card may answer nothing
    *receive_length = size;
    if (receive_pci != nullptr) receive_pci->protocol = connection->protocol;
    return kSuccess;
  });
}

Result SCardGetAttrib(CardHandle card, uint32_t attribute, uint8_t* value, uint32_t* length) {
  auto lock = Lock();
  Call call = StartCall(Fn::kGetAttrib);
  call.card = card;
  call.reader = ReaderOf(card);
  call.code = attribute;
  return Answer(call, [&]() -> Result {
    if (length == nullptr) return kInvalidParameter;
    Connection* connection = FindConnection(card);
    if (connection == nullptr) return kInvalidHandle;
    call.context = connection->context;
    Reader* reader = nullptr;
    const Result checked = CheckConnection(*connection, &reader);
    if (checked != kSuccess) return checked;
    cards::Bytes answer;
    if (attribute == kAttrAtrString) {
      if (!reader->card) return kNoSmartcard;
      answer = reader->card->Atr();
    } else if (attribute == kAttrCurrentProtocolType) {
      for (int shift = 0; shift < 32; shift += 8) {
        answer.push_back(static_cast<uint8_t>(connection->protocol >> shift));
      }
    } else {
      return kUnsupportedFeature;
    }
    return DeliverVariable(answer.data(), static_cast<uint32_t>(answer.size()), value, length);
  });
}

uint32_t PlatformControlCode(uint32_t n) {
  return sim::internal::SimPlatformCode(n);
}

Result SCardControl(CardHandle card, uint32_t control_code, const void* input,
                    uint32_t input_length, void* output, uint32_t output_length,
                    uint32_t* returned) {
  auto lock = Lock();
  Call call = StartCall(Fn::kControl);
  call.card = card;
  call.reader = ReaderOf(card);
  call.code = control_code;
  const uint8_t* in = static_cast<const uint8_t*>(input);
  const bool input_ok = (in != nullptr || input_length == 0) && input_length <= kMaxInputLength;
  if (input_ok && in != nullptr) call.input.assign(in, in + input_length);
  return Answer(call, [&]() -> Result {
    if (!input_ok || (output == nullptr && output_length > 0) || returned == nullptr) {
      return kInvalidParameter;
    }
    Connection* connection = FindConnection(card);
    if (connection == nullptr) return kInvalidHandle;
    call.context = connection->context;
    Reader* reader = nullptr;
    const Result checked = CheckConnection(*connection, &reader);
    if (checked != kSuccess) return checked;
    GetState().controls.push_back(sim::ControlRecord{reader->spec.name, control_code, call.input});
    return sim::internal::DriverControl(*reader, control_code, in, input_length,
                                        static_cast<uint8_t*>(output), output_length, returned);
  });
}

}  // namespace pcsc
