// SPDX-License-Identifier: BSD-3-Clause
// The reader table of inisync: its size, the groups of four and their counting, the rows that
// share ports, and the values every filled row carries.
#include "inisync/readers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

using inisync::kFilledReaderEntries;
using inisync::kReaderEntryCount;
using inisync::ReaderEntry;
using inisync::ReaderEntryTable;

std::string Name(const ReaderEntry& row) {
  return row.SectionName;
}

const ReaderEntry* Find(const std::string& section) {
  for (const ReaderEntry& row : ReaderEntryTable) {
    if (Name(row) == section) return &row;
  }
  return nullptr;
}

TEST(ReaderTableTest, HoldsOneHundredThirtySixFilledRowsAndEightEmptyOnes) {
  for (uint32_t i = 0; i < kReaderEntryCount; ++i) {
    const ReaderEntry& row = ReaderEntryTable[i];
    if (i < kFilledReaderEntries) {
      EXPECT_NE(row.SectionName[0], '\0') << "row " << i;
      EXPECT_NE(row.Port, 0u) << "row " << i;
    } else {
      const ReaderEntry empty{};
      EXPECT_EQ(std::memcmp(&row, &empty, sizeof row), 0) << "row " << i;
    }
    EXPECT_EQ(row.Found, 0);
    EXPECT_EQ(row.Listed, 0);
  }
}

TEST(ReaderTableTest, EveryGroupCountsZeroToThreeInSectionAndPortOrder) {
  std::set<std::string> names;
  for (uint32_t i = 0; i < kFilledReaderEntries; ++i) {
    const ReaderEntry& row = ReaderEntryTable[i];
    const ReaderEntry& first = ReaderEntryTable[i - i % 4];
    const std::string name = Name(row);
    const std::string first_name = Name(first);
    EXPECT_EQ(name.back(), static_cast<char>('0' + i % 4)) << name;
    EXPECT_EQ(name.substr(0, name.size() - 1), first_name.substr(0, first_name.size() - 1));
    EXPECT_EQ(name.find(' '), std::string::npos) << name;
    // Display names that end in " 0" count along; the others stay.
    const std::string display = row.ReaderName;
    const std::string first_display = first.ReaderName;
    if (first_display.size() > 2 && first_display.compare(first_display.size() - 2, 2, " 0") == 0) {
      EXPECT_EQ(display,
                first_display.substr(0, first_display.size() - 1) + static_cast<char>('0' + i % 4));
    } else {
      EXPECT_EQ(display, first_display);
    }
    EXPECT_TRUE(std::string(row.PinEntry) == "0" || std::string(row.PinEntry) == "3") << name;
    EXPECT_STREQ(row.PinEntry, first.PinEntry);
    EXPECT_TRUE(names.insert(name).second) << name << " twice";
  }
}

struct GroupCase {
  const char* first_section;
  uint32_t first_port;
  const char* reader_name;
  const char* pin_entry;
};

// A sample of the groups: plain names, names counting along, and PIN-pad readers.
const GroupCase kGroups[] = {
    {"TREVANO_Kelvane_Alder_0", 20, "Kelvane Alder", "0"},
    {"TREVANO_Kelvane_Birch_0", 1, "Kelvane Birch", "0"},
    {"TREVANO_Kelvane_Cypress_0", 30, "Kelvane Cypress", "3"},
    {"TREVANO_Kelvane_Spruce_0", 35, "Kelvane Spruce", "3"},
    {"TREVANO_Kelvane_Aspen_0", 85, "Kelvane Aspen", "0"},
    {"O2Micro_PCMCIA_Reader_0", 200, "Kelvane Ash 0", "0"},
    {"Vuzoded_Divudaz_Computers_SmartCard-Reader_Keyboard_USB_2A_0", 220,
     "SmartCard-Reader_Keyboard_USB_2A 0", "3"},
    {"Cherry_SmartBoard_XX44_0", 150, "SmartBoard XX44 0", "3"},
    {"Serial_Smart_Card_Reader_0", 185, "Smart Card Reader 0", "0"},
    {"FSC_SCR_USB_2C_0", 230, "SCR_USB_2C 0", "0"},
};

TEST(ReaderTableTest, GroupsCarryTheirPortsDisplayNamesAndPinEntry) {
  for (const GroupCase& group : kGroups) {
    const ReaderEntry* row = Find(group.first_section);
    ASSERT_NE(row, nullptr) << group.first_section;
    for (uint32_t k = 0; k < 4; ++k) {
      EXPECT_EQ(row[k].Port, group.first_port + k) << group.first_section;
      EXPECT_STREQ(row[k].PinEntry, group.pin_entry);
    }
    EXPECT_STREQ(row->ReaderName, group.reader_name);
  }
}

TEST(ReaderTableTest, TwinGroupsShareTheirPortsInTableOrder) {
  const char* twins[][2] = {
      {"O2Micro_PCMCIA_Reader_0", "TREVANO_Kelvane_Ash_0"},
      {"Vuzoded_Divudaz_Computers_SmartCard-Reader_Keyboard_USB_2A_0", "FSC_SCR_Keyboard_USB_2A_0"},
      {"Vuzoded_Divudaz_Computers_SmartCard-Reader_USB_2A_0", "FSC_SCR_USB_2A_0"},
      {"Vuzoded_Divudaz_Computers_SmartCard-Reader_USB_2C_0", "FSC_SCR_USB_2C_0"},
  };
  for (const auto& pair : twins) {
    const ReaderEntry* first = Find(pair[0]);
    const ReaderEntry* second = Find(pair[1]);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_LT(first, second);
    for (uint32_t k = 0; k < 4; ++k)
      EXPECT_EQ(first[k].Port, second[k].Port) << pair[1];
  }
  // The first row of the table and the Birch group right behind the Alder group.
  EXPECT_STREQ(ReaderEntryTable[0].SectionName, "TREVANO_Kelvane_Alder_0");
  EXPECT_STREQ(ReaderEntryTable[4].SectionName, "TREVANO_Kelvane_Birch_0");
  EXPECT_STREQ(ReaderEntryTable[135].SectionName, "FSC_SCR_USB_2C_3");
}

}  // namespace
