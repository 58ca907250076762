// SPDX-License-Identifier: BSD-3-Clause
// ctkorvin-cli's reading of CT-API traffic: the lines of a session script, short names for
// terminal commands and common ISO commands, the meaning of status words and return codes, and
// the decoding of the terminal's answers (GET STATUS objects, ATR, memory-card header) and of the
// data object of a health insurance card. Pure functions, so that the tests reach them without a
// reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

using Bytes = std::vector<uint8_t>;

// Where a command goes: the terminal (DAD 1) or the card in it (DAD 0).
enum class Target { kCt, kIcc };

// One line of a session script.
enum class LineKind { kBlank, kComment, kCommand, kBad };

struct ScriptLine {
  LineKind kind = LineKind::kBlank;
  Target target = Target::kCt;
  Bytes command;     // kCommand: the bytes to send
  std::string text;  // kComment: the whole line; kBad: what is wrong
};

// The longest command a script line may carry (CT_data takes a 16-bit length).
constexpr size_t kMaxCommandLength = 0xFFFF;

// "ct <hex>", "icc <hex>", "# text" or a blank line. Hex digits may be grouped by blanks.
ScriptLine ParseScriptLine(std::string_view line);

// Hex digits (blanks between byte pairs allowed) to bytes; false for anything else, for an odd
// digit count and for more than `max` bytes.
bool ParseHex(std::string_view text, Bytes* out, size_t max = kMaxCommandLength);

// "20 13 00 46 00".
std::string HexText(const uint8_t* data, size_t length);
inline std::string HexText(const Bytes& bytes) {
  return HexText(bytes.data(), bytes.size());
}

// "OK", "ERR_INVALID", ...; "unknown return code" for a value the CT-API does not define.
const char* ReturnCodeName(int code);

// A short name of the command ("GET STATUS of the terminal: manufacturer data", "SELECT FILE
// 2F01"); empty when the command is not one the tool knows.
std::string CommandName(Target target, const Bytes& command);

// The meaning of SW1 SW2 in answer to `command` ("success", "no card", "processor card
// powered"); empty when it has none the tool knows.
std::string StatusWordMeaning(Target target, const Bytes& command, uint8_t sw1, uint8_t sw2);

// Lines that explain the data of an answer: the GET STATUS objects, the ATR or memory-card
// header of REQUEST ICC and RESET CT, the reader name of the vendor command; the insurance data
// object that a READ BINARY answer (90 00 or 62 82) begins with; otherwise a card's data as text
// when every byte is printable. Empty when there is nothing to explain. `response` holds data
// and SW1 SW2.
std::vector<std::string> DescribeAnswer(Target target, const Bytes& command, const Bytes& response);

// The data object (tag 60) of a health insurance card at the start of `data`, one line per
// field: insurer, insured person, address, dates and the checksum, the dates as DD.MM.YYYY and
// MM/YY, text in the card's character set (DIN 66003: | is ö, ~ is ß, ...) shown in UTF-8.
// Never reads beyond `length`; a malformed object ends the decoding with a line that says so.
// Empty when `data` does not begin with tag 60.
std::vector<std::string> DescribeInsuranceData(const uint8_t* data, size_t length);

// The family of a memory card by its first header byte: "2-wire", "3-wire" or "I2C".
const char* MemoryCardFamily(uint8_t h1);

// One exchange as CT_data saw it.
struct Exchange {
  Target target = Target::kCt;
  Bytes command;
  int code = 0;            // what CT_data returned
  uint8_t answer_sad = 1;  // *sad after the call: who answered
  Bytes response;          // the *lenr bytes of the answer
};

// The exchange as transcript lines: the command with its name, the answer, the explanation of
// its data, the status word with its meaning, and the return code when it is not OK.
std::vector<std::string> FormatExchange(const Exchange& exchange);

}  // namespace cli
