// SPDX-License-Identifier: BSD-3-Clause
// Card models: the processor card, which answers replayed and scripted commands and otherwise
// serves a small ISO 7816-4 file system of transparent elementary files below the master file
// (SELECT by file identifier, READ BINARY, UPDATE BINARY), and a PIN with a counter (VERIFY,
// CHANGE REFERENCE DATA). Only short APDUs are understood. The memory cards are in
// memory_card.cpp.
#include "sim/cards/card.h"

#include <algorithm>

#include "sim/cards/memory_card.h"

namespace cards {
namespace {

// Status words the card answers.
constexpr uint16_t kSwOk = 0x9000;
constexpr uint16_t kSwEndOfFile = 0x6282;  // fewer bytes than asked for were left in the file
constexpr uint16_t kSwWrongLength = 0x6700;
constexpr uint16_t kSwNoCurrentEf = 0x6986;
constexpr uint16_t kSwBlocked = 0x6983;
constexpr uint16_t kSwWrongPinBase = 0x63C0;
constexpr uint16_t kSwNoPin = 0x6A88;
constexpr uint16_t kSwWrongP1P2Parameters = 0x6A86;
constexpr uint16_t kSwFunctionNotSupported = 0x6A81;
constexpr uint16_t kSwFileNotFound = 0x6A82;
constexpr uint16_t kSwNotEnoughMemory = 0x6A84;
constexpr uint16_t kSwWrongP1P2 = 0x6B00;
constexpr uint16_t kSwInsNotSupported = 0x6D00;
constexpr uint16_t kSwClaNotSupported = 0x6E00;

constexpr uint16_t kMasterFile = 0x3F00;
constexpr uint32_t kShortLeMax = 256;

// What is selected: nothing (after a reset), the master file, or an elementary file.
enum class Selected { kNone, kMasterFile, kElementaryFile };

// The live state of a processor card.
struct FileSystem {
  std::map<uint16_t, Bytes> files;
  Selected selected = Selected::kNone;
  uint16_t current_ef = 0;
  // The PIN and its counter.
  Bytes pin;
  uint8_t max_tries = 0;
  uint8_t tries_left = 0;
};

// A short command APDU split into its parts.
struct Apdu {
  uint8_t cla = 0;
  uint8_t ins = 0;
  uint8_t p1 = 0;
  uint8_t p2 = 0;
  Bytes data;
  bool has_le = false;
  bool le_wildcard = false;  // Le absent or 00: "as many as there are, up to 256"
  uint32_t ne = kShortLeMax;
};

Bytes StatusWord(uint16_t sw) {
  return Bytes{static_cast<uint8_t>(sw >> 8), static_cast<uint8_t>(sw & 0xFF)};
}

Bytes DataAndStatus(Bytes data, uint16_t sw) {
  Bytes sw_bytes = StatusWord(sw);
  data.insert(data.end(), sw_bytes.begin(), sw_bytes.end());
  return data;
}

// Splits the body after the header into Lc, data and Le (ISO 7816-3 cases 1 to 4, short form).
// A four-byte command is how T=0 carries P3 = 00, so it asks like Le = 00.
bool ParseApdu(const Bytes& raw, Apdu* apdu) {
  if (raw.size() < 4) return false;
  apdu->cla = raw[0];
  apdu->ins = raw[1];
  apdu->p1 = raw[2];
  apdu->p2 = raw[3];
  const size_t body = raw.size() - 4;
  if (body == 0) {
    apdu->le_wildcard = true;
    return true;
  }
  const uint8_t first = raw[4];
  if (body == 1) {
    apdu->has_le = true;
    apdu->le_wildcard = first == 0;
    apdu->ne = first == 0 ? kShortLeMax : first;
    return true;
  }
  if (first == 0) return false;  // extended length: not understood by this card
  const size_t lc = first;
  if (body == 1 + lc) {
    apdu->data.assign(raw.begin() + 5, raw.end());
    return true;
  }
  if (body == 2 + lc) {
    apdu->data.assign(raw.begin() + 5, raw.begin() + 5 + static_cast<ptrdiff_t>(lc));
    const uint8_t le = raw.back();
    apdu->has_le = true;
    apdu->le_wildcard = le == 0;
    apdu->ne = le == 0 ? kShortLeMax : le;
    return true;
  }
  return false;
}

// SELECT by file identifier: P1 00 (any file) or 02 (elementary file below the current DF), P2 00
// or 0C; no FCI is returned. A failed selection keeps the current file.
Bytes Select(FileSystem& fs, const Apdu& apdu) {
  if ((apdu.p1 != 0x00 && apdu.p1 != 0x02) || (apdu.p2 != 0x00 && apdu.p2 != 0x0C)) {
    return StatusWord(kSwWrongP1P2);
  }
  if (apdu.data.size() != 2) return StatusWord(kSwWrongLength);
  const uint16_t fid = static_cast<uint16_t>(apdu.data[0] << 8 | apdu.data[1]);
  if (fid == kMasterFile && apdu.p1 == 0x00) {
    fs.selected = Selected::kMasterFile;
    return StatusWord(kSwOk);
  }
  if (fs.files.count(fid) == 0) return StatusWord(kSwFileNotFound);
  fs.selected = Selected::kElementaryFile;
  fs.current_ef = fid;
  return StatusWord(kSwOk);
}

// Common checks of READ and UPDATE BINARY: no short EF identifier (P1 bit 8), a current
// elementary file, an offset inside it. On success *file and *offset are set.
uint16_t LocateBinary(FileSystem& fs, const Apdu& apdu, Bytes** file, size_t* offset) {
  if (apdu.p1 & 0x80) return kSwFunctionNotSupported;
  if (fs.selected != Selected::kElementaryFile) return kSwNoCurrentEf;
  *file = &fs.files[fs.current_ef];
  *offset = static_cast<size_t>(apdu.p1) << 8 | apdu.p2;
  return kSwOk;
}

Bytes ReadBinary(FileSystem& fs, const Apdu& apdu) {
  if (!apdu.data.empty()) return StatusWord(kSwWrongLength);
  Bytes* file = nullptr;
  size_t offset = 0;
  const uint16_t sw = LocateBinary(fs, apdu, &file, &offset);
  if (sw != kSwOk) return StatusWord(sw);
  if (offset >= file->size()) return StatusWord(kSwWrongP1P2);
  const size_t available = file->size() - offset;
  const size_t count = std::min<size_t>(available, apdu.ne);
  Bytes data(file->begin() + static_cast<ptrdiff_t>(offset),
             file->begin() + static_cast<ptrdiff_t>(offset + count));
  const bool short_read = !apdu.le_wildcard && count < apdu.ne;
  return DataAndStatus(std::move(data), short_read ? kSwEndOfFile : kSwOk);
}

Bytes UpdateBinary(FileSystem& fs, const Apdu& apdu) {
  if (apdu.data.empty() || apdu.has_le) return StatusWord(kSwWrongLength);
  Bytes* file = nullptr;
  size_t offset = 0;
  const uint16_t sw = LocateBinary(fs, apdu, &file, &offset);
  if (sw != kSwOk) return StatusWord(sw);
  if (offset > file->size()) return StatusWord(kSwWrongP1P2);
  if (apdu.data.size() > file->size() - offset) return StatusWord(kSwNotEnoughMemory);
  std::copy(apdu.data.begin(), apdu.data.end(), file->begin() + static_cast<ptrdiff_t>(offset));
  return StatusWord(kSwOk);
}

// Compares `presented` with the PIN and keeps the counter: a wrong PIN costs a try, a right one
// restores them all.
uint16_t CheckPin(FileSystem& fs, const uint8_t* presented, size_t length) {
  if (fs.tries_left == 0) return kSwBlocked;
  if (length == fs.pin.size() && std::equal(fs.pin.begin(), fs.pin.end(), presented)) {
    fs.tries_left = fs.max_tries;
    return kSwOk;
  }
  --fs.tries_left;
  return static_cast<uint16_t>(kSwWrongPinBase + (fs.tries_left & 0x0F));
}

// VERIFY: 00 20 00 P2 Lc PIN. Without a data field it tells the tries left (63 Cx) without
// costing one.
Bytes Verify(FileSystem& fs, const Apdu& apdu) {
  if (fs.pin.empty()) return StatusWord(kSwNoPin);
  if (apdu.p1 != 0x00) return StatusWord(kSwWrongP1P2Parameters);
  if (apdu.data.empty()) {
    if (fs.tries_left == 0) return StatusWord(kSwBlocked);
    return StatusWord(static_cast<uint16_t>(kSwWrongPinBase + (fs.tries_left & 0x0F)));
  }
  return StatusWord(CheckPin(fs, apdu.data.data(), apdu.data.size()));
}

// CHANGE REFERENCE DATA: 00 24 00 P2 Lc OLD NEW, both of the PIN's length.
Bytes ChangeReferenceData(FileSystem& fs, const Apdu& apdu) {
  if (fs.pin.empty()) return StatusWord(kSwNoPin);
  if (apdu.p1 != 0x00) return StatusWord(kSwWrongP1P2Parameters);
  if (apdu.data.size() != 2 * fs.pin.size()) return StatusWord(kSwWrongLength);
  const uint16_t sw = CheckPin(fs, apdu.data.data(), fs.pin.size());
  if (sw != kSwOk) return StatusWord(sw);
  fs.pin.assign(apdu.data.begin() + static_cast<ptrdiff_t>(fs.pin.size()), apdu.data.end());
  return StatusWord(kSwOk);
}

using InsHandler = Bytes (*)(FileSystem&, const Apdu&);

struct InsEntry {
  uint8_t ins;
  InsHandler handler;
};

constexpr InsEntry kInstructions[] = {
    {0xA4, Select}, {0xB0, ReadBinary},          {0xD6, UpdateBinary},
    {0x20, Verify}, {0x24, ChangeReferenceData},
};

class ProcessorCard : public Card {
 public:
  explicit ProcessorCard(const CardSpec& spec) : spec_(spec) {
    fs_.files = spec.files;
    fs_.pin = spec.pin;
    fs_.max_tries = std::min<uint8_t>(spec.pin_tries, 0x0F);
    fs_.tries_left = spec.pin_tries_left < 0
                         ? fs_.max_tries
                         : static_cast<uint8_t>(std::min(spec.pin_tries_left, 0x0F));
  }

  const CardSpec& spec() const override { return spec_; }

  // The files, the PIN and its counter keep their contents (they are the card's EEPROM); only
  // the selection is lost.
  void Reset() override {
    fs_.selected = Selected::kNone;
    fs_.current_ef = 0;
  }

  Bytes Process(const Bytes& raw) override {
    if (next_reply_ < spec_.replies.size()) return spec_.replies[next_reply_++];
    auto scripted = spec_.script.find(raw);
    if (scripted != spec_.script.end()) return scripted->second;
    if (raw.size() < 4) return StatusWord(kSwWrongLength);
    if (raw[0] != 0x00) return StatusWord(kSwClaNotSupported);
    const InsEntry* entry = nullptr;
    for (const InsEntry& candidate : kInstructions) {
      if (candidate.ins == raw[1]) entry = &candidate;
    }
    if (entry == nullptr) return StatusWord(kSwInsNotSupported);
    Apdu apdu;
    if (!ParseApdu(raw, &apdu)) return StatusWord(kSwWrongLength);
    return entry->handler(fs_, apdu);
  }

 private:
  CardSpec spec_;
  FileSystem fs_;
  size_t next_reply_ = 0;
};

}  // namespace

std::unique_ptr<Card> MakeCard(const CardSpec& spec) {
  switch (spec.kind) {
    case CardKind::kProcessor:
      return std::make_unique<ProcessorCard>(spec);
    case CardKind::kTwoWire:
    case CardKind::kThreeWire:
    case CardKind::kI2c:
      return MakeMemoryCard(spec);
  }
  return nullptr;
}

}  // namespace cards
