// SPDX-License-Identifier: BSD-3-Clause
// Cards in the layout of the German health insurance card. The layout check reads the ATR file
// and the directory and compares them with the fixed insurance-card values; the data check walks
// the data objects of the application area against the tag table, the content rules, the group
// limits and the checksum over the 0x60 object.
#include "memcard/insurance.h"

#include "ctapi/slots.h"
#include "memcard/access.h"
#include "memlink/memlink.h"

namespace memcard {
namespace {

using ctapi::TerminalSlot;

// ---- Layout check ----

constexpr uint8_t kHeaderTail[3] = {0x13, 0x10, 0x91};  // H2 H3 H4
constexpr uint8_t kFamilies[3] = {0x82, 0x92, 0xA2};    // H1
constexpr uint8_t kAtrFileStart[2] = {0x46, 0x0B};
constexpr uint32_t kAtrFileMinSize = 5;  // up to and including the byte at index 4
constexpr uint8_t kAtrByte4Min = 0x20;
constexpr uint8_t kAtrByte4Max = 0x7F;
constexpr uint32_t kDirectorySize = 13;
// The directory's first 12 bytes; index 5 is 0x76 or 0x80.
constexpr uint8_t kDirectory[12] = {0x61, 0x0B, 0x4F, 0x06, 0xD2, 0x76,
                                    0x00, 0x00, 0x01, 0x01, 0x53, 0x01};
constexpr uint32_t kDirectoryVariant = 5;
constexpr uint8_t kDirectoryVariants[2] = {0x76, 0x80};
constexpr uint32_t kI2cBufferSize = 1024;

bool HeaderMatches(const uint8_t header[4]) {
  bool family = false;
  for (uint8_t h1 : kFamilies)
    family = family || header[0] == h1;
  return family && header[1] == kHeaderTail[0] && header[2] == kHeaderTail[1] &&
         header[3] == kHeaderTail[2];
}

// Reads the inclusive range first..last whole into `buffer` (kI2cBufferSize bytes); false when
// the range is none or empty, too large or cannot be read. *size is its length.
bool ReadRange(const TerminalSlot& slot, uint32_t first, uint32_t last, uint8_t* buffer,
               uint32_t* size) {
  if (first == ctapi::kNoAddress || last == ctapi::kNoAddress || last < first) return false;
  if (last - first >= kI2cBufferSize) return false;
  *size = last - first + 1;
  return ReadMemory(slot, first, *size, buffer, kI2cBufferSize) == MEMLINK_OK;
}

bool AtrFileMatches(const uint8_t* atr, uint32_t size) {
  return size >= kAtrFileMinSize && atr[0] == kAtrFileStart[0] && atr[1] == kAtrFileStart[1] &&
         atr[4] >= kAtrByte4Min && atr[4] <= kAtrByte4Max;
}

bool DirectoryMatches(const uint8_t* directory) {
  for (uint32_t i = 0; i < sizeof kDirectory; ++i) {
    if (i == kDirectoryVariant) {
      if (directory[i] != kDirectoryVariants[0] && directory[i] != kDirectoryVariants[1]) {
        return false;
      }
    } else if (directory[i] != kDirectory[i]) {
      return false;
    }
  }
  return true;
}

// ---- Data check ----

enum class Content { kNone, kDigits, kText, kDate, kMonthYear, kSpaces };

struct TagRule {
  uint8_t tag;
  uint8_t min;
  uint8_t max;
  bool required;
  Content content;
};

constexpr TagRule kTagRules[] = {
    {0x60, 51, 214, true, Content::kNone},     // the data object, walked into
    {0x80, 2, 28, true, Content::kText},       // insurer name
    {0x81, 7, 7, true, Content::kDigits},      // insurer number
    {0x8F, 5, 5, false, Content::kDigits},     // contract number
    {0x82, 6, 12, true, Content::kDigits},     // insured person's number
    {0x83, 1, 4, true, Content::kDigits},      // insured person's status: 1 or 4 bytes
    {0x90, 1, 3, false, Content::kText},       // status supplement
    {0x84, 2, 15, false, Content::kText},      // title
    {0x85, 1, 28, false, Content::kText},      // first name
    {0x86, 1, 15, false, Content::kText},      // name affix
    {0x87, 2, 28, true, Content::kText},       // surname
    {0x88, 8, 8, true, Content::kDate},        // date of birth
    {0x89, 2, 28, false, Content::kText},      // street
    {0x8A, 1, 3, false, Content::kText},       // country code
    {0x8B, 4, 7, true, Content::kText},        // postcode
    {0x8C, 2, 23, true, Content::kText},       // town
    {0x8D, 4, 4, false, Content::kMonthYear},  // valid until
    {0x8E, 1, 1, true, Content::kNone},        // checksum
    {0xC0, 6, 169, true, Content::kSpaces},    // fill
};
constexpr int kTagCount = sizeof kTagRules / sizeof kTagRules[0];
static_assert(kTagCount == 19, "19 tags");

constexpr uint8_t kTagDataObject = 0x60;
constexpr uint8_t kTagStatus = 0x83;
constexpr uint8_t kTagCountry = 0x8A;
constexpr uint8_t kTagPostcode = 0x8B;
constexpr uint8_t kTagChecksum = 0x8E;
constexpr uint8_t kConstructed = 0x20;
constexpr uint32_t kEndMovingLength = 0x5D;
constexpr uint32_t kGroupLimit = 29;
constexpr uint8_t kNameGroup[] = {0x84, 0x85, 0x86};
constexpr uint8_t kAddressGroup[] = {0x8A, 0x8B, 0x8C};
constexpr uint8_t kEndByte = 0x00;
constexpr uint8_t kI2cEndByte = 0xFF;
constexpr uint8_t kI2cFamilyNibble = 0x8;

// The 79 characters of text values besides the digits and letters.
constexpr char kTextSigns[] = " &'()+-./[\\]_{|}~";

constexpr bool IsDigit(uint8_t byte) {
  return byte >= '0' && byte <= '9';
}

constexpr bool IsTextCharacter(uint8_t byte) {
  if (IsDigit(byte) || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z')) return true;
  for (char sign : kTextSigns) {
    if (sign != '\0' && byte == static_cast<uint8_t>(sign)) return true;
  }
  return false;
}

constexpr int CountTextCharacters() {
  int count = 0;
  for (int byte = 0; byte < 256; ++byte)
    count += IsTextCharacter(static_cast<uint8_t>(byte)) ? 1 : 0;
  return count;
}
static_assert(CountTextCharacters() == 79, "79 text characters");

// What one run of the check knows about each tag of the table.
struct TagState {
  bool seen;
  uint32_t value;   // position of the value
  uint32_t length;  // length of the value
};

int FindTag(uint8_t tag) {
  for (int i = 0; i < kTagCount; ++i) {
    if (kTagRules[i].tag == tag) return i;
  }
  return -1;
}

uint32_t Number(const uint8_t* digits, uint32_t count) {
  uint32_t number = 0;
  for (uint32_t i = 0; i < count; ++i)
    number = number * 10 + static_cast<uint32_t>(digits[i] - '0');
  return number;
}

bool AllDigits(const uint8_t* value, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (!IsDigit(value[i])) return false;
  }
  return true;
}

// Optional spaces, at least one digit, optional spaces.
bool IsDigits(const uint8_t* value, uint32_t length) {
  uint32_t i = 0;
  while (i < length && value[i] == ' ')
    ++i;
  const uint32_t first_digit = i;
  while (i < length && IsDigit(value[i]))
    ++i;
  if (i == first_digit) return false;
  while (i < length && value[i] == ' ')
    ++i;
  return i == length;
}

bool IsText(const uint8_t* value, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (!IsTextCharacter(value[i])) return false;
  }
  return true;
}

// DDMMYYYY. A day and month of 00 with a year stand for the 1st of January; a day of 00 alone
// for the 1st of the month.
bool IsDate(const uint8_t* value, uint32_t length) {
  if (length != 8 || !AllDigits(value, length)) return false;
  uint32_t day = Number(value, 2);
  uint32_t month = Number(value + 2, 2);
  const uint32_t year = Number(value + 4, 4);
  if (day == 0 && month == 0 && year != 0) {
    day = 1;
    month = 1;
  } else if (day == 0 && month != 0 && year != 0) {
    day = 1;
  }
  return day >= 1 && day <= 31 && month >= 1 && month <= 12 && year != 0;
}

// MMYY.
bool IsMonthYear(const uint8_t* value, uint32_t length) {
  if (length != 4 || !AllDigits(value, length)) return false;
  const uint32_t month = Number(value, 2);
  return month >= 1 && month <= 12;
}

bool IsSpaces(const uint8_t* value, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (value[i] != ' ') return false;
  }
  return true;
}

bool ContentHolds(Content content, const uint8_t* value, uint32_t length) {
  switch (content) {
    case Content::kNone:
      return true;
    case Content::kDigits:
      return IsDigits(value, length);
    case Content::kText:
      return IsText(value, length);
    case Content::kDate:
      return IsDate(value, length);
    case Content::kMonthYear:
      return IsMonthYear(value, length);
    case Content::kSpaces:
      return IsSpaces(value, length);
  }
  return false;
}

// The value lengths of the tags of `group` that occur add up to at most kGroupLimit minus the
// number of them.
template <size_t N>
bool GroupFits(const TagState (&states)[kTagCount], const uint8_t (&group)[N]) {
  uint32_t total = 0;
  uint32_t present = 0;
  for (uint8_t tag : group) {
    const TagState& state = states[FindTag(tag)];
    if (!state.seen) continue;
    total += state.length;
    ++present;
  }
  return total <= kGroupLimit - present;
}

}  // namespace

bool InsuranceLayoutCheck(int slot_index) {
  if (slot_index < 0 || slot_index >= ctapi::kSlotCount || !ctapi::IsAttached()) return false;
  const TerminalSlot& slot = ctapi::Slot(slot_index);
  if (!HeaderMatches(slot.memory_card_header)) return false;

  uint8_t buffer[kI2cBufferSize];
  uint32_t size = 0;
  if (!ReadRange(slot, slot.atr_file_first, slot.atr_file_last, buffer, &size) ||
      !AtrFileMatches(buffer, size)) {
    return false;
  }

  const uint32_t first = slot.dir_file_first;
  const uint32_t last = slot.dir_file_last;
  if (first == ctapi::kNoAddress || last == ctapi::kNoAddress || last < first ||
      last - first + 1 != kDirectorySize) {
    return false;
  }
  return ReadRange(slot, first, last, buffer, &size) && DirectoryMatches(buffer);
}

bool InsuranceDataCheck(const uint8_t* data, uint32_t count, const uint8_t header[4]) {
  if (data == nullptr || count == 0 || header == nullptr) return false;

  TagState states[kTagCount] = {};
  uint32_t end = count - 1;  // the last byte follows the objects
  uint32_t object_start = 0;
  uint32_t object_span = 0;  // length-field size plus length of the 0x60 object
  uint8_t stored_checksum = 0;

  uint32_t position = 0;
  while (position < end) {
    const uint8_t tag = data[position];
    if (position + 1 >= end) return false;
    const uint8_t first_length = data[position + 1];
    uint32_t field_size = 1;
    uint32_t length = first_length;
    if (first_length == 0x81) {
      field_size = 2;
      if (position + 2 >= end) return false;
      length = data[position + 2];
    } else if (first_length == 0x82) {
      field_size = 3;
      if (position + 3 >= end) return false;
      length = static_cast<uint32_t>(data[position + 2]) << 8 | data[position + 3];
    } else if (first_length >= 0x80) {
      return false;
    }
    const uint32_t value = position + 1 + field_size;
    if (length > end - value) return false;

    const int index = FindTag(tag);
    if (index < 0) return false;
    const TagRule& rule = kTagRules[index];
    TagState& state = states[index];
    if (state.seen || length < rule.min || length > rule.max) return false;
    if (tag == kTagStatus && length != 1 && length != 4) return false;
    if (!ContentHolds(rule.content, data + value, length)) return false;
    state = TagState{true, value, length};

    if (tag == kTagDataObject) {
      if (length == kEndMovingLength) --end;
      object_start = position;
      object_span = field_size + length;
    }
    if (tag == kTagChecksum) stored_checksum = data[value];
    position = (tag & kConstructed) != 0 ? value : value + length;
  }

  if (!GroupFits(states, kNameGroup) || !GroupFits(states, kAddressGroup)) return false;
  const TagState& postcode = states[FindTag(kTagPostcode)];
  if (!states[FindTag(kTagCountry)].seen && postcode.seen &&
      !AllDigits(data + postcode.value, postcode.length)) {
    return false;
  }
  if (position != end) return false;
  for (int i = 0; i < kTagCount; ++i) {
    if (kTagRules[i].required && !states[i].seen) return false;
  }

  uint8_t checksum = 0;
  for (uint32_t i = 0; i < object_span; ++i)
    checksum ^= data[object_start + i];
  if (checksum != stored_checksum) return false;

  const uint8_t last = data[end];
  return last == kEndByte || (last == kI2cEndByte && (header[0] >> 4) == kI2cFamilyNibble);
}

}  // namespace memcard
