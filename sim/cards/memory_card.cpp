// SPDX-License-Identifier: BSD-3-Clause
// Synchronous memory cards as a PC/SC reader with storage-card support serves them: the reader
// answers the storage-card commands (class FF) on the card's behalf, so the model is the card
// and that part of the reader firmware together.
//
//   FF A4 00 00 01 TT   SELECT CARD TYPE: 06 2-wire, 05 3-wire, 01/02 I2C with 1-/2-byte addresses
//   FF B0 AH AL N       READ MEMORY (N = 00 means 256)
//   FF D0 AH AL N data  WRITE MEMORY (N = 00 with 256 bytes of data)
//   FF B2 00 00 04      READ PROTECTION BITS (2-wire)
//   FF D1 00 AA 01 VV   WRITE PROTECTION (2-wire): protects address AA if VV is its value
//   FF B1 00 00 04      READ ERROR COUNTER (2-wire): counter, then the code (00 00 00 unless
//                       it was presented)
//   FF 20 00 00 Lc code PRESENT CODE (Lc 3 on 2-wire, 2 on 3-wire cards)
//   FF D2 00 01 Lc code CHANGE CODE (after PRESENT CODE in the same power cycle)
//   FF D2 00 00 Lc old new  CHANGE CODE with the old code: checked as PRESENT CODE checks it
//                       (a wrong one costs a try), then the new one is written; the code counts
//                       as presented afterwards. Lc is twice the code length.
//
// The choices, for the tests that rely on them:
// - Every command but SELECT CARD TYPE answers 6A 81 until a type of the card's family has been
//   selected in this power cycle; a SELECT of another family answers 6A 81 and leaves no type
//   selected. Selecting (again) drops a presented code, as a reader that powers the card then.
// - An address range that leaves the memory answers 6B 00 and transfers nothing.
// - Writes to 2-wire cards and to 3-wire cards with a code need the code presented in this
//   power cycle (else 69 82); a write that touches a protected 2-wire byte, or the counter or
//   code area (the last three bytes) of a 3-wire card with a code, answers 69 82 and changes
//   nothing. The 3-wire code area reads 00 00.
// - A wrong code answers 63 Cx (x tries left, 0 after the last one) and costs a try; with no
//   tries left PRESENT CODE answers 69 83. A right code answers 90 00 and restores all tries.
// - An I2C card addressed with the other address width reads as usual but drops writes (90 00,
//   nothing changes), as the card takes an address byte for data and writes somewhere else.
// - Commands the family does not have answer 6D 00; malformed ones 67 00 or 6A 86.
// - Contents, protection bits, code and counter persist over resets (they are the card's
//   EEPROM); the selected type and a presented code do not.
#include "sim/cards/memory_card.h"

#include <algorithm>

namespace cards {
namespace {

constexpr uint16_t kSwOk = 0x9000;
constexpr uint16_t kSwWrongLength = 0x6700;
constexpr uint16_t kSwNotAllowed = 0x6982;  // protected byte, or the code was not presented
constexpr uint16_t kSwBlocked = 0x6983;
constexpr uint16_t kSwWrongData = 0x6A80;
constexpr uint16_t kSwWrongType = 0x6A81;  // no type selected, or the card is not of that type
constexpr uint16_t kSwWrongP1P2 = 0x6A86;
constexpr uint16_t kSwOutside = 0x6B00;
constexpr uint16_t kSwInsNotSupported = 0x6D00;
constexpr uint16_t kSwClaNotSupported = 0x6E00;
constexpr uint16_t kSwWrongCodeBase = 0x63C0;

constexpr uint8_t kClass = 0xFF;
constexpr uint8_t kTypeTwoWire = 0x06;
constexpr uint8_t kTypeThreeWire = 0x05;
constexpr uint8_t kTypeI2cShort = 0x01;
constexpr uint8_t kTypeI2cLong = 0x02;

constexpr uint32_t kMinSize = 128;
constexpr uint32_t kMaxSize = 65536;
constexpr uint32_t kProtectedBytes = 32;
constexpr uint8_t kTwoWireFullCounter = 0x07;
constexpr uint8_t kThreeWireFullCounter = 0xFF;
constexpr size_t kHeader = 5;  // CLA INS P1 P2 P3

Bytes StatusWord(uint16_t sw) {
  return Bytes{static_cast<uint8_t>(sw >> 8), static_cast<uint8_t>(sw & 0xFF)};
}

uint32_t DefaultSize(CardKind kind) {
  return kind == CardKind::kThreeWire ? 1024 : 256;
}

uint32_t SetBits(uint32_t value) {
  uint32_t count = 0;
  for (; value != 0; value &= value - 1)
    ++count;
  return count;
}

// The live state of one memory card.
class MemoryCard : public Card {
 public:
  explicit MemoryCard(const CardSpec& spec) : spec_(spec) {
    size_ = spec.memory_size == 0 ? DefaultSize(spec.kind)
                                  : std::clamp(spec.memory_size, kMinSize, kMaxSize);
    memory_.assign(size_, 0xFF);
    std::copy_n(spec.memory.begin(), std::min<size_t>(spec.memory.size(), size_), memory_.begin());
    pin_.assign(CodeLength(), 0xFF);
    if (spec.pin.size() == pin_.size()) pin_ = spec.pin;
    protection_ = spec.protection;
    if (spec.kind == CardKind::kTwoWire) {
      counter_ = spec.error_counter < 0 ? kTwoWireFullCounter
                                        : static_cast<uint8_t>(spec.error_counter & 0x07);
    } else if (HasCode()) {
      memory_[CounterAddress()] = spec.error_counter < 0
                                      ? kThreeWireFullCounter
                                      : static_cast<uint8_t>(spec.error_counter & 0xFF);
    }
    Reset();
  }

  const CardSpec& spec() const override { return spec_; }
  const Bytes& Atr() const override { return atr_; }

  void Reset() override {
    selected_ = 0;
    presented_ = false;
    if (spec_.kind == CardKind::kI2c) {
      atr_ = {0x3B, 0x04, 0x49, 0x32, 0x43, 0x2E};
    } else {
      atr_ = {0x3B, 0x04, memory_[0], memory_[1], memory_[2], memory_[3]};
    }
  }

  Bytes Process(const Bytes& apdu) override {
    if (next_reply_ < spec_.replies.size()) return spec_.replies[next_reply_++];
    auto scripted = spec_.script.find(apdu);
    if (scripted != spec_.script.end()) return scripted->second;
    if (apdu.size() < kHeader) return StatusWord(kSwWrongLength);
    if (apdu[0] != kClass) return StatusWord(kSwClaNotSupported);
    switch (apdu[1]) {
      case 0xA4:
        return StatusWord(SelectType(apdu));
      case 0xB0:
      case 0xD0:
      case 0xB2:
      case 0xD1:
      case 0xB1:
      case 0x20:
      case 0xD2:
        break;
      default:
        return StatusWord(kSwInsNotSupported);
    }
    if (selected_ == 0) return StatusWord(kSwWrongType);
    switch (apdu[1]) {
      case 0xB0:
        return ReadMemory(apdu);
      case 0xD0:
        return StatusWord(WriteMemory(apdu));
      case 0xB2:
        return ReadProtection(apdu);
      case 0xD1:
        return StatusWord(WriteProtection(apdu));
      case 0xB1:
        return ReadErrorCounter(apdu);
      case 0x20:
        return StatusWord(PresentCode(apdu));
      default:
        return StatusWord(ChangeCode(apdu));
    }
  }

 private:
  bool HasCode() const {
    return spec_.kind == CardKind::kTwoWire ||
           (spec_.kind == CardKind::kThreeWire && !spec_.pin_area_plain);
  }
  size_t CodeLength() const { return spec_.kind == CardKind::kTwoWire ? 3 : 2; }
  uint32_t CounterAddress() const { return size_ - 3; }
  bool ThreeWireReserved(uint32_t address) const {
    return spec_.kind == CardKind::kThreeWire && HasCode() && address >= CounterAddress();
  }
  uint8_t I2cWidth() const { return spec_.address_width == 2 ? 2 : 1; }

  uint8_t Counter() const {
    return spec_.kind == CardKind::kTwoWire ? counter_ : memory_[CounterAddress()];
  }
  void SetCounter(uint8_t value) {
    if (spec_.kind == CardKind::kTwoWire) {
      counter_ = value;
    } else {
      memory_[CounterAddress()] = value;
    }
  }

  uint16_t SelectType(const Bytes& apdu) {
    if (apdu.size() != kHeader + 1 || apdu[4] != 1) return kSwWrongLength;
    if (apdu[2] != 0 || apdu[3] != 0) return kSwWrongP1P2;
    const uint8_t type = apdu[5];
    bool fits = false;
    switch (spec_.kind) {
      case CardKind::kTwoWire:
        fits = type == kTypeTwoWire;
        break;
      case CardKind::kThreeWire:
        fits = type == kTypeThreeWire;
        break;
      default:
        fits = type == kTypeI2cShort || type == kTypeI2cLong;
        break;
    }
    selected_ = fits ? type : 0;
    presented_ = false;
    return fits ? kSwOk : kSwWrongType;
  }

  // Address and length of READ and WRITE MEMORY; false when the range leaves the memory.
  bool Range(const Bytes& apdu, uint32_t* address, uint32_t* length) const {
    *address = static_cast<uint32_t>(apdu[2]) << 8 | apdu[3];
    *length = apdu[4] == 0 ? 256 : apdu[4];
    return *address + *length <= size_;
  }

  Bytes ReadMemory(const Bytes& apdu) const {
    if (apdu.size() != kHeader) return StatusWord(kSwWrongLength);
    uint32_t address = 0;
    uint32_t length = 0;
    if (!Range(apdu, &address, &length)) return StatusWord(kSwOutside);
    Bytes answer;
    for (uint32_t i = address; i < address + length; ++i) {
      const bool code_area = ThreeWireReserved(i) && i != CounterAddress();
      answer.push_back(code_area ? 0x00 : memory_[i]);
    }
    answer.push_back(0x90);
    answer.push_back(0x00);
    return answer;
  }

  uint16_t WriteMemory(const Bytes& apdu) {
    uint32_t address = 0;
    uint32_t length = 0;
    const bool inside = Range(apdu, &address, &length);
    if (apdu.size() != kHeader + length) return kSwWrongLength;
    if (!inside) return kSwOutside;
    if (HasCode() && !presented_) return kSwNotAllowed;
    for (uint32_t i = address; i < address + length; ++i) {
      const bool locked =
          spec_.kind == CardKind::kTwoWire && i < kProtectedBytes && (protection_ & (1u << i)) == 0;
      if (locked || ThreeWireReserved(i)) return kSwNotAllowed;
    }
    if (spec_.kind == CardKind::kI2c) {
      const uint8_t width = selected_ == kTypeI2cLong ? 2 : 1;
      if (width != I2cWidth()) return kSwOk;
    }
    for (uint32_t i = 0; i < length; ++i) {
      const uint32_t target = address + i;
      if (spec_.kind == CardKind::kI2c && spec_.first_byte_fixed && target == 0) continue;
      memory_[target] = apdu[kHeader + i];
    }
    return kSwOk;
  }

  Bytes ReadProtection(const Bytes& apdu) const {
    if (spec_.kind != CardKind::kTwoWire) return StatusWord(kSwInsNotSupported);
    if (apdu.size() != kHeader || apdu[4] != 4) return StatusWord(kSwWrongLength);
    if (apdu[2] != 0 || apdu[3] != 0) return StatusWord(kSwWrongP1P2);
    Bytes answer;
    for (int shift = 0; shift < 32; shift += 8) {
      answer.push_back(static_cast<uint8_t>(protection_ >> shift));
    }
    answer.push_back(0x90);
    answer.push_back(0x00);
    return answer;
  }

  uint16_t WriteProtection(const Bytes& apdu) {
    if (spec_.kind != CardKind::kTwoWire) return kSwInsNotSupported;
    if (apdu.size() != kHeader + 1 || apdu[4] != 1) return kSwWrongLength;
    if (apdu[2] != 0) return kSwWrongP1P2;
    const uint8_t address = apdu[3];
    if (address >= kProtectedBytes) return kSwOutside;
    if (!presented_) return kSwNotAllowed;
    if (memory_[address] != apdu[5]) return kSwWrongData;
    protection_ &= ~(1u << address);
    return kSwOk;
  }

  Bytes ReadErrorCounter(const Bytes& apdu) const {
    if (spec_.kind != CardKind::kTwoWire) return StatusWord(kSwInsNotSupported);
    if (apdu.size() != kHeader || apdu[4] != 4) return StatusWord(kSwWrongLength);
    if (apdu[2] != 0 || apdu[3] != 0) return StatusWord(kSwWrongP1P2);
    Bytes answer = {counter_, 0x00, 0x00, 0x00};
    if (presented_) std::copy(pin_.begin(), pin_.end(), answer.begin() + 1);
    answer.push_back(0x90);
    answer.push_back(0x00);
    return answer;
  }

  uint16_t PresentCode(const Bytes& apdu) {
    if (!HasCode()) return kSwInsNotSupported;
    if (apdu[4] != CodeLength() || apdu.size() != kHeader + CodeLength()) return kSwWrongLength;
    if (apdu[2] != 0 || apdu[3] != 0) return kSwWrongP1P2;
    return CheckCode(Bytes(apdu.begin() + kHeader, apdu.end()));
  }

  // Compares a code with the card's and keeps the counter (PRESENT CODE and CHANGE CODE with
  // the old code).
  uint16_t CheckCode(const Bytes& code) {
    const uint8_t full =
        spec_.kind == CardKind::kTwoWire ? kTwoWireFullCounter : kThreeWireFullCounter;
    const uint8_t counter = Counter() & full;
    if (counter == 0) return kSwBlocked;
    if (code == pin_) {
      SetCounter(full);
      presented_ = true;
      return kSwOk;
    }
    // One try less: the 2-wire counter loses its highest set bit, the 3-wire one its lowest.
    const uint8_t left = spec_.kind == CardKind::kTwoWire ? static_cast<uint8_t>(counter >> 1)
                                                          : static_cast<uint8_t>(counter << 1);
    SetCounter(left);
    presented_ = false;
    return static_cast<uint16_t>(kSwWrongCodeBase + SetBits(left));
  }

  uint16_t ChangeCode(const Bytes& apdu) {
    if (!HasCode()) return kSwInsNotSupported;
    if (apdu[2] != 0 || apdu[3] > 1) return kSwWrongP1P2;
    const bool with_old = apdu[3] == 0;
    const size_t length = with_old ? 2 * CodeLength() : CodeLength();
    if (apdu[4] != length || apdu.size() != kHeader + length) return kSwWrongLength;
    if (with_old) {
      const Bytes old_code(apdu.begin() + kHeader,
                           apdu.begin() + static_cast<ptrdiff_t>(kHeader + CodeLength()));
      const uint16_t checked = CheckCode(old_code);
      if (checked != kSwOk) return checked;
    } else if (!presented_) {
      return kSwNotAllowed;
    }
    pin_.assign(apdu.end() - static_cast<ptrdiff_t>(CodeLength()), apdu.end());
    return kSwOk;
  }

  CardSpec spec_;
  uint32_t size_ = 0;
  Bytes memory_;
  Bytes pin_;
  Bytes atr_;
  uint32_t protection_ = 0xFFFFFFFF;
  uint8_t counter_ = 0;   // 2-wire; the 3-wire counter is in memory_
  uint8_t selected_ = 0;  // the selected card type, 0 = none since power-on
  bool presented_ = false;
  size_t next_reply_ = 0;  // replies are a stream over the card's life, not reset
};

}  // namespace

std::unique_ptr<Card> MakeMemoryCard(const CardSpec& spec) {
  switch (spec.kind) {
    case CardKind::kTwoWire:
    case CardKind::kThreeWire:
    case CardKind::kI2c:
      return std::make_unique<MemoryCard>(spec);
    case CardKind::kProcessor:
      break;
  }
  return nullptr;
}

}  // namespace cards
