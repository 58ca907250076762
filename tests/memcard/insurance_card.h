// SPDX-License-Identifier: BSD-3-Clause
// Test support: 256-byte memory images of cards in the insurance-card layout. A header, the ATR
// file at 4..16, the directory at 17..29 and, from address 30, the data object 0x60 with its
// fields and the checksum object 8E 01 as its last bytes, a 0xC0 object of spaces that reaches
// the byte before the last, and the end byte at 255:
//
//   30: 60 L  <fields> 8E 01 cs   C0 L' 20 20 ... 20   00
//
// The checksum is the exclusive-or of the 0x60 object without its last byte (cs itself). Every
// part is a field of InsuranceCard, so that a test can break one thing at a time and keep the
// rest valid: the fill object grows or shrinks to keep the end byte where it belongs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/cards/card.h"

namespace testcards {

using cards::Bytes;

constexpr size_t kImageSize = 256;
constexpr size_t kHeaderSize = 4;
constexpr size_t kAtrFileAddress = 4;
constexpr size_t kAtrFileSize = 13;
constexpr size_t kDirectoryAddress = 17;
constexpr size_t kDirectorySize = 13;
constexpr size_t kDataAddress = 30;
constexpr size_t kDataSize = kImageSize - kDataAddress;  // 226

constexpr uint8_t kTagData = 0x60;
constexpr uint8_t kTagChecksum = 0x8E;
constexpr uint8_t kTagFill = 0xC0;

inline Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// One object: tag, length, value.
struct Object {
  uint8_t tag;
  Bytes value;
};

// How a length is written: the shortest form (one byte below 0x80, else 81 xx, else 82 xx xx),
// or 81 xx or 82 xx xx whatever the length.
enum class LengthForm { kShortest, kOneByte, kTwoBytes };

inline Bytes LengthField(size_t length, LengthForm form) {
  if (form == LengthForm::kShortest) {
    form = length < 0x80    ? LengthForm::kShortest
           : length <= 0xFF ? LengthForm::kOneByte
                            : LengthForm::kTwoBytes;
    if (form == LengthForm::kShortest) return {static_cast<uint8_t>(length)};
  }
  if (form == LengthForm::kOneByte) return {0x81, static_cast<uint8_t>(length)};
  return {0x82, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
}

struct InsuranceCard {
  // H1 H2 H3 H4; H1 0xA2, 0x92 or 0x82 names the family.
  Bytes header = {0xA2, 0x13, 0x10, 0x91};
  // At 4..16 and 17..29: cut or padded with 00 to 13 bytes each. The data stay at 30 whatever
  // the directory's length byte says.
  Bytes atr_file = {0x46, 0x0B, 0x00, 0x00, 0x41, 0x4B, 0x56, 0x4B, 0x00, 0x00, 0x00, 0x00, 0x00};
  Bytes directory = {0x61, 0x0B, 0x4F, 0x06, 0xD2, 0x76, 0x00, 0x00, 0x01, 0x01, 0x53, 0x01, 0x07};

  // The fields inside the 0x60 object, in this order (umlauts as the card writes them: ß is ~,
  // ö is |). The value length of the 0x60 object is 128 with these.
  std::vector<Object> fields = {
      {0x80, Text("AOK Niedersachsen")},  // insurer name
      {0x81, Text("1051309")},            // insurer number
      {0x8F, Text("38825")},              // contract number
      {0x82, Text("4711081547")},         // insured person's number
      {0x83, Text("1000")},               // status
      {0x84, Text("Dr.")},                // title
      {0x85, Text("Erika")},              // first name
      {0x87, Text("Mustermann")},         // surname
      {0x88, Text("12081964")},           // date of birth, DDMMYYYY
      {0x89, Text("Heidestra~e 17")},     // street
      {0x8A, Text("D")},                  // country code
      {0x8B, Text("51147")},              // postcode
      {0x8C, Text("K|ln")},               // town
      {0x8D, Text("1226")},               // valid until, MMYY
  };
  // Raw bytes inside the 0x60 object after the fields, before the checksum object.
  Bytes inside;
  // False: the fields stand on their own, without the 0x60 tag and length.
  bool data_header = true;
  LengthForm data_length_form = LengthForm::kShortest;
  // False: no 8E 01 cs at the end of the 0x60 object.
  bool checksum_object = true;
  // The checksum byte is stored with all bits flipped.
  bool corrupt_checksum = false;

  // The byte the 0xC0 object is filled with.
  uint8_t fill_byte = ' ';
  // Raw bytes after the fill object, right before the end byte.
  Bytes tail;
  uint8_t end_byte = 0x00;
  // A 0x60 object of length 0x5D moves the end one byte earlier: the end byte is put there and
  // `after_end` behind it. False: the end byte stays the last byte all the same.
  bool follow_end_move = true;
  uint8_t after_end = 0x00;

  // The value of the first field with `tag`, or nullptr.
  Bytes* Find(uint8_t tag) {
    for (Object& field : fields) {
      if (field.tag == tag) return &field.value;
    }
    return nullptr;
  }
  // Replaces the value of the field with `tag`, or adds the field at the end.
  void Set(uint8_t tag, const Bytes& value) {
    if (Bytes* existing = Find(tag)) {
      *existing = value;
    } else {
      fields.push_back({tag, value});
    }
  }
  void Set(uint8_t tag, const std::string& text) { Set(tag, Text(text)); }
  void Remove(uint8_t tag) {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].tag == tag) {
        fields.erase(fields.begin() + static_cast<std::ptrdiff_t>(i));
        return;
      }
    }
  }
};

// The value of the 0x60 object: the fields, `inside` and the checksum object.
inline Bytes DataObjectValue(const InsuranceCard& card) {
  Bytes value;
  for (const Object& field : card.fields) {
    value.push_back(field.tag);
    const Bytes length = LengthField(field.value.size(), LengthForm::kShortest);
    value.insert(value.end(), length.begin(), length.end());
    value.insert(value.end(), field.value.begin(), field.value.end());
  }
  value.insert(value.end(), card.inside.begin(), card.inside.end());
  if (card.checksum_object) {
    const Bytes checksum = {kTagChecksum, 0x01, 0x00};  // the byte is set by Build
    value.insert(value.end(), checksum.begin(), checksum.end());
  }
  return value;
}

inline size_t DataObjectLength(const InsuranceCard& card) {
  return DataObjectValue(card).size();
}

// The 256-byte memory image. Contents too long for the card are cut off before the end byte.
inline Bytes Build(const InsuranceCard& card) {
  Bytes image(kImageSize, 0x00);
  for (size_t i = 0; i < kHeaderSize && i < card.header.size(); ++i)
    image[i] = card.header[i];
  for (size_t i = 0; i < kAtrFileSize && i < card.atr_file.size(); ++i)
    image[kAtrFileAddress + i] = card.atr_file[i];
  for (size_t i = 0; i < kDirectorySize && i < card.directory.size(); ++i)
    image[kDirectoryAddress + i] = card.directory[i];

  const Bytes value = DataObjectValue(card);
  Bytes data;
  if (card.data_header) {
    data.push_back(kTagData);
    const Bytes length = LengthField(value.size(), card.data_length_form);
    data.insert(data.end(), length.begin(), length.end());
  }
  data.insert(data.end(), value.begin(), value.end());
  if (card.checksum_object) {
    uint8_t checksum = 0;
    for (size_t i = 0; i + 1 < data.size(); ++i)
      checksum ^= data[i];
    data.back() = card.corrupt_checksum ? static_cast<uint8_t>(~checksum) : checksum;
  }

  const bool moved = card.data_header && card.follow_end_move && value.size() == 0x5D;
  const size_t end = kDataSize - 1 - (moved ? 1 : 0);
  const long room = static_cast<long>(end) - static_cast<long>(data.size() + card.tail.size());
  if (room >= 2) {
    // C0 xx up to a length of 0x7F, C0 81 xx beyond.
    const bool short_form = room - 2 < 0x80;
    const size_t length = static_cast<size_t>(room) - (short_form ? 2 : 3);
    data.push_back(kTagFill);
    const Bytes field =
        LengthField(length, short_form ? LengthForm::kShortest : LengthForm::kOneByte);
    data.insert(data.end(), field.begin(), field.end());
    data.insert(data.end(), length, card.fill_byte);
  } else if (room > 0) {
    data.insert(data.end(), static_cast<size_t>(room), card.fill_byte);
  }
  data.insert(data.end(), card.tail.begin(), card.tail.end());
  data.resize(end);
  data.push_back(card.end_byte);
  if (moved) data.push_back(card.after_end);

  for (size_t i = 0; i < kDataSize; ++i)
    image[kDataAddress + i] = data[i];
  return image;
}

// Bytes 30..255 of an image: what the data check is given.
inline Bytes DataArea(const Bytes& image) {
  return Bytes(image.begin() + kDataAddress, image.end());
}

// A memory card of `kind` in the simulator holding `image`.
inline cards::CardSpec MemoryCard(const Bytes& image, cards::CardKind kind) {
  cards::CardSpec card;
  card.kind = kind;
  card.memory = image;
  return card;
}

}  // namespace testcards
