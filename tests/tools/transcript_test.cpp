// SPDX-License-Identifier: BSD-3-Clause
// ctkorvin-cli's reading of CT-API traffic: script lines, command names, status words, return
// codes, the decoding of the terminal's answers and of an insurance card's data object, and the
// transcript of one exchange.
#include "tools/ctkorvin-cli/transcript.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/memcard/insurance_card.h"

namespace {

using cli::Bytes;
using cli::Target;

Bytes H(const char* hex) {
  Bytes bytes;
  EXPECT_TRUE(cli::ParseHex(hex, &bytes)) << hex;
  return bytes;
}

// --- script lines and hex ----------------------------------------------------------------------

TEST(CliScriptLineTest, Table) {
  struct Case {
    const char* line;
    cli::LineKind kind;
    Target target;
    const char* command;
  };
  const Case cases[] = {
      {"", cli::LineKind::kBlank, Target::kCt, ""},
      {"  \t\r", cli::LineKind::kBlank, Target::kCt, ""},
      {"ct 20 12 01 01 00", cli::LineKind::kCommand, Target::kCt, "2012010100"},
      {"  icc 00B0000000  ", cli::LineKind::kCommand, Target::kIcc, "00B0000000"},
      {"ICC\t00 a4 00 0C 02 2f01", cli::LineKind::kCommand, Target::kIcc, "00A4000C022F01"},
      {"# GET STATUS", cli::LineKind::kComment, Target::kCt, ""},
      {"ct", cli::LineKind::kBad, Target::kCt, ""},
      {"ct 2 0", cli::LineKind::kBad, Target::kCt, ""},
      {"ct 201", cli::LineKind::kBad, Target::kCt, ""},
      {"icc 00 XY", cli::LineKind::kBad, Target::kIcc, ""},
      {"card 00 B0 00 00", cli::LineKind::kBad, Target::kCt, ""},
  };
  for (const Case& c : cases) {
    const cli::ScriptLine line = cli::ParseScriptLine(c.line);
    EXPECT_EQ(line.kind, c.kind) << c.line;
    if (c.kind == cli::LineKind::kCommand) {
      EXPECT_EQ(line.target, c.target) << c.line;
      EXPECT_EQ(cli::HexText(line.command), cli::HexText(H(c.command))) << c.line;
    }
    if (c.kind == cli::LineKind::kBad) {
      EXPECT_FALSE(line.text.empty()) << c.line;
      EXPECT_TRUE(line.command.empty()) << c.line;
    }
  }
}

TEST(CliScriptLineTest, CommentKeepsItsText) {
  EXPECT_EQ(cli::ParseScriptLine("   # the card's file  ").text, "# the card's file");
}

TEST(CliHexTest, RespectsTheLimit) {
  Bytes bytes;
  EXPECT_TRUE(cli::ParseHex("01 02 03", &bytes, 3));
  EXPECT_EQ(bytes.size(), 3u);
  EXPECT_FALSE(cli::ParseHex("01 02 03 04", &bytes, 3));
  EXPECT_FALSE(cli::ParseHex("01", nullptr));
  EXPECT_TRUE(cli::ParseHex("", &bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST(CliHexTest, TextHasBlanksBetweenBytes) {
  EXPECT_EQ(cli::HexText(Bytes{0x3B, 0x04, 0xA2}), "3B 04 A2");
  EXPECT_EQ(cli::HexText(Bytes{}), "");
  EXPECT_EQ(cli::HexText(nullptr, 3), "");
}

// --- names -------------------------------------------------------------------------------------

TEST(CliReturnCodeTest, Table) {
  const std::pair<int, const char*> cases[] = {
      {0, "OK"},          {-1, "ERR_INVALID"}, {-2, "ERR_PCSC"},
      {-8, "ERR_CT"},     {-10, "ERR_TRANS"},  {-11, "ERR_MEMORY"},
      {-127, "ERR_HOST"}, {-128, "ERR_HTSI"},  {-3, "unknown return code"},
  };
  for (const auto& c : cases)
    EXPECT_STREQ(cli::ReturnCodeName(c.first), c.second) << c.first;
}

TEST(CliCommandNameTest, TerminalCommands) {
  const std::pair<const char*, const char*> cases[] = {
      {"20 11 00 00", "RESET CT of the terminal"},
      {"20 10 01 01 00", "RESET CT of ICC 1, answer ATR"},
      {"20 11 01 02 00", "RESET CT of ICC 1, answer historical bytes"},
      {"20 12 01 00", "REQUEST ICC"},
      {"20 12 01 01 00", "REQUEST ICC, answer ATR"},
      {"20 12 01 F2 00", "REQUEST ICC, answer historical bytes"},
      {"20 12 01 01 03 80 01 05 00", "REQUEST ICC, answer ATR, wait up to 5 s for a card"},
      {"20 12 01 00 01 0A", "REQUEST ICC, wait up to 10 s for a card"},
      {"20 13 00 46 00", "GET STATUS of the terminal: manufacturer data"},
      {"20 13 00 81 00", "GET STATUS of the terminal: functional units"},
      {"20 13 01 80 00", "GET STATUS of ICC 1: ICC status"},
      {"20 14 01 00", "DEACTIVATE ICC"},
      {"20 15 01 00 00", "EJECT ICC"},
      {"20 FF 00 00 00", "vendor command: reader name"},
      {"20 FF 00 02 02 12 34", "vendor command: value"},
      {"20 20 00 00", ""},
      {"00 A4 00 00", ""},  // not CT-BCS: the terminal has no name for it
      {"20 12", ""},        // too short to be a command
  };
  for (const auto& c : cases)
    EXPECT_EQ(cli::CommandName(Target::kCt, H(c.first)), c.second) << c.first;
}

TEST(CliCommandNameTest, CardCommands) {
  const std::pair<const char*, const char*> cases[] = {
      {"00 A4 00 0C 02 2F 01", "SELECT FILE 2F01"},
      {"00 B0 00 00 00", "READ BINARY at offset 0, up to 256 bytes"},
      {"00 B0 00 00", "READ BINARY at offset 0, up to 256 bytes"},
      {"00 B0 01 04 08", "READ BINARY at offset 260, 8 bytes"},
      {"00 B0 82 10 04", "READ BINARY of short EF 2 at offset 16, 4 bytes"},
      {"00 D6 00 02 03 AA BB CC", "UPDATE BINARY at offset 2, 3 bytes"},
      {"00 20 00 81 03 12 34 56", "VERIFY"},
      {"80 CA 9F 7F 00", "GET DATA"},
      {"00 12 00 00", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(cli::CommandName(Target::kIcc, H(c.first)), c.second) << c.first;
}

// The same status word means different things after different commands.
TEST(CliStatusWordTest, Table) {
  struct Case {
    Target target;
    const char* command;
    uint8_t sw1;
    uint8_t sw2;
    const char* meaning;
  };
  const Case cases[] = {
      {Target::kCt, "20 13 00 46 00", 0x90, 0x00, "success"},
      {Target::kCt, "20 12 01 01 00", 0x90, 0x01, "processor card powered"},
      {Target::kCt, "20 11 01 01 00", 0x90, 0x01, "processor card powered"},
      {Target::kCt, "20 12 01 01 00", 0x90, 0x00, "memory card powered"},
      {Target::kCt, "20 15 01 00 01 05", 0x90, 0x01, "success: card removed"},
      {Target::kCt, "20 14 01 00", 0x90, 0x00, "success: card off, slot empty"},
      {Target::kCt, "20 12 01 00 01 05", 0x62, 0x00, "warning: no card inserted in time"},
      {Target::kCt, "20 14 01 00", 0x62, 0x00, "warning: card off, still inserted"},
      {Target::kCt, "20 15 01 00 01 05", 0x62, 0x00, "warning: card not removed in time"},
      {Target::kCt, "20 12 01 01 00", 0x62, 0x01, "warning: card was already powered and left so"},
      {Target::kCt, "20 13 00 80 00", 0x64, 0x00, "execution error"},
      {Target::kIcc, "00 B0 00 00 00", 0x64, 0xA1, "no card"},
      {Target::kIcc, "00 B0 00 00 00", 0x64, 0xA2, "card not activated"},
      {Target::kCt, "20 13 00 46", 0x67, 0x00, "wrong length"},
      {Target::kCt, "20 12 00 00", 0x6A, 0x00, "wrong P1 P2"},
      {Target::kCt, "20 12 01 00 03 80 02 00", 0x69, 0x00, "wrong data object"},
      {Target::kIcc, "00 B0 00 00 00", 0x69, 0x00, "command not allowed"},
      {Target::kCt, "20 13 00 46 05", 0x6C, 0x00, "wrong length: Lc or Le"},
      {Target::kIcc, "00 B0 00 00 00", 0x6C, 0x10, "wrong Le: 16 bytes available"},
      {Target::kIcc, "00 C0 00 00 00", 0x61, 0x00, "256 bytes waiting (GET RESPONSE)"},
      {Target::kIcc, "00 C0 00 00 00", 0x61, 0x10, "16 bytes waiting (GET RESPONSE)"},
      {Target::kCt, "20 20 00 00", 0x6D, 0x00, "instruction not supported"},
      {Target::kCt, "00 11 00 00", 0x6E, 0x00, "class not supported"},
      {Target::kIcc, "00 B0 00 00 00", 0x6F, 0x00, "transmission error"},
      {Target::kIcc, "00 A4 00 0C 02 4F 99", 0x6A, 0x82, "file not found"},
      {Target::kIcc, "00 B0 00 00 00", 0x69, 0x86, "command not allowed: no current EF"},
      {Target::kIcc, "00 B0 00 20 10", 0x62, 0x82, "warning: end of file reached before Le bytes"},
      {Target::kIcc, "00 20 00 00 02 12 34", 0x63, 0xC2, "verification failed, 2 tries left"},
      {Target::kIcc, "00 B0 00 00 00", 0x6A, 0x99, "wrong parameters"},
      {Target::kIcc, "00 B0 00 00 00", 0x93, 0x00, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cli::StatusWordMeaning(c.target, H(c.command), c.sw1, c.sw2), c.meaning)
        << c.command << " -> " << std::hex << int{c.sw1} << " " << int{c.sw2};
  }
}

// --- answers -----------------------------------------------------------------------------------

std::vector<std::string> Describe(const char* command, const char* response) {
  return cli::DescribeAnswer(Target::kCt, H(command), H(response));
}

using Lines = std::vector<std::string>;

TEST(CliAnswerTest, ManufacturerData) {
  EXPECT_EQ(Describe("20 13 00 46 00", "46 0F 4B 4F 52 56 49 4B 56 20 20 20 30 34 2E 30 30 90 00"),
            Lines{"manufacturer \"KORVI\", terminal type \"KV   \", version \"04.00\""});
  // Discretionary data after the three fixed items.
  EXPECT_EQ(Describe("20 13 00 46 00",
                     "46 12 4B 4F 52 56 49 4B 56 20 20 20 30 34 2E 30 30 55 53 42 90 00"),
            Lines{"manufacturer \"KORVI\", terminal type \"KV   \", version \"04.00\", \"USB\""});
  EXPECT_EQ(Describe("20 13 00 46 00", "46 02 4B 4F 90 00"), Lines{"manufacturer data 4B 4F"});
}

TEST(CliAnswerTest, IccStatusByte) {
  const std::pair<const char*, const char*> cases[] = {
      {"80 01 00 90 00", "ICC 1 status 00: no card"},
      {"80 01 03 90 00", "ICC 1 status 03: card present, not activated"},
      {"80 01 05 90 00", "ICC 1 status 05: card present, activated"},
      {"80 01 01 90 00", "ICC 1 status 01: card present"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Describe("20 13 01 80 00", c.first), Lines{c.second}) << c.first;
}

TEST(CliAnswerTest, FunctionalUnits) {
  EXPECT_EQ(Describe("20 13 00 81 00", "81 01 01 90 00"), Lines{"functional units: ICC 1"});
  EXPECT_EQ(Describe("20 13 00 81 00", "81 04 01 40 50 99 90 00"),
            Lines{"functional units: ICC 1, display, keypad, unit 99"});
}

TEST(CliAnswerTest, BrokenStatusObjectsAreSaidToBe) {
  EXPECT_EQ(Describe("20 13 00 81 00", "81 05 01 90 00"), Lines{"data object 81 is cut short"});
  EXPECT_EQ(Describe("20 13 00 81 00", "81 01 01 07 90 00"),
            (Lines{"functional units: ICC 1", "trailing byte 07"}));
  // An error answer carries no objects.
  EXPECT_EQ(Describe("20 13 00 81 00", "6A 00"), Lines{});
}

TEST(CliAnswerTest, ProcessorCardAtr) {
  EXPECT_EQ(Describe("20 12 01 01 00", "3B 44 00 4B 56 49 43 90 01"),
            Lines{"ATR 3B 44 00 4B 56 49 43"});
  EXPECT_EQ(Describe("20 11 01 01 00", "3B 44 00 4B 56 49 43 62 01"),
            Lines{"ATR 3B 44 00 4B 56 49 43"});
  EXPECT_EQ(Describe("20 12 01 02 00", "4B 56 49 43 90 01"),
            Lines{"historical bytes 4B 56 49 43 \"KVIC\""});
  EXPECT_EQ(Describe("20 12 01 00", "90 01"), Lines{});
}

// A memory card answers REQUEST ICC with its four header bytes and 90 00.
TEST(CliAnswerTest, MemoryCardHeader) {
  const std::pair<const char*, const char*> cases[] = {
      {"A2 13 10 91 90 00", "memory card header A2 13 10 91 (2-wire)"},
      {"92 23 10 91 90 00", "memory card header 92 23 10 91 (3-wire)"},
      {"82 13 10 84 90 00", "memory card header 82 13 10 84 (I2C)"},
      {"3B 44 00 4B 90 01", "ATR 3B 44 00 4B"},  // four bytes, but a processor card
  };
  for (const auto& c : cases)
    EXPECT_EQ(Describe("20 12 01 01 00", c.first), Lines{c.second}) << c.first;
  EXPECT_EQ(Describe("20 12 01 01 00", "64 A1"), Lines{});
}

TEST(CliAnswerTest, ReaderName) {
  EXPECT_EQ(Describe("20 FF 00 00 00", "41 6C 64 65 72 20 30 90 00"),
            Lines{"reader name \"Alder 0\""});
}

// Only text is shown of a card's data: the card's own formats are the application's business.
TEST(CliAnswerTest, CardDataAreShownOnlyAsText) {
  const Bytes read = H("00 B0 00 00 00");
  EXPECT_EQ(cli::DescribeAnswer(Target::kIcc, read, H("48 69 21 90 00")), Lines{"text \"Hi!\""});
  EXPECT_EQ(cli::DescribeAnswer(Target::kIcc, read, H("46 01 00 90 00")), Lines{});
  EXPECT_EQ(cli::DescribeAnswer(Target::kIcc, read, H("48 90 00")), Lines{});
  EXPECT_EQ(cli::DescribeAnswer(Target::kIcc, read, H("6A 82")), Lines{});
}

// --- insurance card data ------------------------------------------------------------------------

// The data object of a generated card as READ BINARY returns it: from the tag 60 up to and
// including the checksum byte.
Bytes DataObject(const testcards::InsuranceCard& card) {
  const Bytes image = testcards::Build(card);
  const size_t length = testcards::DataObjectLength(card);
  const size_t size = 1 + testcards::LengthField(length, card.data_length_form).size() + length;
  return Bytes(image.begin() + testcards::kDataAddress,
               image.begin() + static_cast<std::ptrdiff_t>(testcards::kDataAddress + size));
}

bool Has(const Lines& lines, const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

std::string HexOf(uint8_t value) {
  char text[3];
  snprintf(text, sizeof text, "%02X", value);
  return text;
}

Lines DescribeObject(const Bytes& object) {
  return cli::DescribeInsuranceData(object.data(), object.size());
}

TEST(CliInsuranceDataTest, GeneratedCardFieldByField) {
  const Bytes object = DataObject(testcards::InsuranceCard{});
  ASSERT_EQ(object.size(), 131u);
  EXPECT_EQ(DescribeObject(object),
            (Lines{
                "insurance data (object 60, 128 bytes):",
                "  insurer           \"AOK Niedersachsen\"",
                "  insurer number    1051309",
                "  contract number   38825",
                "  insured number    4711081547",
                "  status            1000",
                "  title             \"Dr.\"",
                "  first name        \"Erika\"",
                "  surname           \"Mustermann\"",
                "  birth date        12.08.1964",
                "  street            \"Heidestra\xC3\x9F"
                "e 17\"",
                "  country code      \"D\"",
                "  postcode          \"51147\"",
                "  town              \"K\xC3\xB6ln\"",
                "  valid until       12/26",
                "  checksum          " + HexOf(object.back()) + " (matches)",
            }));
}

TEST(CliInsuranceDataTest, EveryNamedField) {
  testcards::InsuranceCard card;
  card.Set(0x90, "E");
  card.Set(0x86, "von");
  card.Set(0x8C, "[\\]{|}~@");
  const Lines lines = DescribeObject(DataObject(card));
  EXPECT_TRUE(Has(lines, "  status supplement \"E\""));
  EXPECT_TRUE(Has(lines, "  name suffix       \"von\""));
  EXPECT_TRUE(Has(
      lines,
      "  town              \"\xC3\x84\xC3\x96\xC3\x9C\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F\xC2\xA7\""));
}

TEST(CliInsuranceDataTest, WrongChecksumIsShownWithTheComputedOne) {
  testcards::InsuranceCard card;
  card.corrupt_checksum = true;
  const Bytes object = DataObject(card);
  const uint8_t stored = object.back();
  EXPECT_EQ(DescribeObject(object).back(),
            "  checksum          " + HexOf(stored) +
                " (does not match: " + HexOf(static_cast<uint8_t>(~stored)) + ")");
}

// Contents the card check would refuse are still shown as they stand.
TEST(CliInsuranceDataTest, OddValuesAreShownAsTheyStand) {
  testcards::InsuranceCard card;
  card.Set(0x88, "1208196");  // seven digits: no date
  card.Set(0x8D, "12/6");
  card.Set(0x81, Bytes{0x31, 0x00, 0x32});
  card.fields.push_back({0x99, Bytes{0x01, 0xAB}});
  const Lines lines = DescribeObject(DataObject(card));
  EXPECT_TRUE(Has(lines, "  birth date        \"1208196\""));
  EXPECT_TRUE(Has(lines, "  valid until       \"12/6\""));
  EXPECT_TRUE(Has(lines, "  field 99          01 AB"));
  EXPECT_TRUE(Has(lines, "  insurer number    \"1.2\""));
  EXPECT_NE(lines.back().find("(matches)"), std::string::npos);
}

TEST(CliInsuranceDataTest, ShortAndTwoByteLengthForms) {
  testcards::InsuranceCard card;
  card.fields = {{0x87, testcards::Text("Muster")}};
  EXPECT_EQ(cli::DescribeInsuranceData(H("60 08 87 06 4D 75 73 74 65 72").data(), 10),
            (Lines{"insurance data (object 60, 8 bytes):", "  surname           \"Muster\""}));
  card.data_length_form = testcards::LengthForm::kTwoBytes;
  const Bytes object = DataObject(card);
  ASSERT_EQ(cli::HexText(object.data(), 4), "60 82 00 0B");
  EXPECT_EQ(DescribeObject(object),
            (Lines{"insurance data (object 60, 11 bytes):", "  surname           \"Muster\"",
                   "  checksum          " + HexOf(object.back()) + " (matches)"}));
}

// Every cut of the object, copied to a buffer of exactly that size (the sanitizer catches a
// read beyond it), ends the decoding with a line that says what is wrong.
TEST(CliInsuranceDataTest, CutObjectsStopWithANote) {
  const Bytes object = DataObject(testcards::InsuranceCard{});
  for (size_t size = 1; size < object.size(); ++size) {
    const Bytes cut(object.begin(), object.begin() + static_cast<std::ptrdiff_t>(size));
    const Lines lines = DescribeObject(cut);
    ASSERT_FALSE(lines.empty()) << size;
    const std::string& last = lines.back();
    const bool noted =
        last.find("cut short") != std::string::npos || last.find("malformed") != std::string::npos;
    EXPECT_TRUE(noted) << size << ": " << last;
  }
  EXPECT_EQ(DescribeObject(Bytes(object.begin(), object.begin() + 40)).back(),
            "the object is cut short: 37 of its 128 bytes");
}

TEST(CliInsuranceDataTest, MalformedObjectsStopWithANote) {
  const std::pair<const char*, Lines> cases[] = {
      {"60", {"insurance data object 60 with a malformed length: not decoded"}},
      {"60 83 00 00 00 01", {"insurance data object 60 with a malformed length: not decoded"}},
      {"60 05 87 85 41 42 43",
       {"insurance data (object 60, 5 bytes):",
        "field 87 is malformed or cut short: decoding stops"}},
      {"60 04 87 02 41 42 8E",
       {"insurance data (object 60, 4 bytes):", "  surname           \"AB\"",
        "1 more byte after the object"}},
      {"60 04 87 02 41 42 8E 01 00",
       {"insurance data (object 60, 4 bytes):", "  surname           \"AB\"",
        "3 more bytes after the object"}},
      {"60 05 87 02 41 42 8E",
       {"insurance data (object 60, 5 bytes):", "  surname           \"AB\"",
        "field 8E is malformed or cut short: decoding stops"}},
      {"60 03 87 00 8E 00",
       {"insurance data (object 60, 3 bytes):", "  surname           \"\"",
        "field 8E is malformed or cut short: decoding stops", "1 more byte after the object"}},
  };
  for (const auto& c : cases) {
    const Bytes bytes = H(c.first);
    EXPECT_EQ(DescribeObject(bytes), c.second) << c.first;
  }
  EXPECT_EQ(cli::DescribeInsuranceData(nullptr, 5), Lines{});
  EXPECT_EQ(DescribeObject(H("61 02 87 00")), Lines{});
}

// Only READ BINARY answers 90 00 and 62 82 are decoded as the insurance data.
TEST(CliInsuranceDataTest, DecodedInReadBinaryAnswersOnly) {
  Bytes answer = DataObject(testcards::InsuranceCard{});
  const Lines decoded = DescribeObject(answer);
  answer.push_back(0x62);
  answer.push_back(0x82);
  const Bytes read = H("00 B0 00 00 00");
  EXPECT_EQ(cli::DescribeAnswer(Target::kIcc, read, answer), decoded);
  answer.back() = 0x00;
  answer[answer.size() - 2] = 0x90;
  EXPECT_EQ(cli::DescribeAnswer(Target::kIcc, read, answer), decoded);
  answer.back() = 0x81;
  answer[answer.size() - 2] = 0x62;
  EXPECT_EQ(cli::DescribeAnswer(Target::kIcc, read, answer), Lines{});
  EXPECT_EQ(cli::DescribeAnswer(Target::kIcc, H("80 CA 9F 7F 00"), answer), Lines{});
  // Text that happens to begin with a backquote (0x60) and is not an object stays text.
  EXPECT_EQ(cli::DescribeAnswer(Target::kIcc, H("80 CA 00 00 00"), H("60 41 42 90 00")),
            Lines{"text \"`AB\""});
}

// --- one exchange ------------------------------------------------------------------------------

TEST(CliExchangeTest, NamedCommandAndDecodedAnswer) {
  cli::Exchange exchange;
  exchange.target = Target::kCt;
  exchange.command = H("20 12 01 01 00");
  exchange.answer_sad = 1;
  exchange.response = H("A2 13 10 91 90 00");
  EXPECT_EQ(cli::FormatExchange(exchange), (Lines{
                                               "to CT     REQUEST ICC, answer ATR",
                                               "          20 12 01 01 00",
                                               "from CT   A2 13 10 91 90 00",
                                               "          memory card header A2 13 10 91 (2-wire)",
                                               "          status 90 00: memory card powered",
                                           }));
}

TEST(CliExchangeTest, UnknownCommandLongAnswerAndAFailedCall) {
  cli::Exchange exchange;
  exchange.target = Target::kIcc;
  exchange.command = H("80 12 00 00");
  exchange.code = -11;
  exchange.answer_sad = 1;
  exchange.response = H("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 64 00");
  EXPECT_EQ(cli::FormatExchange(exchange),
            (Lines{
                "to ICC    80 12 00 00",
                "from CT   00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13",
                "          14 64 00",
                "          status 64 00: execution error",
                "          CT_data returned ERR_MEMORY (-11)",
            }));
}

TEST(CliExchangeTest, NoAnswerAtAll) {
  cli::Exchange exchange;
  exchange.target = Target::kIcc;
  exchange.command = H("00 B0 00 00 00");
  exchange.code = -1;
  exchange.answer_sad = 0;
  EXPECT_EQ(cli::FormatExchange(exchange), (Lines{
                                               "to ICC    READ BINARY at offset 0, up to 256 bytes",
                                               "          00 B0 00 00 00",
                                               "from ICC  (no answer)",
                                               "          CT_data returned ERR_INVALID (-1)",
                                           }));
}

}  // namespace
