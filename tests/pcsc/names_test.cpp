// SPDX-License-Identifier: BSD-3-Clause
// Tests of the reader names between pcsc-lite and the library: the " XX YY" ending, instance
// numbers of equal names, the presented multi-string and the way back to pcsc-lite's names.
#include "pcsc/pcsclite/names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pcsc::names {
namespace {

// A pcsc-lite multi-string of the given names, ended by an empty name.
std::string MultiString(const std::vector<std::string>& names) {
  std::string multi;
  for (const std::string& name : names)
    multi += name + '\0';
  return multi + '\0';
}

std::vector<std::string> PresentedNames(const std::vector<std::string>& native) {
  const std::string multi = MultiString(native);
  std::vector<std::string> presented;
  for (const Reader& reader : Present(multi.data(), multi.size())) {
    presented.push_back(reader.presented);
  }
  return presented;
}

struct BaseCase {
  const char* name;
  size_t base_length;
};

constexpr BaseCase kBaseCases[] = {
    {"TREVANO Kelvane Birch 00 00", 21},
    {"TREVANO Kelvane Birch 00 01", 21},
    {"Virtual PCD 0A ff", 11},      // either letter case is a hex digit
    {"TREVANO Kelvane Birch", 21},  // no ending at all
    {"Reader 00 0G", 12},           // G is no hex digit
    {"Reader 000 00", 13},          // three digits in the first group
    {"Reader 00  00", 13},          // two blanks
    {"Reader00 00", 11},            // no blank in front of the ending
    {"Pad AB CD Keys", 14},         // hex-looking text in the middle
    {" 00 00", 6},                  // an ending with no name in front is a name
    {"", 0},
};

TEST(NamesBaseLength, StripsOnlyTheTwoHexGroupsAtTheEnd) {
  for (const BaseCase& c : kBaseCases) {
    EXPECT_EQ(BaseLength(c.name), c.base_length) << '"' << c.name << '"';
  }
}

TEST(NamesPresent, NumbersReadersOfEqualNamesInListOrder) {
  EXPECT_EQ(PresentedNames({"TREVANO Kelvane Birch 00 00", "TREVANO Kelvane Birch 00 01"}),
            (std::vector<std::string>{"TREVANO Kelvane Birch 0", "TREVANO Kelvane Birch 1"}));
}

TEST(NamesPresent, CountsEachNameOnItsOwnAcrossInterleavedReaders) {
  EXPECT_EQ(PresentedNames({"Birch 01 00", "Oak 00 00", "Birch 01 01", "Oak 02 00", "Birch 00 00"}),
            (std::vector<std::string>{"Birch 0", "Oak 0", "Birch 1", "Oak 1", "Birch 2"}));
}

TEST(NamesPresent, NumbersFromTheListOrderNotFromTheHexDigits) {
  EXPECT_EQ(PresentedNames({"Birch 05 01", "Birch 00 00"}),
            (std::vector<std::string>{"Birch 0", "Birch 1"}));
}

TEST(NamesPresent, CountsBeyondNine) {
  std::vector<std::string> native;
  for (int i = 0; i < 12; ++i)
    native.push_back("Birch 00 00");
  EXPECT_EQ(PresentedNames(native).back(), "Birch 11");
}

TEST(NamesPresent, LeavesNamesWithoutTheEndingUnchanged) {
  EXPECT_EQ(PresentedNames({"Plain", "Plain 00 00", "Pad AB CD Keys", "Plain 00 01"}),
            (std::vector<std::string>{"Plain", "Plain 0", "Pad AB CD Keys", "Plain 1"}));
}

TEST(NamesPresent, KeepsThePcscLiteNameOfEachReader) {
  const std::string multi = MultiString({"Birch 00 00", "Plain"});
  const ReaderList readers = Present(multi.data(), multi.size());
  ASSERT_EQ(readers.size(), 2u);
  EXPECT_EQ(readers[0].native, "Birch 00 00");
  EXPECT_EQ(readers[1].native, "Plain");
}

TEST(NamesPresent, StopsAtTheEmptyName) {
  const std::string multi = MultiString({"Birch 00 00"}) + "Stray 00 00" + '\0';
  EXPECT_EQ(Present(multi.data(), multi.size()).size(), 1u);
}

TEST(NamesPresent, StaysWithinTheGivenLength) {
  // The last name is cut by the length, not by a terminator.
  const std::string multi = std::string("Birch 00 00") + '\0' + "Oak 00 00";
  const ReaderList readers = Present(multi.data(), multi.size() - 6);
  ASSERT_EQ(readers.size(), 2u);
  EXPECT_EQ(readers[1].native, "Oak");
  EXPECT_EQ(readers[1].presented, "Oak");
}

TEST(NamesPresent, GivesNoReadersForAnEmptyOrMissingList) {
  EXPECT_TRUE(Present("\0", 1).empty());
  EXPECT_TRUE(Present("Birch 00 00", 0).empty());
  EXPECT_TRUE(Present(nullptr, 10).empty());
}

TEST(NamesMultiString, EndsEachNameAndTheList) {
  const std::string multi = MultiString({"Birch 00 00", "Plain", "Birch 00 01"});
  const std::string presented = PresentedMultiString(Present(multi.data(), multi.size()));
  // The literal's own terminator is the list's final NUL.
  constexpr char kExpected[] = "Birch 0\0Plain\0Birch 1\0";
  EXPECT_EQ(presented, std::string(kExpected, sizeof kExpected));
}

TEST(NamesMultiString, OfNoReadersIsTheEmptyName) {
  EXPECT_EQ(PresentedMultiString({}), std::string(1, '\0'));
}

TEST(NamesToNative, FindsThePcscLiteNameOfAPresentedName) {
  const std::string multi = MultiString({"Birch 00 00", "Oak 00 00", "Birch 00 01", "Plain"});
  const ReaderList readers = Present(multi.data(), multi.size());
  struct Case {
    const char* presented;
    const char* native;
  };
  constexpr Case kCases[] = {
      {"Birch 0", "Birch 00 00"},
      {"Birch 1", "Birch 00 01"},
      {"Oak 0", "Oak 00 00"},
      {"Plain", "Plain"},
  };
  for (const Case& c : kCases) {
    const std::string* native = ToNative(readers, c.presented);
    ASSERT_NE(native, nullptr) << c.presented;
    EXPECT_EQ(*native, c.native);
  }
}

TEST(NamesToNative, KnowsNoOtherName) {
  const std::string multi = MultiString({"Birch 00 00", "Birch 00 01"});
  const ReaderList readers = Present(multi.data(), multi.size());
  // Unknown readers, a number beyond the readers, pcsc-lite's own name and a bare base name.
  for (const char* name : {"Oak 0", "Birch 2", "Birch 00 00", "Birch", "birch 0", ""}) {
    EXPECT_EQ(ToNative(readers, name), nullptr) << name;
  }
  EXPECT_EQ(ToNative({}, "Birch 0"), nullptr);
}

}  // namespace
}  // namespace pcsc::names
