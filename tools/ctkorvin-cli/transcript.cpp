// SPDX-License-Identifier: BSD-3-Clause
// ctkorvin-cli's reading of CT-API traffic: script lines, command names, status words, return
// codes, the decoding of the terminal's answers and of an insurance card's data object, as fixed
// tables and plain functions.
#include "tools/ctkorvin-cli/transcript.h"

#include <cstdio>

namespace cli {

namespace {

constexpr uint8_t kClassCtBcs = 0x20;
constexpr size_t kHexBytesPerLine = 20;
constexpr char kIndent[] = "          ";  // the width of the "from ICC  " label

// --- what a command is, for the meaning of its status words -----------------------------------

// Bit flags, so that one table row can stand for several kinds of command.
enum Context : uint32_t {
  kToIcc = 1u << 0,
  kToCtOther = 1u << 1,
  kRequestIcc = 1u << 2,
  kResetIcc = 1u << 3,
  kDeactivateIcc = 1u << 4,
  kEjectIcc = 1u << 5,
  kToCt = kToCtOther | kRequestIcc | kResetIcc | kDeactivateIcc | kEjectIcc,
  kPowerUp = kRequestIcc | kResetIcc,
  kAnyTarget = kToIcc | kToCt,
};

bool IsTerminalCommand(Target target, const Bytes& command) {
  return target == Target::kCt && command.size() >= 4 && command[0] == kClassCtBcs;
}

uint32_t ContextOf(Target target, const Bytes& command) {
  if (target == Target::kIcc) return kToIcc;
  if (!IsTerminalCommand(target, command)) return kToCtOther;
  const uint8_t ins = command[1];
  const uint8_t p1 = command[2];
  if ((ins == 0x10 || ins == 0x11) && p1 == 0x01) return kResetIcc;
  if (ins == 0x12) return kRequestIcc;
  if (ins == 0x14) return kDeactivateIcc;
  if (ins == 0x15) return kEjectIcc;
  return kToCtOther;
}

// --- status words ------------------------------------------------------------------------------

struct StatusWordRow {
  uint8_t sw1;
  uint8_t sw2;
  uint32_t contexts;
  const char* meaning;
};

// The first row whose status word and context match wins, so specific rows come first.
constexpr StatusWordRow kStatusWords[] = {
    {0x90, 0x00, kPowerUp, "memory card powered"},
    {0x90, 0x00, kDeactivateIcc, "success: card off, slot empty"},
    {0x90, 0x00, kAnyTarget, "success"},
    {0x90, 0x01, kPowerUp, "processor card powered"},
    {0x90, 0x01, kEjectIcc, "success: card removed"},
    {0x62, 0x00, kRequestIcc, "warning: no card inserted in time"},
    {0x62, 0x00, kDeactivateIcc, "warning: card off, still inserted"},
    {0x62, 0x00, kEjectIcc, "warning: card not removed in time"},
    {0x62, 0x00, kAnyTarget, "warning: no information given"},
    {0x62, 0x01, kRequestIcc, "warning: card was already powered and left so"},
    {0x62, 0x81, kToIcc, "warning: returned data may be corrupted"},
    {0x62, 0x82, kToIcc, "warning: end of file reached before Le bytes"},
    {0x62, 0x83, kToIcc, "warning: selected file deactivated"},
    {0x63, 0x00, kToIcc, "verification failed"},
    {0x64, 0x00, kAnyTarget, "execution error"},
    {0x64, 0xA1, kAnyTarget, "no card"},
    {0x64, 0xA2, kAnyTarget, "card not activated"},
    {0x65, 0x81, kToIcc, "memory failure"},
    {0x67, 0x00, kAnyTarget, "wrong length"},
    {0x69, 0x00, kToCt, "wrong data object"},
    {0x69, 0x00, kToIcc, "command not allowed"},
    {0x69, 0x81, kToIcc, "command incompatible with the file structure"},
    {0x69, 0x82, kToIcc, "security status not satisfied"},
    {0x69, 0x83, kToIcc, "authentication method blocked"},
    {0x69, 0x84, kToIcc, "reference data not usable"},
    {0x69, 0x85, kToIcc, "conditions of use not satisfied"},
    {0x69, 0x86, kToIcc, "command not allowed: no current EF"},
    {0x6A, 0x00, kAnyTarget, "wrong P1 P2"},
    {0x6A, 0x80, kToIcc, "wrong data"},
    {0x6A, 0x81, kToIcc, "function not supported"},
    {0x6A, 0x82, kToIcc, "file not found"},
    {0x6A, 0x86, kToIcc, "wrong P1 P2"},
    {0x6A, 0x87, kToIcc, "Lc inconsistent with P1 P2"},
    {0x6A, 0x88, kToIcc, "reference data not found"},
    {0x6B, 0x00, kToIcc, "wrong P1 P2: offset outside the file"},
    {0x6C, 0x00, kToCt, "wrong length: Lc or Le"},
    {0x6D, 0x00, kAnyTarget, "instruction not supported"},
    {0x6E, 0x00, kAnyTarget, "class not supported"},
    {0x6F, 0x00, kAnyTarget, "transmission error"},
};

struct StatusClassRow {
  uint8_t sw1;
  const char* meaning;
};

// What SW1 alone says, for status words without a row of their own.
constexpr StatusClassRow kStatusClasses[] = {
    {0x62, "warning: state unchanged"},
    {0x63, "warning: state changed"},
    {0x64, "execution error"},
    {0x65, "execution error: memory changed"},
    {0x66, "security error"},
    {0x67, "wrong length"},
    {0x68, "function in CLA not supported"},
    {0x69, "command not allowed"},
    {0x6A, "wrong parameters"},
};

// --- commands ----------------------------------------------------------------------------------

struct InstructionRow {
  uint8_t ins;
  const char* name;
};

constexpr InstructionRow kTerminalInstructions[] = {
    {0x14, "DEACTIVATE ICC"},
    {0x15, "EJECT ICC"},
    {0x16, "INPUT"},
    {0x17, "OUTPUT"},
    {0x18, "PERFORM VERIFICATION"},
    {0x19, "MODIFY VERIFICATION DATA"},
};

constexpr InstructionRow kIsoInstructions[] = {
    {0x20, "VERIFY"},
    {0x24, "CHANGE REFERENCE DATA"},
    {0x2C, "RESET RETRY COUNTER"},
    {0x82, "EXTERNAL AUTHENTICATE"},
    {0x84, "GET CHALLENGE"},
    {0x88, "INTERNAL AUTHENTICATE"},
    {0xA4, "SELECT FILE"},
    {0xB0, "READ BINARY"},
    {0xB2, "READ RECORD"},
    {0xC0, "GET RESPONSE"},
    {0xCA, "GET DATA"},
    {0xD6, "UPDATE BINARY"},
    {0xDC, "UPDATE RECORD"},
    {0xE2, "APPEND RECORD"},
    {0xF0, "READ PROTECTION MEMORY"},
    {0xF1, "WRITE PROTECTION MEMORY"},
};

struct UnitRow {
  uint8_t unit;
  const char* name;
};

constexpr UnitRow kFunctionalUnits[] = {
    {0x40, "display"},     {0x50, "keypad"}, {0x60, "printer"},
    {0x70, "fingerprint"}, {0x71, "voice"},  {0x72, "dynamic signature"},
    {0x73, "face"},        {0x74, "iris"},
};

template <typename Row, size_t N>
const char* FindName(const Row (&table)[N], uint8_t ins) {
  for (const Row& row : table) {
    if (row.ins == ins) return row.name;
  }
  return nullptr;
}

std::string Decimal(unsigned value) {
  return std::to_string(value);
}

std::string HexByte(uint8_t value) {
  char text[3];
  snprintf(text, sizeof text, "%02X", value);
  return text;
}

std::string CompactHex(const uint8_t* data, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i)
    text += HexByte(data[i]);
  return text;
}

// The bytes as text in double quotes, with a full stop for each byte that is not printable.
std::string Quoted(const uint8_t* data, size_t length) {
  std::string text = "\"";
  for (size_t i = 0; i < length; ++i) {
    text += data[i] >= 0x20 && data[i] < 0x7F ? static_cast<char>(data[i]) : '.';
  }
  return text + "\"";
}

bool AllPrintable(const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (data[i] < 0x20 || data[i] >= 0x7F) return false;
  }
  return length > 0;
}

// The data field of a command with Lc (case 3 or 4); nothing for other cases.
bool DataField(const Bytes& command, const uint8_t** data, size_t* length) {
  if (command.size() < 6) return false;
  const size_t lc = command[4];
  if (lc == 0 || 5 + lc > command.size()) return false;
  *data = command.data() + 5;
  *length = lc;
  return true;
}

// What REQUEST ICC (P2 low four bits) or RESET CT (P2) asks to be answered with.
enum class PowerAnswer { kNone, kAtr, kHistoricalBytes };

PowerAnswer PowerAnswerOf(const Bytes& command) {
  const uint8_t wanted = command[1] == 0x12 ? command[3] & 0x0F : command[3];
  if (wanted == 0x01) return PowerAnswer::kAtr;
  if (wanted == 0x02) return PowerAnswer::kHistoricalBytes;
  return PowerAnswer::kNone;
}

std::string PowerAnswerText(const Bytes& command) {
  switch (PowerAnswerOf(command)) {
    case PowerAnswer::kAtr:
      return ", answer ATR";
    case PowerAnswer::kHistoricalBytes:
      return ", answer historical bytes";
    case PowerAnswer::kNone:
      break;
  }
  return "";
}

// REQUEST ICC's waiting time: a single data byte, or the first object 80 01 W.
std::string WaitingTimeText(const Bytes& command) {
  const uint8_t* data = nullptr;
  size_t length = 0;
  if (!DataField(command, &data, &length)) return "";
  unsigned seconds = 0;
  if (length == 1) {
    seconds = data[0];
  } else if (length >= 3 && data[0] == 0x80 && data[1] == 0x01) {
    seconds = data[2];
  }
  return seconds == 0 ? "" : ", wait up to " + Decimal(seconds) + " s for a card";
}

std::string TerminalCommandName(const Bytes& command) {
  const uint8_t ins = command[1];
  const uint8_t p1 = command[2];
  const uint8_t p2 = command[3];
  switch (ins) {
    case 0x10:
    case 0x11:
      if (p1 == 0x00) return "RESET CT of the terminal";
      if (p1 == 0x01) return "RESET CT of ICC 1" + PowerAnswerText(command);
      return "RESET CT";
    case 0x12:
      return "REQUEST ICC" + PowerAnswerText(command) + WaitingTimeText(command);
    case 0x13: {
      const char* object = p2 == 0x46   ? ": manufacturer data"
                           : p2 == 0x80 ? ": ICC status"
                           : p2 == 0x81 ? ": functional units"
                                        : "";
      if (p1 == 0x00) return std::string("GET STATUS of the terminal") + object;
      if (p1 == 0x01) return std::string("GET STATUS of ICC 1") + object;
      return "GET STATUS";
    }
    case 0xFF:
      if (p1 == 0x00 && p2 == 0x00) return "vendor command: reader name";
      if (p1 == 0x00 && p2 == 0x01) return "vendor command: option";
      if (p1 == 0x00 && p2 == 0x02) return "vendor command: value";
      return "vendor command";
    default:
      break;
  }
  const char* name = FindName(kTerminalInstructions, ins);
  return name != nullptr ? name : "";
}

// "at offset 16" or "of short EF 2 at offset 0".
std::string BinaryOffsetText(uint8_t p1, uint8_t p2) {
  if (p1 & 0x80) return " of short EF " + Decimal(p1 & 0x1F) + " at offset " + Decimal(p2);
  return " at offset " + Decimal(static_cast<unsigned>(p1 << 8 | p2));
}

std::string IsoCommandName(const Bytes& command) {
  const uint8_t ins = command[1];
  const char* name = FindName(kIsoInstructions, ins);
  if (name == nullptr) return "";
  std::string text = name;
  const uint8_t* data = nullptr;
  size_t length = 0;
  const bool has_data = DataField(command, &data, &length);
  switch (ins) {
    case 0xA4:
      if (has_data) text += " " + CompactHex(data, length);
      break;
    case 0xB0:
      text += BinaryOffsetText(command[2], command[3]);
      // Four bytes and Le = 00 both ask for what is there, up to 256 bytes.
      if (command.size() == 4 || (command.size() == 5 && command[4] == 0x00)) {
        text += ", up to 256 bytes";
      } else if (command.size() == 5) {
        text += ", " + Decimal(command[4]) + " bytes";
      }
      break;
    case 0xD6:
      text += BinaryOffsetText(command[2], command[3]);
      if (has_data) text += ", " + Decimal(static_cast<unsigned>(length)) + " bytes";
      break;
    default:
      break;
  }
  return text;
}

// --- answers -----------------------------------------------------------------------------------

std::string IccStatusText(uint8_t status) {
  if ((status & 0x01) == 0) return "no card";
  if (status & 0x04) return "card present, activated";
  if (status & 0x02) return "card present, not activated";
  return "card present";
}

std::string ManufacturerText(const uint8_t* value, size_t length) {
  constexpr size_t kItem = 5;
  if (length < 3 * kItem) return "manufacturer data " + HexText(value, length);
  std::string text = "manufacturer " + Quoted(value, kItem) + ", terminal type " +
                     Quoted(value + kItem, kItem) + ", version " + Quoted(value + 2 * kItem, kItem);
  if (length > 3 * kItem) {
    text += ", " + Quoted(value + 3 * kItem, length - 3 * kItem);
  }
  return text;
}

std::string UnitsText(const uint8_t* value, size_t length) {
  std::string text = "functional units:";
  if (length == 0) return text + " none";
  for (size_t i = 0; i < length; ++i) {
    const uint8_t unit = value[i];
    std::string name;
    if (unit >= 0x01 && unit <= 0x0E) name = "ICC " + Decimal(unit);
    for (const UnitRow& row : kFunctionalUnits) {
      if (row.unit == unit) name = row.name;
    }
    if (name.empty()) name = "unit " + HexByte(unit);
    text += (i == 0 ? " " : ", ") + name;
  }
  return text;
}

// The data objects of a GET STATUS answer, one line each.
void DescribeStatusObjects(const uint8_t* data, size_t length, std::vector<std::string>* lines) {
  size_t at = 0;
  while (at + 2 <= length) {
    const uint8_t tag = data[at];
    const size_t size = data[at + 1];
    const uint8_t* value = data + at + 2;
    if (at + 2 + size > length) {
      lines->push_back("data object " + HexByte(tag) + " is cut short");
      return;
    }
    switch (tag) {
      case 0x46:
        lines->push_back(ManufacturerText(value, size));
        break;
      case 0x80:
        for (size_t i = 0; i < size; ++i) {
          lines->push_back("ICC " + Decimal(static_cast<unsigned>(i + 1)) + " status " +
                           HexByte(value[i]) + ": " + IccStatusText(value[i]));
        }
        break;
      case 0x81:
        lines->push_back(UnitsText(value, size));
        break;
      default:
        lines->push_back("data object " + HexByte(tag) + ": " + HexText(value, size));
        break;
    }
    at += 2 + size;
  }
  if (at < length) lines->push_back("trailing byte " + HexText(data + at, length - at));
}

void DescribePowerAnswer(const Bytes& command, const uint8_t* data, size_t length, uint8_t sw1,
                         uint8_t sw2, std::vector<std::string>* lines) {
  if (length == 0 || (sw1 != 0x90 && sw1 != 0x62)) return;
  switch (PowerAnswerOf(command)) {
    case PowerAnswer::kAtr:
      // A memory card answers with its four header bytes and 90 00, a processor card with its
      // ATR and 90 01.
      if (length == 4 && sw1 == 0x90 && sw2 == 0x00) {
        lines->push_back("memory card header " + HexText(data, length) + " (" +
                         MemoryCardFamily(data[0]) + ")");
      } else {
        lines->push_back("ATR " + HexText(data, length));
      }
      break;
    case PowerAnswer::kHistoricalBytes: {
      std::string text = "historical bytes " + HexText(data, length);
      if (AllPrintable(data, length)) text += " " + Quoted(data, length);
      lines->push_back(text);
      break;
    }
    case PowerAnswer::kNone:
      lines->push_back("data " + HexText(data, length));
      break;
  }
}

void AppendHexLines(const std::string& label, const uint8_t* data, size_t length,
                    std::vector<std::string>* lines) {
  std::string prefix = label;
  prefix.resize(sizeof kIndent - 1, ' ');
  for (size_t at = 0; at < length; at += kHexBytesPerLine) {
    const size_t count = length - at < kHexBytesPerLine ? length - at : kHexBytesPerLine;
    lines->push_back(prefix + HexText(data + at, count));
    prefix = kIndent;
  }
}

std::string Trim(std::string_view text) {
  size_t first = 0;
  size_t last = text.size();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (first < last && blank(text[first]))
    ++first;
  while (last > first && blank(text[last - 1]))
    --last;
  return std::string(text.substr(first, last - first));
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// --- insurance card data ------------------------------------------------------------------------

constexpr uint8_t kTagInsuranceData = 0x60;
constexpr uint8_t kInsReadBinary = 0xB0;
constexpr size_t kFieldLabelWidth = 18;

enum class FieldKind { kText, kDigits, kDate, kMonthYear, kChecksum };

struct FieldRow {
  uint8_t tag;
  const char* label;
  FieldKind kind;
};

// The fields of the data object, in the order the cards hold them.
constexpr FieldRow kInsuranceFields[] = {
    {0x80, "insurer", FieldKind::kText},
    {0x81, "insurer number", FieldKind::kDigits},
    {0x8F, "contract number", FieldKind::kDigits},
    {0x82, "insured number", FieldKind::kDigits},
    {0x83, "status", FieldKind::kDigits},
    {0x90, "status supplement", FieldKind::kText},
    {0x84, "title", FieldKind::kText},
    {0x85, "first name", FieldKind::kText},
    {0x86, "name suffix", FieldKind::kText},
    {0x87, "surname", FieldKind::kText},
    {0x88, "birth date", FieldKind::kDate},
    {0x89, "street", FieldKind::kText},
    {0x8A, "country code", FieldKind::kText},
    {0x8B, "postcode", FieldKind::kText},
    {0x8C, "town", FieldKind::kText},
    {0x8D, "valid until", FieldKind::kMonthYear},
    {0x8E, "checksum", FieldKind::kChecksum},
};

// DIN 66003, the German version of ISO 646 the cards are written in: these characters stand
// for umlauts, sharp s and the section sign (UTF-8 on the right).
struct CardCharacterRow {
  char card;
  const char* utf8;
};
constexpr CardCharacterRow kCardCharacters[] = {
    {'[', "\xC3\x84"}, {'\\', "\xC3\x96"}, {']', "\xC3\x9C"}, {'{', "\xC3\xA4"},
    {'|', "\xC3\xB6"}, {'}', "\xC3\xBC"},  {'~', "\xC3\x9F"}, {'@', "\xC2\xA7"},
};

// Card text in double quotes and UTF-8, a full stop for each byte that is not printable.
std::string CardText(const uint8_t* data, size_t length) {
  std::string text = "\"";
  for (size_t i = 0; i < length; ++i) {
    const char c = static_cast<char>(data[i]);
    const char* translated = nullptr;
    for (const CardCharacterRow& row : kCardCharacters) {
      if (row.card == c) translated = row.utf8;
    }
    if (translated != nullptr) {
      text += translated;
    } else {
      text += data[i] >= 0x20 && data[i] < 0x7F ? c : '.';
    }
  }
  return text + "\"";
}

bool AllDigits(const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (data[i] < '0' || data[i] > '9') return false;
  }
  return true;
}

// A length field at data[*at], before `end`: one byte below 0x80, or 81 and one byte, or 82 and
// two bytes (most significant first). Moves *at past it; false when it is malformed or does not
// fit.
bool ReadLength(const uint8_t* data, size_t end, size_t* at, size_t* length) {
  if (*at >= end) return false;
  const uint8_t first = data[*at];
  const size_t extra = first < 0x80 ? 0 : first == 0x81 ? 1 : first == 0x82 ? 2 : 3;
  if (extra > 2 || end - *at < 1 + extra) return false;
  size_t value = extra == 0 ? first : 0;
  for (size_t i = 1; i <= extra; ++i)
    value = value << 8 | data[*at + i];
  *at += 1 + extra;
  *length = value;
  return true;
}

// `computed`: the checksum over the object, or nullptr when the object is not whole.
std::string FieldValueText(FieldKind kind, const uint8_t* value, size_t length,
                           const uint8_t* computed) {
  const std::string text(reinterpret_cast<const char*>(value), length);
  switch (kind) {
    case FieldKind::kDigits:
      if (AllPrintable(value, length)) return text;
      break;
    case FieldKind::kDate:
      if (length == 8 && AllDigits(value, length)) {
        return text.substr(0, 2) + "." + text.substr(2, 2) + "." + text.substr(4, 4);
      }
      break;
    case FieldKind::kMonthYear:
      if (length == 4 && AllDigits(value, length)) return text.substr(0, 2) + "/" + text.substr(2);
      break;
    case FieldKind::kChecksum:
      if (length == 0) return "(empty)";
      if (computed == nullptr) return HexByte(value[0]);
      return HexByte(value[0]) + (*computed == value[0]
                                      ? " (matches)"
                                      : " (does not match: " + HexByte(*computed) + ")");
    case FieldKind::kText:
      break;
  }
  return CardText(value, length);
}

std::string FieldLine(uint8_t tag, const uint8_t* value, size_t length, const uint8_t* computed) {
  std::string label = "field " + HexByte(tag);
  std::string text = HexText(value, length);
  for (const FieldRow& row : kInsuranceFields) {
    if (row.tag == tag) {
      label = row.label;
      text = FieldValueText(row.kind, value, length, computed);
    }
  }
  if (label.size() < kFieldLabelWidth) label.resize(kFieldLabelWidth, ' ');
  return "  " + label + text;
}

bool IsReadBinaryData(const Bytes& command, uint8_t sw1, uint8_t sw2) {
  return command.size() >= 4 && command[1] == kInsReadBinary &&
         ((sw1 == 0x90 && sw2 == 0x00) || (sw1 == 0x62 && sw2 == 0x82));
}

}  // namespace

// --- public ------------------------------------------------------------------------------------

bool ParseHex(std::string_view text, Bytes* out, size_t max) {
  if (out == nullptr) return false;
  out->clear();
  int high = -1;
  for (const char c : text) {
    if (c == ' ' || c == '\t') {
      if (high >= 0) return false;  // a blank inside a byte
      continue;
    }
    int nibble = -1;
    if (c >= '0' && c <= '9') nibble = c - '0';
    if (c >= 'a' && c <= 'f') nibble = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') nibble = c - 'A' + 10;
    if (nibble < 0) return false;
    if (high < 0) {
      high = nibble;
      continue;
    }
    if (out->size() >= max) return false;
    out->push_back(static_cast<uint8_t>(high << 4 | nibble));
    high = -1;
  }
  return high < 0;
}

ScriptLine ParseScriptLine(std::string_view line) {
  ScriptLine parsed;
  const std::string text = Trim(line);
  if (text.empty()) return parsed;
  if (text[0] == '#') {
    parsed.kind = LineKind::kComment;
    parsed.text = text;
    return parsed;
  }
  const size_t end_of_word = text.find_first_of(" \t");
  const std::string word = Lower(text.substr(0, end_of_word));
  const std::string rest = end_of_word == std::string::npos ? "" : Trim(text.substr(end_of_word));
  parsed.kind = LineKind::kBad;
  if (word == "ct") {
    parsed.target = Target::kCt;
  } else if (word == "icc") {
    parsed.target = Target::kIcc;
  } else {
    parsed.text = "'" + word + "' is not ct, icc or #";
    return parsed;
  }
  if (rest.empty()) {
    parsed.text = "no command bytes after '" + word + "'";
    return parsed;
  }
  if (!ParseHex(rest, &parsed.command)) {
    parsed.command.clear();
    parsed.text = "not hex byte pairs: " + rest;
    return parsed;
  }
  parsed.kind = LineKind::kCommand;
  return parsed;
}

std::string HexText(const uint8_t* data, size_t length) {
  std::string text;
  if (data == nullptr) return text;
  for (size_t i = 0; i < length; ++i) {
    if (i != 0) text += ' ';
    text += HexByte(data[i]);
  }
  return text;
}

const char* ReturnCodeName(int code) {
  switch (code) {
    case 0:
      return "OK";
    case -1:
      return "ERR_INVALID";
    case -2:
      return "ERR_PCSC";
    case -8:
      return "ERR_CT";
    case -10:
      return "ERR_TRANS";
    case -11:
      return "ERR_MEMORY";
    case -127:
      return "ERR_HOST";
    case -128:
      return "ERR_HTSI";
    default:
      return "unknown return code";
  }
}

std::string CommandName(Target target, const Bytes& command) {
  if (command.size() < 4) return "";
  if (target == Target::kCt) {
    return IsTerminalCommand(target, command) ? TerminalCommandName(command) : "";
  }
  return IsoCommandName(command);
}

std::string StatusWordMeaning(Target target, const Bytes& command, uint8_t sw1, uint8_t sw2) {
  const uint32_t context = ContextOf(target, command);
  for (const StatusWordRow& row : kStatusWords) {
    if (row.sw1 == sw1 && row.sw2 == sw2 && (row.contexts & context) != 0) return row.meaning;
  }
  const unsigned count = sw2 == 0 ? 256 : sw2;
  if (sw1 == 0x61) return Decimal(count) + " bytes waiting (GET RESPONSE)";
  if (sw1 == 0x6C) return "wrong Le: " + Decimal(count) + " bytes available";
  if (sw1 == 0x63 && (sw2 & 0xF0) == 0xC0) {
    return "verification failed, " + Decimal(sw2 & 0x0F) + " tries left";
  }
  for (const StatusClassRow& row : kStatusClasses) {
    if (row.sw1 == sw1) return row.meaning;
  }
  return "";
}

std::vector<std::string> DescribeAnswer(Target target, const Bytes& command,
                                        const Bytes& response) {
  std::vector<std::string> lines;
  if (response.size() < 2) return lines;
  const size_t length = response.size() - 2;
  const uint8_t* data = response.data();
  const uint8_t sw1 = response[length];
  const uint8_t sw2 = response[length + 1];
  if (target == Target::kIcc) {
    // A card's data mean what the application makes of them; the insurance card's data object
    // is known, and text at least can be shown.
    if (length > 0 && data[0] == kTagInsuranceData && IsReadBinaryData(command, sw1, sw2)) {
      return DescribeInsuranceData(data, length);
    }
    if (length >= 2 && AllPrintable(data, length)) lines.push_back("text " + Quoted(data, length));
    return lines;
  }
  if (!IsTerminalCommand(target, command)) return lines;
  const uint8_t ins = command[1];
  const uint8_t p1 = command[2];
  const uint8_t p2 = command[3];
  if (ins == 0x13 && sw1 == 0x90 && sw2 == 0x00) {
    DescribeStatusObjects(data, length, &lines);
  } else if (ins == 0x12 || ((ins == 0x10 || ins == 0x11) && p1 == 0x01)) {
    DescribePowerAnswer(command, data, length, sw1, sw2, &lines);
  } else if (ins == 0xFF && p1 == 0x00 && p2 == 0x00 && sw1 == 0x90 && sw2 == 0x00) {
    lines.push_back("reader name " + Quoted(data, length));
  }
  return lines;
}

std::vector<std::string> DescribeInsuranceData(const uint8_t* data, size_t length) {
  std::vector<std::string> lines;
  if (data == nullptr || length == 0 || data[0] != kTagInsuranceData) return lines;
  size_t at = 1;
  size_t value_length = 0;
  if (!ReadLength(data, length, &at, &value_length)) {
    lines.push_back("insurance data object 60 with a malformed length: not decoded");
    return lines;
  }
  const size_t available = length - at;
  const bool whole = value_length <= available;
  const size_t end = whole ? at + value_length : length;
  lines.push_back("insurance data (object 60, " + Decimal(static_cast<unsigned>(value_length)) +
                  " bytes):");
  // The checksum covers the whole object but its last byte, the checksum itself.
  uint8_t checksum = 0;
  for (size_t i = 0; whole && i + 1 < end; ++i)
    checksum ^= data[i];
  const uint8_t* computed = whole ? &checksum : nullptr;

  while (at < end) {
    const uint8_t tag = data[at];
    size_t value_at = at + 1;
    size_t field_length = 0;
    if (!ReadLength(data, end, &value_at, &field_length) || field_length > end - value_at) {
      lines.push_back("field " + HexByte(tag) + " is malformed or cut short: decoding stops");
      break;
    }
    lines.push_back(FieldLine(tag, data + value_at, field_length, computed));
    at = value_at + field_length;
  }
  if (!whole) {
    lines.push_back("the object is cut short: " + Decimal(static_cast<unsigned>(available)) +
                    " of its " + Decimal(static_cast<unsigned>(value_length)) + " bytes");
  } else if (end < length) {
    const size_t more = length - end;
    lines.push_back(Decimal(static_cast<unsigned>(more)) +
                    (more == 1 ? " more byte" : " more bytes") + " after the object");
  }
  return lines;
}

const char* MemoryCardFamily(uint8_t h1) {
  if (h1 == 0xA2) return "2-wire";
  if (h1 == 0x92) return "3-wire";
  return "I2C";
}

std::vector<std::string> FormatExchange(const Exchange& exchange) {
  std::vector<std::string> lines;
  const bool to_ct = exchange.target == Target::kCt;
  const std::string name = CommandName(exchange.target, exchange.command);
  const std::string to = to_ct ? "to CT" : "to ICC";
  if (name.empty()) {
    AppendHexLines(to, exchange.command.data(), exchange.command.size(), &lines);
  } else {
    std::string line = to;
    line.resize(sizeof kIndent - 1, ' ');
    lines.push_back(line + name);
    AppendHexLines("", exchange.command.data(), exchange.command.size(), &lines);
  }
  if (exchange.command.empty()) lines.push_back(to + " (no bytes)");

  const std::string from = exchange.answer_sad == 0   ? "from ICC"
                           : exchange.answer_sad == 1 ? "from CT"
                                                      : "from " + Decimal(exchange.answer_sad);
  const Bytes& response = exchange.response;
  if (response.empty()) {
    std::string line = from;
    line.resize(sizeof kIndent - 1, ' ');
    lines.push_back(line + "(no answer)");
  } else {
    AppendHexLines(from, response.data(), response.size(), &lines);
  }
  for (const std::string& line : DescribeAnswer(exchange.target, exchange.command, response)) {
    lines.push_back(kIndent + line);
  }
  if (response.size() >= 2) {
    const uint8_t sw1 = response[response.size() - 2];
    const uint8_t sw2 = response[response.size() - 1];
    const std::string meaning = StatusWordMeaning(exchange.target, exchange.command, sw1, sw2);
    lines.push_back(std::string(kIndent) + "status " + HexByte(sw1) + " " + HexByte(sw2) +
                    (meaning.empty() ? "" : ": " + meaning));
  }
  if (exchange.code != 0) {
    lines.push_back(std::string(kIndent) + "CT_data returned " + ReturnCodeName(exchange.code) +
                    " (" + std::to_string(exchange.code) + ")");
  }
  return lines;
}

}  // namespace cli
