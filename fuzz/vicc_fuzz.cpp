// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target for kv-vicc's frame reader: the input is what vpcd sends over the link, after a
// first byte that picks the card in the slot (a processor card with a file, a script and a PIN,
// or a memory card of each family holding an insurance-card image). Properties: the frames are
// read exactly as the protocol lays them out (every APDU and every get-ATR answered with one
// frame, nothing else answered, nothing read past the input), and every frame sent is a whole
// frame: its length names its payload, an APDU's response carries at least SW1 SW2, the ATR
// answer is the card's ATR.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_check.h"
#include "sim/cards/card.h"
#include "tests/memcard/insurance_card.h"
#include "tools/kv-vicc/frames.h"

namespace {

using cards::Bytes;

cards::CardSpec CardFor(uint8_t pick) {
  cards::CardSpec spec;
  switch (pick % 6) {
    case 0:
      spec.files[0x2F01] = {0x01, 0x02, 0x03, 0x04, 0x05};
      spec.script[{0x00, 0xCA, 0x01, 0x00, 0x00}] = {0x12, 0x34, 0x90, 0x00};
      spec.pin = {0x12, 0x34, 0xFF, 0xFF};
      return spec;
    case 1:
      spec.kind = cards::CardKind::kTwoWire;
      spec.protection = 0x0000FFFF;
      break;
    case 2:
      spec.kind = cards::CardKind::kThreeWire;
      spec.pin = {0x12, 0x34};
      break;
    case 3:
      spec.kind = cards::CardKind::kThreeWire;
      spec.pin_area_plain = true;
      break;
    case 4:
      spec.kind = cards::CardKind::kI2c;
      break;
    default:
      spec.kind = cards::CardKind::kI2c;
      spec.address_width = 2;
      spec.first_byte_fixed = true;
      spec.memory_size = 2048;
      break;
  }
  testcards::InsuranceCard card;
  spec.memory = testcards::Build(card);
  return spec;
}

// vpcd's side of the link: the input, read out in the pieces asked for; the frames sent are
// checked as they come.
class InputLink : public vicc::Link {
 public:
  InputLink(const uint8_t* data, size_t size, const cards::Card& card)
      : data_(data), size_(size), card_(card) {}

  vicc::Outcome Read(uint8_t* buffer, size_t length) override {
    if (length > size_ - at_) return vicc::Outcome::kClosed;
    std::memcpy(buffer, data_ + at_, length);
    at_ += length;
    // The payload just read decides what answer comes next.
    if (length != 2 || reading_payload_) {
      last_payload_ = length;
      last_control_ = buffer[0];
      reading_payload_ = false;
    } else {
      reading_payload_ = (buffer[0] << 8 | buffer[1]) != 0;
    }
    return vicc::Outcome::kDone;
  }

  vicc::Outcome Send(const Bytes& frame) override {
    ++sent_;
    FUZZ_CHECK(
        frame.size() >= 2 && frame.size() - 2 == static_cast<size_t>(frame[0] << 8 | frame[1]),
        "a frame of %zu bytes names another length", frame.size());
    const Bytes payload(frame.begin() + 2, frame.end());
    if (last_payload_ == 1) {
      FUZZ_CHECK(last_control_ == vicc::kCtrlGetAtr, "control byte %02X answered", last_control_);
      FUZZ_CHECK(payload == card_.Atr() && !payload.empty(), "the ATR answer is not the ATR");
    } else {
      FUZZ_CHECK(payload.size() >= 2, "an APDU answered with %zu bytes", payload.size());
    }
    return vicc::Outcome::kDone;
  }

  size_t sent() const { return sent_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  const cards::Card& card_;
  bool reading_payload_ = false;
  size_t last_payload_ = 0;
  uint8_t last_control_ = 0;
  size_t sent_ = 0;
};

// The answers the input asks for, counted as the protocol lays the frames out.
size_t ExpectedAnswers(const uint8_t* data, size_t size) {
  size_t answers = 0;
  for (size_t at = 0; size - at >= 2;) {
    const size_t length = static_cast<size_t>(data[at] << 8 | data[at + 1]);
    at += 2;
    if (length > size - at) break;
    if (length == 1 ? data[at] == vicc::kCtrlGetAtr : length > 1) ++answers;
    at += length;
  }
  return answers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::unique_ptr<cards::Card> card = cards::MakeCard(CardFor(data[0]));
  FUZZ_CHECK(card != nullptr, "no card for %u", data[0]);
  // An exact-size copy of the stream, so that a read past it is a report.
  std::unique_ptr<uint8_t[]> stream(new uint8_t[size - 1]);
  std::memcpy(stream.get(), data + 1, size - 1);
  InputLink link(stream.get(), size - 1, *card);
  const vicc::Outcome outcome = vicc::Serve(link, *card, false);
  FUZZ_CHECK(outcome == vicc::Outcome::kClosed, "the service ended otherwise than by the close");
  const size_t expected = ExpectedAnswers(stream.get(), size - 1);
  FUZZ_CHECK(link.sent() == expected, "%zu answers for %zu asked", link.sent(), expected);
  return 0;
}
