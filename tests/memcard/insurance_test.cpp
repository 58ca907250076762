// SPDX-License-Identifier: BSD-3-Clause
// Insurance cards: the data check on generated data areas, one broken rule at a time, and the
// layout check on memory cards in the simulator.
#include "memcard/insurance.h"

#include <string>
#include <vector>

#include "ctapi/ctapi.h"
#include "pcsc/pcsc.h"
#include "tests/ctapi/ctapi_fixture.h"
#include "tests/memcard/insurance_card.h"

namespace {

using testcards::Build;
using testcards::Bytes;
using testcards::DataArea;
using testcards::InsuranceCard;
using testcards::Text;

// The data check on the card's data area, passed in a buffer of exactly its size.
bool DataCheck(const InsuranceCard& card) {
  const Bytes image = Build(card);
  const Bytes data = DataArea(image);
  return memcard::InsuranceDataCheck(data.data(), static_cast<uint32_t>(data.size()), image.data());
}

// A card whose 0x60 object has a value of exactly `length` bytes (at most 128): optional fields
// removed, then the insurer name padded with spaces.
InsuranceCard WithDataLength(size_t length) {
  InsuranceCard card;
  for (uint8_t tag : {0x8F, 0x84, 0x8A, 0x8D, 0x89})
    card.Remove(tag);
  card.Find(0x80)->resize(card.Find(0x80)->size() + length - testcards::DataObjectLength(card),
                          ' ');
  return card;
}

using Change = void (*)(InsuranceCard&);

struct Case {
  const char* what;
  Change change;
  bool passes;
};

void ExpectCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    InsuranceCard card;
    c.change(card);
    EXPECT_EQ(DataCheck(card), c.passes) << c.what;
  }
}

TEST(InsuranceDataCheck, GeneratedCardPasses) {
  const Bytes image = Build(InsuranceCard{});
  ASSERT_EQ(image.size(), 256u);
  const Bytes data = DataArea(image);
  ASSERT_EQ(data.size(), 226u);
  // 60 81 80 <128 bytes ending in 8E 01 cs>, C0 5C <92 spaces>, 00.
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 3), (Bytes{0x60, 0x81, 0x80}));
  EXPECT_EQ(Bytes(data.begin() + 128, data.begin() + 130), (Bytes{0x8E, 0x01}));
  EXPECT_EQ(Bytes(data.begin() + 131, data.begin() + 133), (Bytes{0xC0, 0x5C}));
  EXPECT_EQ(data[224], ' ');
  EXPECT_EQ(data[225], 0x00);
  EXPECT_TRUE(DataCheck(InsuranceCard{}));
}

TEST(InsuranceDataCheck, SmallestAndLargestCardsPass) {
  // Every required field at its shortest: a 0x60 value of 51 bytes and a fill of 169.
  InsuranceCard small;
  small.fields = {{0x80, Text("AB")},   {0x81, Text("1234567")}, {0x82, Text("123456")},
                  {0x83, Text("1")},    {0x87, Text("Xu")},      {0x88, Text("01011970")},
                  {0x8B, Text("1234")}, {0x8C, Text("Ay")}};
  const Bytes data = DataArea(Build(small));
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 2), (Bytes{0x60, 51}));
  EXPECT_EQ(Bytes(data.begin() + 53, data.begin() + 56), (Bytes{0xC0, 0x81, 169}));
  EXPECT_TRUE(DataCheck(small));

  // Every field at its longest that the group limits allow: 214 bytes and a fill of 6.
  InsuranceCard large;
  large.fields = {{0x80, Bytes(28, 'A')}, {0x81, Text("1234567")},  {0x8F, Text("12345")},
                  {0x82, Bytes(12, '9')}, {0x83, Text("1000")},     {0x90, Text("ABC")},
                  {0x84, Bytes(10, 'T')}, {0x85, Bytes(10, 'V')},   {0x86, Bytes(6, 'Z')},
                  {0x87, Bytes(28, 'N')}, {0x88, Text("31121999")}, {0x89, Bytes(28, 'S')},
                  {0x8A, Text("DEU")},    {0x8B, Text("1234567")},  {0x8C, Bytes(16, 'O')},
                  {0x8D, Text("0199")}};
  const Bytes full = DataArea(Build(large));
  EXPECT_EQ(Bytes(full.begin(), full.begin() + 3), (Bytes{0x60, 0x81, 214}));
  EXPECT_EQ(Bytes(full.begin() + 217, full.begin() + 219), (Bytes{0xC0, 6}));
  EXPECT_TRUE(DataCheck(large));
}

TEST(InsuranceDataCheck, EachTagOnlyOnce) {
  const InsuranceCard valid;
  for (const testcards::Object& field : valid.fields) {
    InsuranceCard card;
    card.fields.push_back(field);
    EXPECT_FALSE(DataCheck(card)) << std::hex << int(field.tag);
  }
  ExpectCases({
      {"a second checksum object",
       [](InsuranceCard& c) {
         c.inside = {0x8E, 0x01, 0x00};
       },
       false},
      {"a second fill object",
       [](InsuranceCard& c) { c.tail = {0xC0, 0x06, 32, 32, 32, 32, 32, 32}; }, false},
      {"an optional field added once", [](InsuranceCard& c) { c.Set(0x90, "1"); }, true},
  });
}

TEST(InsuranceDataCheck, UnknownTagsFail) {
  ExpectCases({
      {"00 fill after the fill object",
       [](InsuranceCard& c) {
         c.tail = {0x00, 0x00, 0x00};
       },
       false},
      {"00 fill inside the data object",
       [](InsuranceCard& c) {
         c.inside = {0x00, 0x00};
       },
       false},
      {"tag 0x91",
       [](InsuranceCard& c) {
         c.inside = {0x91, 0x01, 'A'};
       },
       false},
      {"tag 0x61",
       [](InsuranceCard& c) {
         c.tail = {0x61, 0x00};
       },
       false},
      {"a known tag in the same place",
       [](InsuranceCard& c) {
         c.tail = {0x90, 0x01, '1'};
       },
       true},
  });
}

TEST(InsuranceDataCheck, RequiredTags) {
  struct Field {
    uint8_t tag;
    bool required;
  };
  const Field fields[] = {{0x80, true},  {0x81, true},  {0x8F, false}, {0x82, true}, {0x83, true},
                          {0x84, false}, {0x85, false}, {0x87, true},  {0x88, true}, {0x89, false},
                          {0x8A, false}, {0x8B, true},  {0x8C, true},  {0x8D, false}};
  for (const Field& f : fields) {
    InsuranceCard card;
    card.Remove(f.tag);
    ASSERT_EQ(card.fields.size(), InsuranceCard{}.fields.size() - 1);
    EXPECT_EQ(DataCheck(card), !f.required) << std::hex << int(f.tag);
  }
  ExpectCases({
      {"no checksum object", [](InsuranceCard& c) { c.checksum_object = false; }, false},
      {"no 0x60 object around the fields", [](InsuranceCard& c) { c.data_header = false; }, false},
  });
}

TEST(InsuranceDataCheck, LengthRanges) {
  struct Length {
    uint8_t tag;
    const char* value;
    bool passes;
  };
  const Length cases[] = {
      {0x80, "A", false},
      {0x80, "AB", true},
      {0x80, "ABCDEFGHIJKLMNOPQRSTUVWXYZab", true},
      {0x80, "ABCDEFGHIJKLMNOPQRSTUVWXYZabc", false},
      {0x81, "123456", false},
      {0x81, "12345678", false},
      {0x8F, "1234", false},
      {0x8F, "123456", false},
      {0x82, "12345", false},
      {0x82, "123456", true},
      {0x82, "123456789012", true},
      {0x82, "1234567890123", false},
      {0x83, "1", true},
      {0x83, "10", false},
      {0x83, "100", false},
      {0x83, "1000", true},
      {0x83, "10000", false},
      {0x90, "ABCD", false},
      {0x84, "D", false},
      {0x84, "ABCDEFGHIJKLMNOP", false},
      {0x85, "", false},
      {0x86, "ABCDEFGHIJKLMNOP", false},
      {0x87, "X", false},
      {0x87, "ABCDEFGHIJKLMNOPQRSTUVWXYZabc", false},
      {0x88, "1208196", false},
      {0x88, "120819640", false},
      {0x89, "S", false},
      {0x89, "ABCDEFGHIJKLMNOPQRSTUVWXYZabc", false},
      {0x8A, "DEUT", false},
      {0x8B, "511", false},
      {0x8B, "5114", true},
      {0x8B, "5114777", true},
      {0x8B, "51147777", false},
      {0x8C, "K", false},
      {0x8D, "126", false},
      {0x8D, "12260", false},
  };
  for (const Length& c : cases) {
    InsuranceCard card;
    card.Set(c.tag, c.value);
    EXPECT_EQ(DataCheck(card), c.passes) << std::hex << int(c.tag) << " \"" << c.value << '"';
  }
}

TEST(InsuranceDataCheck, Text) {
  const std::string allowed =
      " &'()+-./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]_abcdefghijklmnopqrstuvwxyz{|}~";
  ASSERT_EQ(allowed.size(), 79u);
  for (int byte = 0; byte < 256; ++byte) {
    InsuranceCard card;
    card.Find(0x87)->at(0) = static_cast<uint8_t>(byte);
    const bool passes = allowed.find(static_cast<char>(byte)) != std::string::npos;
    EXPECT_EQ(DataCheck(card), passes) << "byte " << byte;
  }
  ExpectCases({
      {"a comma in the town", [](InsuranceCard& c) { c.Set(0x8C, "K|ln, Rhein"); }, false},
      {"Latin-1 in the first name", [](InsuranceCard& c) { c.Set(0x85, "J\xFCrgen"); }, false},
      {"the card's own umlauts", [](InsuranceCard& c) { c.Set(0x85, "J}rgen-Kl[o"); }, true},
  });
}

TEST(InsuranceDataCheck, Digits) {
  struct Digits {
    uint8_t tag;
    const char* value;
    bool passes;
  };
  const Digits cases[] = {
      {0x81, "1051309", true},     {0x81, " 105130", true},  {0x81, "105130 ", true},
      {0x81, "  1    ", true},     {0x81, "1051 09", false}, {0x81, "       ", false},
      {0x81, "105130A", false},    {0x81, "105130-", false}, {0x83, "1   ", true},
      {0x83, " 1  ", true},        {0x83, "1 0 ", false},    {0x82, "  4711081547", true},
      {0x82, "4711O81547", false}, {0x8F, "3 825", false},
  };
  for (const Digits& c : cases) {
    InsuranceCard card;
    card.Set(c.tag, c.value);
    EXPECT_EQ(DataCheck(card), c.passes) << std::hex << int(c.tag) << " \"" << c.value << '"';
  }
}

TEST(InsuranceDataCheck, Dates) {
  struct Date {
    const char* value;
    bool passes;
  };
  const Date cases[] = {
      {"12081964", true},  {"31131970", false}, {"00001970", true},  {"00051970", true},
      {"00000000", false}, {"00050000", false}, {"05001970", false}, {"01010000", false},
      {"32011970", false}, {"31021970", true},  {"01121970", true},  {"0000197A", false},
      {"1208 964", false}, {"01019999", true},
  };
  for (const Date& c : cases) {
    InsuranceCard card;
    card.Set(0x88, c.value);
    EXPECT_EQ(DataCheck(card), c.passes) << c.value;
  }
}

TEST(InsuranceDataCheck, MonthYear) {
  struct MonthYear {
    const char* value;
    bool passes;
  };
  const MonthYear cases[] = {{"1226", true},  {"0100", true},  {"1320", false},
                             {"0020", false}, {"12 6", false}, {"1A26", false}};
  for (const MonthYear& c : cases) {
    InsuranceCard card;
    card.Set(0x8D, c.value);
    EXPECT_EQ(DataCheck(card), c.passes) << c.value;
  }
}

TEST(InsuranceDataCheck, FillIsSpaces) {
  ExpectCases({
      {"zero fill", [](InsuranceCard& c) { c.fill_byte = 0x00; }, false},
      {"digit fill", [](InsuranceCard& c) { c.fill_byte = '0'; }, false},
      {"FF fill", [](InsuranceCard& c) { c.fill_byte = 0xFF; }, false},
  });
}

TEST(InsuranceDataCheck, GroupLimits) {
  ExpectCases({
      {"title 15 and first name 12: 27 of 27",
       [](InsuranceCard& c) {
         c.Set(0x84, "Prof. Dr. med.X");
         c.Set(0x85, "Anna-Luise M.");
         c.Find(0x85)->pop_back();
       },
       true},
      {"title 15 and first name 13: 28 of 27",
       [](InsuranceCard& c) {
         c.Set(0x84, "Prof. Dr. med.X");
         c.Set(0x85, "Anna-Luise M.");
       },
       false},
      {"title, first name, affix 10 + 10 + 6: 26 of 26",
       [](InsuranceCard& c) {
         c.Set(0x84, "Prof. Dr. ");
         c.Set(0x85, "Anna-Luise");
         c.Set(0x86, "von de");
       },
       true},
      {"title, first name, affix 10 + 10 + 7: 27 of 26",
       [](InsuranceCard& c) {
         c.Set(0x84, "Prof. Dr. ");
         c.Set(0x85, "Anna-Luise");
         c.Set(0x86, "von der");
       },
       false},
      {"country, postcode, town 1 + 5 + 20: 26 of 26",
       [](InsuranceCard& c) { c.Set(0x8C, "Frankfurt (Oder) Ost"); }, true},
      {"country, postcode, town 1 + 5 + 21: 27 of 26",
       [](InsuranceCard& c) { c.Set(0x8C, "Frankfurt (Oder) West"); }, false},
      {"postcode, town 5 + 22: 27 of 27",
       [](InsuranceCard& c) {
         c.Remove(0x8A);
         c.Set(0x8C, "Frankfurt (Oder) Nord-");
       },
       true},
      {"postcode, town 5 + 23: 28 of 27",
       [](InsuranceCard& c) {
         c.Remove(0x8A);
         c.Set(0x8C, "Frankfurt (Oder) Nord-O");
       },
       false},
  });
}

TEST(InsuranceDataCheck, PostcodeDigitsWithoutCountry) {
  ExpectCases({
      {"letters with a country", [](InsuranceCard& c) { c.Set(0x8B, "D-5114"); }, true},
      {"letters without a country",
       [](InsuranceCard& c) {
         c.Remove(0x8A);
         c.Set(0x8B, "D-5114");
       },
       false},
      {"a space without a country",
       [](InsuranceCard& c) {
         c.Remove(0x8A);
         c.Set(0x8B, " 5114");
       },
       false},
      {"digits without a country", [](InsuranceCard& c) { c.Remove(0x8A); }, true},
  });
}

TEST(InsuranceDataCheck, Checksum) {
  ExpectCases({
      {"corrupt", [](InsuranceCard& c) { c.corrupt_checksum = true; }, false},
      {"over a 82 xx xx length field",
       [](InsuranceCard& c) { c.data_length_form = testcards::LengthForm::kTwoBytes; }, true},
      {"over a short length field",
       [](InsuranceCard& c) { c.Set(0x80, "AOK"); },  // a value of 114 bytes: 60 72
       true},
  });
  // A flipped bit that leaves the value valid is noticed by the checksum alone: the full stop
  // of the title, a digit of the insured person's number, the last digit of the validity.
  const Bytes image = Build(InsuranceCard{});
  for (size_t i : {60u, 45u, 127u}) {
    Bytes data = DataArea(image);
    data[i] ^= 0x01;
    EXPECT_FALSE(
        memcard::InsuranceDataCheck(data.data(), static_cast<uint32_t>(data.size()), image.data()))
        << i;
  }
}

TEST(InsuranceDataCheck, EndByte) {
  struct End {
    uint8_t h1;
    uint8_t end;
    bool passes;
  };
  const End cases[] = {{0xA2, 0x00, true},  {0xA2, 0xFF, false}, {0x92, 0x00, true},
                       {0x92, 0xFF, false}, {0x82, 0x00, true},  {0x82, 0xFF, true},
                       {0x85, 0xFF, true},  {0x82, 0xFE, false}, {0xA2, 0x01, false},
                       {0x28, 0xFF, false}};
  for (const End& c : cases) {
    InsuranceCard card;
    card.header[0] = c.h1;
    card.end_byte = c.end;
    EXPECT_EQ(DataCheck(card), c.passes) << std::hex << int(c.h1) << ' ' << int(c.end);
  }
}

TEST(InsuranceDataCheck, LengthFormsMustFitBeforeTheEnd) {
  ExpectCases({
      {"short form",
       [](InsuranceCard& c) {
         c.tail = {0x90, 0x01, '1'};
       },
       true},
      {"81 form",
       [](InsuranceCard& c) {
         c.tail = {0x90, 0x81, 0x01, '1'};
       },
       true},
      {"82 form",
       [](InsuranceCard& c) {
         c.tail = {0x90, 0x82, 0x00, 0x01, '1'};
       },
       true},
      {"a tag right before the end", [](InsuranceCard& c) { c.tail = {0x90}; }, false},
      {"81 without its length byte",
       [](InsuranceCard& c) {
         c.tail = {0x90, 0x81};
       },
       false},
      {"82 with one length byte",
       [](InsuranceCard& c) {
         c.tail = {0x90, 0x82, 0x00};
       },
       false},
      {"a value past the end",
       [](InsuranceCard& c) {
         c.tail = {0x90, 0x02, '1'};
       },
       false},
      {"first length byte 80",
       [](InsuranceCard& c) {
         c.tail = {0x90, 0x80, 0x01, '1'};
       },
       false},
      {"first length byte 83",
       [](InsuranceCard& c) { c.tail = {0x90, 0x83, 0x00, 0x00, 0x01, '1'}; }, false},
  });
  // A 0x60 length that claims more than the area holds.
  const Bytes image = Build(InsuranceCard{});
  Bytes data = DataArea(image);
  data[2] = 0xFF;  // 60 81 FF
  EXPECT_FALSE(
      memcard::InsuranceDataCheck(data.data(), static_cast<uint32_t>(data.size()), image.data()));
}

TEST(InsuranceDataCheck, DataObjectOf0x5DMovesTheEnd) {
  InsuranceCard card = WithDataLength(0x5D);
  ASSERT_EQ(testcards::DataObjectLength(card), 0x5Du);
  card.after_end = 0xAB;  // the last byte is not looked at any more
  const Bytes data = DataArea(Build(card));
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 2), (Bytes{0x60, 0x5D}));
  EXPECT_EQ(data[224], 0x00);
  EXPECT_EQ(data[225], 0xAB);
  EXPECT_TRUE(DataCheck(card));

  card.data_length_form = testcards::LengthForm::kOneByte;  // 60 81 5D
  EXPECT_TRUE(DataCheck(card));

  InsuranceCard moved_end = card;
  moved_end.end_byte = 0xFF;
  EXPECT_FALSE(DataCheck(moved_end));

  InsuranceCard ignored = card;
  ignored.follow_end_move = false;  // the fill reaches the last byte, past the moved end
  EXPECT_FALSE(DataCheck(ignored));

  // Lengths next to 0x5D do not move the end.
  for (size_t length : {0x5Cu, 0x5Eu}) {
    EXPECT_TRUE(DataCheck(WithDataLength(length))) << length;
  }
}

TEST(InsuranceDataCheck, NeverReadsOutsideTheData) {
  const Bytes image = Build(InsuranceCard{});
  const Bytes full = DataArea(image);
  // Every shorter area, each in a buffer of its own size, cuts an object and fails.
  for (size_t count = 1; count < full.size(); ++count) {
    const Bytes data(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(count));
    EXPECT_FALSE(
        memcard::InsuranceDataCheck(data.data(), static_cast<uint32_t>(count), image.data()))
        << count;
  }
  EXPECT_FALSE(memcard::InsuranceDataCheck(full.data(), 0, image.data()));
  EXPECT_FALSE(
      memcard::InsuranceDataCheck(nullptr, static_cast<uint32_t>(full.size()), image.data()));
  EXPECT_FALSE(
      memcard::InsuranceDataCheck(full.data(), static_cast<uint32_t>(full.size()), nullptr));
}

// ---- Layout check on the simulator ----

class InsuranceLayoutTest : public ctapitest::CtapiTest {
 protected:
  static constexpr const char* kReader = "TREVANO Kelvane Birch 0";

  // Opens terminal 1 with `card` and powers it; the slot is then index 0.
  void Power(const cards::CardSpec& card) {
    Open(kReader, 1, card);
    const ctapitest::Exchange power = ctapitest::CtData(1, 1, {0x20, 0x12, 0x01, 0x00, 0x00});
    ASSERT_EQ(power.code, OK);
    ASSERT_GE(power.response.size(), 2u);
    ASSERT_EQ(power.response[power.response.size() - 2], 0x90);
    ASSERT_EQ(SlotAt(0).memory_card, 1u);
  }
};

TEST_F(InsuranceLayoutTest, OneBrokenPartAtATime) {
  struct Layout {
    const char* what;
    cards::CardKind kind;
    Change change;
    bool passes;
  };
  using cards::CardKind;
  const Layout cases[] = {
      {"2-wire card", CardKind::kTwoWire, [](InsuranceCard&) {}, true},
      {"3-wire card", CardKind::kThreeWire, [](InsuranceCard& c) { c.header[0] = 0x92; }, true},
      {"I2C card", CardKind::kI2c, [](InsuranceCard& c) { c.header[0] = 0x82; }, true},
      {"I2C card with H1 0x11", CardKind::kI2c, [](InsuranceCard& c) { c.header[0] = 0x11; },
       false},
      {"directory length byte 0C: 14 bytes", CardKind::kTwoWire,
       [](InsuranceCard& c) { c.directory[1] = 0x0C; }, false},
      {"directory length byte 0A: 12 bytes", CardKind::kTwoWire,
       [](InsuranceCard& c) { c.directory[1] = 0x0A; }, false},
      {"H4 0x92", CardKind::kTwoWire, [](InsuranceCard& c) { c.header[3] = 0x92; }, false},
      {"H4 0x84", CardKind::kTwoWire, [](InsuranceCard& c) { c.header[3] = 0x84; }, false},
      {"H3 0x11", CardKind::kTwoWire, [](InsuranceCard& c) { c.header[2] = 0x11; }, false},
      {"ATR file 45 0B", CardKind::kTwoWire, [](InsuranceCard& c) { c.atr_file[0] = 0x45; }, false},
      {"ATR file 46 0C", CardKind::kTwoWire, [](InsuranceCard& c) { c.atr_file[1] = 0x0C; }, false},
      {"ATR byte 4 0x1F", CardKind::kTwoWire, [](InsuranceCard& c) { c.atr_file[4] = 0x1F; },
       false},
      {"ATR byte 4 0x20", CardKind::kTwoWire, [](InsuranceCard& c) { c.atr_file[4] = 0x20; }, true},
      {"ATR byte 4 0x7F", CardKind::kTwoWire, [](InsuranceCard& c) { c.atr_file[4] = 0x7F; }, true},
      {"ATR byte 4 0x80", CardKind::kTwoWire, [](InsuranceCard& c) { c.atr_file[4] = 0x80; },
       false},
      {"AID D2 77", CardKind::kTwoWire, [](InsuranceCard& c) { c.directory[5] = 0x77; }, false},
      {"AID D2 80", CardKind::kTwoWire, [](InsuranceCard& c) { c.directory[5] = 0x80; }, true},
      {"AID D3 76", CardKind::kTwoWire, [](InsuranceCard& c) { c.directory[4] = 0xD3; }, false},
      {"directory tag 4F", CardKind::kTwoWire, [](InsuranceCard& c) { c.directory[0] = 0x4F; },
       false},
      {"directory byte 11 not 01", CardKind::kTwoWire,
       [](InsuranceCard& c) { c.directory[11] = 0x02; }, false},
      {"directory byte 12 is not looked at", CardKind::kTwoWire,
       [](InsuranceCard& c) { c.directory[12] = 0xFF; }, true},
      {"broken data leave the layout alone", CardKind::kTwoWire,
       [](InsuranceCard& c) { c.corrupt_checksum = true; }, true},
  };
  for (const Layout& c : cases) {
    sim::Reset();
    InsuranceCard card;
    c.change(card);
    Power(testcards::MemoryCard(Build(card), c.kind));
    EXPECT_EQ(memcard::InsuranceLayoutCheck(0), c.passes) << c.what;
    ASSERT_EQ(CT_close(1), OK);
  }
}

TEST_F(InsuranceLayoutTest, OnlyReadsTheCard) {
  Power(testcards::MemoryCard(Build(InsuranceCard{}), cards::CardKind::kTwoWire));
  sim::ClearCalls();
  ASSERT_TRUE(memcard::InsuranceLayoutCheck(0));
  const std::vector<Bytes> sent = ctapitest::TransmittedApdus();
  ASSERT_GE(sent.size(), 2u);
  for (const Bytes& apdu : sent) {
    ASSERT_GE(apdu.size(), 2u);
    EXPECT_EQ(apdu[1], 0xB0);
  }
  EXPECT_EQ(SlotAt(0).insurance_layout, 0u);  // the caller decides what to keep
  EXPECT_EQ(SlotAt(0).selected_first, 0xFFFFFFFFu);
}

TEST_F(InsuranceLayoutTest, AnyFailedReadFails) {
  Power(testcards::MemoryCard(Build(InsuranceCard{}), cards::CardKind::kTwoWire));
  sim::ClearCalls();
  ASSERT_TRUE(memcard::InsuranceLayoutCheck(0));
  const size_t reads = ctapitest::TransmittedApdus().size();
  for (size_t nth = 1; nth <= reads; ++nth) {
    sim::FailCall(sim::Fn::kTransmit, static_cast<uint32_t>(nth), pcsc::kCommError);
    EXPECT_FALSE(memcard::InsuranceLayoutCheck(0)) << nth;
    sim::ClearCalls();
    ASSERT_TRUE(memcard::InsuranceLayoutCheck(0)) << nth;  // no fault left over
  }
}

TEST_F(InsuranceLayoutTest, SlotsWithoutTheLayout) {
  Power(testcards::MemoryCard(Build(InsuranceCard{}), cards::CardKind::kTwoWire));
  EXPECT_FALSE(memcard::InsuranceLayoutCheck(-1));
  EXPECT_FALSE(memcard::InsuranceLayoutCheck(ctapi::kSlotCount));
  EXPECT_FALSE(memcard::InsuranceLayoutCheck(1));  // no terminal there

  // Without the directory bounds (a failed directory read at power-up) nothing is read.
  ctapi::TerminalSlot& slot = SlotAt(0);
  slot.dir_file_first = ctapi::kNoAddress;
  slot.dir_file_last = ctapi::kNoAddress;
  EXPECT_FALSE(memcard::InsuranceLayoutCheck(0));
  slot.dir_file_first = 17;
  slot.dir_file_last = 29;
  slot.atr_file_first = ctapi::kNoAddress;
  slot.atr_file_last = ctapi::kNoAddress;
  EXPECT_FALSE(memcard::InsuranceLayoutCheck(0));
}

}  // namespace
