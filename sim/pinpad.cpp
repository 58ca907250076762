// SPDX-License-Identifier: BSD-3-Clause
// The simulated PIN pad of PC/SC part 10: the feature list (FEATURE_VERIFY_PIN_DIRECT and
// FEATURE_MODIFY_PIN_DIRECT on readers with a PIN pad), and the two secure PIN entries. An
// entry reads PIN_VERIFY_STRUCTURE or PIN_MODIFY_STRUCTURE (packed, little-endian), takes the
// PIN entries the test queued, inserts the digits into the command template of the structure in
// the coding it asks for, sends the command to the card and answers the card's response. The
// reader's own answers are 64 00 (time-out), 64 01 (cancelled), 64 02 (new PINs differ) and
// 64 03 (PIN length outside the structure's limits).
//
// Kept to what the library sends: positions in bytes (a bit unit is refused), left-justified
// PINs, no PIN length field in the command.
#include <cstring>

#include "sim/state.h"

namespace sim {
namespace internal {
namespace {

using pcsc::Result;

constexpr uint8_t kFeatureVerifyPinDirect = 0x06;
constexpr uint8_t kFeatureModifyPinDirect = 0x07;

constexpr uint32_t kVerifyHeader = 19;  // PIN_VERIFY_STRUCTURE up to abData
constexpr uint32_t kModifyHeader = 24;  // PIN_MODIFY_STRUCTURE up to abData
constexpr uint32_t kApduHeader = 5;     // CLA INS P1 P2 Lc
constexpr uint64_t kDefaultTimeoutS = 30;

constexpr uint8_t kFormatBcd = 1;
constexpr uint8_t kFormatAscii = 2;
constexpr uint8_t kUnitBytes = 0x80;
constexpr uint8_t kConfirmNew = 0x01;
constexpr uint8_t kAskCurrent = 0x02;

const cards::Bytes kSwTimeout = {0x64, 0x00};
const cards::Bytes kSwCancelled = {0x64, 0x01};
const cards::Bytes kSwPinsDiffer = {0x64, 0x02};
const cards::Bytes kSwBadLength = {0x64, 0x03};

// What both structures say about the PIN and its place.
struct Entry {
  uint8_t timeout_s;
  uint8_t format;      // bmFormatString
  uint8_t block_size;  // bmPINBlockString, low nibble: bytes of the PIN block
  uint8_t max_digits;  // wPINMaxExtraDigit, low byte
  uint8_t min_digits;  // wPINMaxExtraDigit, high byte
  cards::Bytes apdu;   // the command template
};

uint32_t ReadLe32(const uint8_t* bytes) {
  return bytes[0] | static_cast<uint32_t>(bytes[1]) << 8 | static_cast<uint32_t>(bytes[2]) << 16 |
         static_cast<uint32_t>(bytes[3]) << 24;
}

// The PIN position after the format, in bytes from the start of the command's data field.
bool FormatPosition(uint8_t format, uint32_t* position) {
  if ((format & kUnitBytes) == 0 && (format & 0x78) != 0) return false;
  *position = (format >> 3) & 0x0F;
  return true;
}

// The template: at least the header with Lc, and exactly Lc data bytes (an Le byte may follow).
bool ReadTemplate(const uint8_t* bytes, uint32_t length, Entry* entry) {
  if (length < kApduHeader) return false;
  const uint32_t lc = bytes[4];
  if (length != kApduHeader + lc && length != kApduHeader + lc + 1) return false;
  entry->apdu.assign(bytes, bytes + length);
  return true;
}

bool Digits(const std::string& digits) {
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Inserts `digits` at data offset `offset` of the template; false when they do not fit.
bool Insert(const Entry& entry, uint32_t offset, const std::string& digits, cards::Bytes* apdu) {
  const uint8_t coding = entry.format & 0x03;
  const size_t bytes = coding == kFormatBcd ? (digits.size() + 1) / 2 : digits.size();
  const size_t block = entry.block_size;
  if (bytes > block || kApduHeader + offset + block > apdu->size()) return false;
  uint8_t* at = apdu->data() + kApduHeader + offset;
  for (size_t i = 0; i < digits.size(); ++i) {
    const uint8_t value = static_cast<uint8_t>(digits[i] - '0');
    if (coding == kFormatBcd) {
      uint8_t& byte = at[i / 2];
      byte = (i % 2 == 0) ? static_cast<uint8_t>(value << 4 | 0x0F)
                          : static_cast<uint8_t>((byte & 0xF0) | value);
    } else {
      at[i] = coding == kFormatAscii ? static_cast<uint8_t>('0' + value) : value;
    }
  }
  return true;
}

// Takes the next entry the test queued; an empty queue is a time-out.
PinEntry NextEntry(Reader& reader) {
  if (reader.pin_entries.empty()) return PinTimeout();
  PinEntry entry = reader.pin_entries.front();
  reader.pin_entries.pop_front();
  return entry;
}

// The reader's answer to an entry that is not a usable PIN, or an empty answer when it is one.
cards::Bytes Refusal(const Entry& entry, const PinEntry& typed) {
  switch (typed.kind) {
    case PinEntry::Kind::kCancel:
      return kSwCancelled;
    case PinEntry::Kind::kTimeout: {
      const uint64_t seconds = entry.timeout_s != 0 ? entry.timeout_s : kDefaultTimeoutS;
      AdvanceTo(GetState().now_ms + seconds * 1000);
      return kSwTimeout;
    }
    case PinEntry::Kind::kDigits:
      break;
  }
  const size_t n = typed.digits.size();
  if (!Digits(typed.digits) || n < entry.min_digits || n > entry.max_digits || n == 0) {
    return kSwBadLength;
  }
  return {};
}

Result Deliver(const cards::Bytes& answer, const ControlRequest& request) {
  if (answer.size() > request.output_length) return pcsc::kInsufficientBuffer;
  if (!answer.empty()) memcpy(request.output, answer.data(), answer.size());
  *request.returned = static_cast<uint32_t>(answer.size());
  return pcsc::kSuccess;
}

// Sends the finished command to the card (powering it when nobody has yet) and answers its
// response.
Result SendToCard(Reader& reader, const cards::Bytes& apdu, const ControlRequest& request) {
  if (!reader.powered) {
    reader.card->Reset();
    reader.powered = true;
  }
  cards::Bytes response = reader.card->Process(apdu);
  GetState().pin_pad_commands.push_back(CardCommand{reader.spec.name, apdu, response});
  return Deliver(response, request);
}

}  // namespace

Result FeatureRequest(Reader& reader, const ControlRequest& request) {
  if (!reader.spec.pin_pad) return pcsc::kSuccess;  // an empty list
  cards::Bytes answer;
  for (uint8_t feature : {kFeatureVerifyPinDirect, kFeatureModifyPinDirect}) {
    const uint32_t code =
        feature == kFeatureVerifyPinDirect ? kCtlVerifyPinDirect : kCtlModifyPinDirect;
    answer.insert(answer.end(),
                  {feature, 4, static_cast<uint8_t>(code >> 24), static_cast<uint8_t>(code >> 16),
                   static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)});
  }
  return Deliver(answer, request);
}

Result VerifyPinDirect(Reader& reader, const ControlRequest& request) {
  if (request.input_length < kVerifyHeader) return pcsc::kInvalidParameter;
  const uint8_t* in = request.input;
  if (ReadLe32(in + 15) != request.input_length - kVerifyHeader) return pcsc::kInvalidParameter;
  Entry entry{in[0], in[2], static_cast<uint8_t>(in[3] & 0x0F), in[5], in[6], {}};
  uint32_t position = 0;
  if (!FormatPosition(entry.format, &position) ||
      !ReadTemplate(in + kVerifyHeader, request.input_length - kVerifyHeader, &entry)) {
    return pcsc::kInvalidParameter;
  }
  if (!reader.card) return pcsc::kNoSmartcard;
  const PinEntry typed = NextEntry(reader);
  const cards::Bytes refusal = Refusal(entry, typed);
  if (!refusal.empty()) return Deliver(refusal, request);
  cards::Bytes apdu = entry.apdu;
  if (!Insert(entry, position, typed.digits, &apdu)) return Deliver(kSwBadLength, request);
  return SendToCard(reader, apdu, request);
}

Result ModifyPinDirect(Reader& reader, const ControlRequest& request) {
  if (request.input_length < kModifyHeader) return pcsc::kInvalidParameter;
  const uint8_t* in = request.input;
  if (ReadLe32(in + 20) != request.input_length - kModifyHeader) return pcsc::kInvalidParameter;
  Entry entry{in[0], in[2], static_cast<uint8_t>(in[3] & 0x0F), in[7], in[8], {}};
  uint32_t position = 0;
  if (!FormatPosition(entry.format, &position) ||
      !ReadTemplate(in + kModifyHeader, request.input_length - kModifyHeader, &entry)) {
    return pcsc::kInvalidParameter;
  }
  const uint32_t old_offset = position + in[5];
  const uint32_t new_offset = position + in[6];
  const uint8_t confirm = in[9];
  if (!reader.card) return pcsc::kNoSmartcard;
  cards::Bytes apdu = entry.apdu;
  if (confirm & kAskCurrent) {
    const PinEntry old_pin = NextEntry(reader);
    const cards::Bytes refusal = Refusal(entry, old_pin);
    if (!refusal.empty()) return Deliver(refusal, request);
    if (!Insert(entry, old_offset, old_pin.digits, &apdu)) return Deliver(kSwBadLength, request);
  }
  const PinEntry new_pin = NextEntry(reader);
  cards::Bytes refusal = Refusal(entry, new_pin);
  if (!refusal.empty()) return Deliver(refusal, request);
  if (confirm & kConfirmNew) {
    const PinEntry again = NextEntry(reader);
    refusal = Refusal(entry, again);
    if (!refusal.empty()) return Deliver(refusal, request);
    if (again.digits != new_pin.digits) return Deliver(kSwPinsDiffer, request);
  }
  if (!Insert(entry, new_offset, new_pin.digits, &apdu)) return Deliver(kSwBadLength, request);
  return SendToCard(reader, apdu, request);
}

}  // namespace internal
}  // namespace sim
