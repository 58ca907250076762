// SPDX-License-Identifier: BSD-3-Clause
// Binary configuration files: the header, where a new file puts its first blocks and value,
// growing chains of section and entry blocks, moving values, passing over empty blocks,
// deleting sections and entries, reading values into small buffers, names too long for the
// format, the plain file copy, and damaged files of every kind answered without a hang or a
// read or write outside a block.
#include "config/binary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/memory.h"
#include "tests/common/test_util.h"

namespace {

using testutil::ReadFile;
using testutil::WriteFile;

uint32_t U32At(const std::string& bytes, uint32_t offset) {
  if (offset + 4 > bytes.size()) return 0xDEADBEEF;
  return mem::GetU32BE(reinterpret_cast<const uint8_t*>(bytes.data()) + offset);
}

void PutU32At(std::string* bytes, uint32_t offset, uint32_t value) {
  mem::PutU32BE(reinterpret_cast<uint8_t*>(&(*bytes)[offset]), value);
}

std::string Text(const char* value) {
  return std::string(value, std::strlen(value) + 1);
}

class BinaryFile : public ::testing::Test {
 protected:
  void SetUp() override { path_ = dir_.File("test.cfg"); }
  void TearDown() override { Close(); }

  void Create() {
    ASSERT_EQ(fio::Open(path_.c_str(), &file_, fio::kModeCreateNew, fio::kShareAll), 0u);
    uint32_t written = 0;
    ASSERT_EQ(BinCreateHeader(file_, &written), 0u);
    ASSERT_EQ(written, kBinHeaderSize);
  }
  void Open() {
    Close();
    ASSERT_EQ(fio::Open(path_.c_str(), &file_, fio::kModeReadWrite, fio::kShareAll), 0u);
    cursor_ = BinCursor{};
  }
  void Close() {
    if (file_ != fio::kNoHandle) fio::Close(file_);
    file_ = fio::kNoHandle;
  }

  // What the front end does for a write: update, add the entry, or add the section.
  uint32_t Write(const char* section, const char* entry, const char* value) {
    const uint32_t length = static_cast<uint32_t>(std::strlen(value) + 1);
    if (!BinFindSection(file_, &cursor_, section, nullptr)) {
      return BinAddSection(file_, &cursor_, section, entry, value, length);
    }
    if (BinFindEntry(file_, &cursor_, entry, nullptr)) {
      return BinUpdateEntry(file_, &cursor_, value, length);
    }
    return BinAddEntry(file_, &cursor_, entry, value, length);
  }

  // The value as text, or "<code>" when it cannot be read.
  std::string Value(const char* section, const char* entry) {
    BinEntryRecord record;
    if (!BinFindSection(file_, &cursor_, section, nullptr)) return "<section>";
    if (!BinFindEntry(file_, &cursor_, entry, &record)) return "<entry>";
    char buffer[600] = {};
    uint32_t length = sizeof buffer;
    uint32_t result = BinReadEntryValue(file_, &record, buffer, &length);
    if (result != 0) return "<" + std::to_string(result) + ">";
    return std::string(buffer, length);
  }

  std::vector<std::string> Sections() {
    std::vector<std::string> names;
    BinSectionRecord record;
    for (uint32_t found = BinSearchSection(file_, &cursor_, kBinFirst, &record); found;
         found = BinSearchSection(file_, &cursor_, kBinNext, &record)) {
      names.push_back(record.name);
    }
    return names;
  }

  std::vector<std::string> Entries(const char* section) {
    std::vector<std::string> names;
    if (!BinFindSection(file_, &cursor_, section, nullptr)) return names;
    BinEntryRecord record;
    for (uint32_t found = BinSearchEntry(file_, &cursor_, kBinFirst, &record); found;
         found = BinSearchEntry(file_, &cursor_, kBinNext, &record)) {
      names.push_back(record.name);
    }
    return names;
  }

  uint32_t EntryRecordOf(const char* section, const char* entry, BinEntryRecord* record) {
    if (!BinFindSection(file_, &cursor_, section, nullptr)) return 0;
    return BinFindEntry(file_, &cursor_, entry, record);
  }

  std::string Bytes() { return ReadFile(path_); }

  testutil::TempDir dir_;
  std::string path_;
  fio::Handle file_ = fio::kNoHandle;
  BinCursor cursor_{};
};

// --- Header ------------------------------------------------------------------------------------

TEST_F(BinaryFile, NewFileHoldsExactlyTheHeader) {
  Create();
  const std::string bytes = Bytes();
  ASSERT_EQ(bytes.size(), 64u);
  std::string title = "Morrowplane Configuration File";
  EXPECT_EQ(bytes.substr(0, 40), title + std::string(40 - title.size(), '\0'));
  EXPECT_EQ(bytes.substr(40, 10), std::string("BINARY\0\0\0\0", 10));
  EXPECT_EQ(U32At(bytes, 50), 0x02040506u);
  EXPECT_EQ(bytes.substr(54, 10), std::string(10, '\0'));
  uint32_t type = 0;
  EXPECT_EQ(BinCheckHeader(file_, &type), 0u);
  EXPECT_EQ(type, kBinTypeCode);
}

TEST_F(BinaryFile, HeaderCheckRefusesShortFilesAndUnknownTypes) {
  uint8_t header[kBinHeaderSize];
  ASSERT_EQ(BinEncodeHeader(header, sizeof header, kBinTypeCode), 0u);
  const std::string full(reinterpret_cast<char*>(header), sizeof header);
  struct Case {
    const char* name;
    std::string bytes;
    uint32_t result;
    uint32_t type;
  };
  std::string ascii = full;
  PutU32At(&ascii, 50, kBinAsciiTypeCode);
  std::string other = full;
  PutU32At(&other, 50, 0x02040507);
  const Case cases[] = {
      {"empty", "", kErrBinInvalidFile, 0},
      {"63 bytes", full.substr(0, 63), kErrBinInvalidFile, 0},
      {"binary", full, 0, kBinTypeCode},
      {"ascii type", ascii, 0, kBinAsciiTypeCode},
      {"other type", other, kErrBinInvalidFile, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(path_, c.bytes);
    Open();
    uint32_t type = 0xFFFF;
    EXPECT_EQ(BinCheckHeader(file_, &type), c.result);
    EXPECT_EQ(type, c.type);
  }
  BinFileHeader decoded;
  EXPECT_EQ(BinDecodeHeader(header, 63, &decoded), kErrBinInvalidFile);
  ASSERT_EQ(BinDecodeHeader(header, sizeof header, &decoded), 0u);
  EXPECT_STREQ(decoded.title, "Morrowplane Configuration File");
  EXPECT_STREQ(decoded.format, "BINARY");
}

// --- Layout of additions -----------------------------------------------------------------------

TEST_F(BinaryFile, FirstSectionPutsBlocksAt64And604AndTheValueAt892) {
  Create();
  ASSERT_EQ(BinFindSection(file_, &cursor_, "Reader", nullptr), 0u);
  EXPECT_EQ(cursor_.section_status, 0u);
  ASSERT_EQ(BinAddSection(file_, &cursor_, "Reader", "Port", "5", 2), 0u);
  const std::string bytes = Bytes();
  ASSERT_EQ(bytes.size(), 894u);
  // Section block: head, then one record of 6 + 12 bytes.
  EXPECT_EQ(U32At(bytes, 64), 16u + 18u);
  EXPECT_EQ(U32At(bytes, 68), 64u);
  EXPECT_EQ(U32At(bytes, 72), kBinNoBlock);
  EXPECT_EQ(U32At(bytes, 76), 1u);
  EXPECT_EQ(U32At(bytes, 80), 18u);
  EXPECT_EQ(U32At(bytes, 84), 604u);
  EXPECT_EQ(bytes.substr(88, 10), std::string("Reader\0\0\0\0", 10));
  EXPECT_EQ(bytes.substr(98, 604 - 98), std::string(604 - 98, '\0'));
  // Entry block: head, then one record of 4 + 16 bytes.
  EXPECT_EQ(U32At(bytes, 604), 16u + 20u);
  EXPECT_EQ(U32At(bytes, 608), 604u);
  EXPECT_EQ(U32At(bytes, 612), kBinNoBlock);
  EXPECT_EQ(U32At(bytes, 616), 1u);
  EXPECT_EQ(U32At(bytes, 620), 20u);
  EXPECT_EQ(U32At(bytes, 624), 892u);
  EXPECT_EQ(U32At(bytes, 628), 2u);
  EXPECT_EQ(bytes.substr(632, 8), std::string("Port\0\0\0\0", 8));
  EXPECT_EQ(bytes.substr(892), std::string("5\0", 2));

  Open();
  EXPECT_EQ(Value("Reader", "Port"), Text("5"));
}

TEST_F(BinaryFile, FullSectionBlockLinksASecondOneAtTheEndOfTheFile) {
  Create();
  // Records of 100 + 12 bytes: four fill 16 + 448 bytes, the fifth no longer fits into 540.
  std::vector<std::string> names;
  for (char c = 'A'; c <= 'E'; ++c)
    names.push_back(std::string(100, c));
  uint32_t eof_before_fifth = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i == 4) eof_before_fifth = static_cast<uint32_t>(Bytes().size());
    ASSERT_EQ(Write(names[i].c_str(), "e", "v"), 0u) << i;
  }
  const std::string bytes = Bytes();
  EXPECT_EQ(U32At(bytes, 64), 16u + 4 * 112u);
  EXPECT_EQ(U32At(bytes, 76), 4u);
  EXPECT_EQ(U32At(bytes, 72), eof_before_fifth);
  EXPECT_EQ(U32At(bytes, eof_before_fifth + 4), eof_before_fifth);
  EXPECT_EQ(U32At(bytes, eof_before_fifth + 8), kBinNoBlock);
  EXPECT_EQ(U32At(bytes, eof_before_fifth + 12), 1u);
  // Its entry block follows it, and the value that one.
  EXPECT_EQ(U32At(bytes, eof_before_fifth + 20), eof_before_fifth + 540);
  EXPECT_EQ(bytes.size(), eof_before_fifth + 540u + 288u + 2u);

  Open();
  EXPECT_EQ(Sections(), names);
  EXPECT_EQ(Value(names[4].c_str(), "e"), Text("v"));
}

TEST_F(BinaryFile, FullEntryBlockLinksASecondOneAndTheValueFollowsIt) {
  Create();
  // Entry records of 60 + 16 bytes: three fill 16 + 228, the fourth needs a new block.
  std::vector<std::string> names;
  for (char c = 'a'; c <= 'd'; ++c)
    names.push_back(std::string(60, c));
  ASSERT_EQ(Write("S", names[0].c_str(), "0"), 0u);
  ASSERT_EQ(Write("S", names[1].c_str(), "1"), 0u);
  ASSERT_EQ(Write("S", names[2].c_str(), "2"), 0u);
  const uint32_t eof = static_cast<uint32_t>(Bytes().size());
  ASSERT_EQ(Write("S", names[3].c_str(), "3"), 0u);
  const std::string bytes = Bytes();
  EXPECT_EQ(U32At(bytes, 604), 16u + 3 * 76u);
  EXPECT_EQ(U32At(bytes, 612), eof);
  EXPECT_EQ(U32At(bytes, eof + 4), eof);
  EXPECT_EQ(U32At(bytes, eof + 16 + 4), eof + 288u);  // value offset of the new record
  EXPECT_EQ(bytes.substr(eof + 288), Text("3"));

  Open();
  EXPECT_EQ(Entries("S"), names);
  EXPECT_EQ(Value("S", names[3].c_str()), Text("3"));
  EXPECT_EQ(Value("S", names[0].c_str()), Text("0"));
}

TEST_F(BinaryFile, EntryInAnOpenBlockPutsItsValueAtTheEndOfTheFile) {
  Create();
  ASSERT_EQ(Write("S", "one", "1"), 0u);
  const uint32_t eof = static_cast<uint32_t>(Bytes().size());
  ASSERT_EQ(Write("S", "two", "22"), 0u);
  BinEntryRecord record;
  Open();
  ASSERT_TRUE(EntryRecordOf("S", "two", &record));
  EXPECT_EQ(record.value_offset, eof);
  EXPECT_EQ(record.value_length, 3u);
  EXPECT_EQ(record.length, 3u + 16u);
  EXPECT_EQ(Entries("S"), (std::vector<std::string>{"one", "two"}));
}

// --- Updates -----------------------------------------------------------------------------------

TEST_F(BinaryFile, ShorterValueStaysInPlaceLongerValueMovesToTheEnd) {
  Create();
  ASSERT_EQ(Write("S", "key", "12345"), 0u);
  ASSERT_EQ(Write("S", "other", "x"), 0u);
  BinEntryRecord before;
  ASSERT_TRUE(EntryRecordOf("S", "key", &before));

  ASSERT_EQ(Write("S", "key", "ab"), 0u);
  BinEntryRecord shorter;
  ASSERT_TRUE(EntryRecordOf("S", "key", &shorter));
  EXPECT_EQ(shorter.value_offset, before.value_offset);
  EXPECT_EQ(shorter.value_length, 3u);
  EXPECT_EQ(Value("S", "key"), Text("ab"));

  const uint32_t eof = static_cast<uint32_t>(Bytes().size());
  ASSERT_EQ(Write("S", "key", "a much longer value"), 0u);
  BinEntryRecord longer;
  ASSERT_TRUE(EntryRecordOf("S", "key", &longer));
  EXPECT_EQ(longer.value_offset, eof);
  EXPECT_EQ(longer.value_length, 20u);
  Open();
  EXPECT_EQ(Value("S", "key"), Text("a much longer value"));
  EXPECT_EQ(Value("S", "other"), Text("x"));
}

TEST_F(BinaryFile, UpdateWithoutACurrentEntryIsASequenceError) {
  Create();
  EXPECT_EQ(BinUpdateEntry(file_, &cursor_, "v", 2), kErrBinSequence);
  ASSERT_EQ(Write("S", "e", "v"), 0u);
  EXPECT_EQ(BinFindEntry(file_, &cursor_, "missing", nullptr), 0u);
  EXPECT_EQ(BinUpdateEntry(file_, &cursor_, "v", 2), kErrBinSequence);
  // Adding where the cursor rests on a record would overwrite it.
  ASSERT_TRUE(BinFindSection(file_, &cursor_, "S", nullptr));
  const std::string before = Bytes();
  EXPECT_EQ(BinAddSection(file_, &cursor_, "T", "e", "v", 2), kErrBinSequence);
  ASSERT_TRUE(BinFindEntry(file_, &cursor_, "e", nullptr));
  EXPECT_EQ(BinAddEntry(file_, &cursor_, "f", "v", 2), kErrBinSequence);
  EXPECT_EQ(Bytes(), before);
}

// --- Walking and deleting ----------------------------------------------------------------------

TEST_F(BinaryFile, WalkPassesOverEmptyEntryBlocks) {
  Create();
  std::vector<std::string> names;
  for (char c = 'a'; c <= 'h'; ++c)
    names.push_back(std::string(60, c));
  for (const std::string& name : names)
    ASSERT_EQ(Write("S", name.c_str(), "v"), 0u);
  // Three per block: the first and the second block are emptied completely.
  for (size_t i = 0; i < 6; ++i) {
    ASSERT_TRUE(BinFindSection(file_, &cursor_, "S", nullptr));
    ASSERT_EQ(BinDeleteEntry(file_, &cursor_, names[i].c_str()), 0u) << i;
  }
  const std::string bytes = Bytes();
  EXPECT_EQ(U32At(bytes, 604), 16u);
  EXPECT_EQ(U32At(bytes, 616), 0u);
  Open();
  EXPECT_EQ(Entries("S"), (std::vector<std::string>{names[6], names[7]}));
  // A new entry still goes to the end of the last block.
  ASSERT_EQ(Write("S", "new", "n"), 0u);
  EXPECT_EQ(Entries("S"), (std::vector<std::string>{names[6], names[7], "new"}));
  EXPECT_EQ(Value("S", "new"), Text("n"));
}

TEST_F(BinaryFile, WalkPassesOverAnEmptySectionBlock) {
  Create();
  std::vector<std::string> names;
  for (char c = 'A'; c <= 'F'; ++c)
    names.push_back(std::string(100, c));
  for (const std::string& name : names)
    ASSERT_EQ(Write(name.c_str(), "e", "v"), 0u);
  for (size_t i = 0; i < 4; ++i)
    ASSERT_EQ(BinDeleteSection(file_, &cursor_, names[i].c_str()), 0u) << i;
  EXPECT_EQ(U32At(Bytes(), 76), 0u);
  Open();
  EXPECT_EQ(Sections(), (std::vector<std::string>{names[4], names[5]}));
  EXPECT_EQ(Value(names[5].c_str(), "e"), Text("v"));
}

TEST_F(BinaryFile, DeletingAnEntryKeepsTheSectionAndTheOtherEntries) {
  Create();
  ASSERT_EQ(Write("S", "first", "1"), 0u);
  ASSERT_EQ(Write("S", "middle", "2"), 0u);
  ASSERT_EQ(Write("S", "last", "3"), 0u);
  ASSERT_EQ(Write("T", "t", "4"), 0u);
  ASSERT_TRUE(BinFindSection(file_, &cursor_, "S", nullptr));
  ASSERT_EQ(BinDeleteEntry(file_, &cursor_, "middle"), 0u);
  // The following record moved down over it; the freed bytes are zero.
  const std::string bytes = Bytes();
  EXPECT_EQ(U32At(bytes, 604), 16u + 21u + 20u);
  EXPECT_EQ(U32At(bytes, 616), 2u);
  EXPECT_EQ(bytes.substr(620 + 21 + 12, 5), std::string("last\0", 5));
  EXPECT_EQ(bytes.substr(604 + 57, 288 - 57), std::string(288 - 57, '\0'));

  Open();
  EXPECT_EQ(Entries("S"), (std::vector<std::string>{"first", "last"}));
  EXPECT_EQ(Value("S", "last"), Text("3"));
  EXPECT_EQ(Sections(), (std::vector<std::string>{"S", "T"}));
  ASSERT_TRUE(BinFindSection(file_, &cursor_, "S", nullptr));
  EXPECT_EQ(BinDeleteEntry(file_, &cursor_, "middle"), kErrBinEntryNotFound);
}

TEST_F(BinaryFile, DeletingASectionRemovesItWithItsEntries) {
  Create();
  ASSERT_EQ(Write("S", "a", "1"), 0u);
  ASSERT_EQ(Write("S", "b", "2"), 0u);
  ASSERT_EQ(Write("T", "a", "3"), 0u);
  ASSERT_EQ(Write("U", "a", "4"), 0u);
  const size_t size = Bytes().size();
  ASSERT_EQ(BinDeleteSection(file_, &cursor_, "T"), 0u);
  EXPECT_EQ(Bytes().size(), size);  // nothing is reclaimed
  Open();
  EXPECT_EQ(Sections(), (std::vector<std::string>{"S", "U"}));
  EXPECT_EQ(Value("T", "a"), "<section>");
  EXPECT_EQ(Value("U", "a"), Text("4"));
  EXPECT_EQ(Entries("S"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(BinDeleteSection(file_, &cursor_, "T"), kErrBinSectionNotFound);
  // Deleting the last section leaves an empty block that takes the next one.
  ASSERT_EQ(BinDeleteSection(file_, &cursor_, "U"), 0u);
  ASSERT_EQ(BinDeleteSection(file_, &cursor_, "S"), 0u);
  EXPECT_TRUE(Sections().empty());
  ASSERT_EQ(Write("V", "a", "5"), 0u);
  EXPECT_EQ(U32At(Bytes(), 76), 1u);
  EXPECT_EQ(Value("V", "a"), Text("5"));
}

TEST_F(BinaryFile, NamesAreComparedWhole) {
  Create();
  ASSERT_EQ(Write("Reader", "Port", "1"), 0u);
  EXPECT_EQ(BinFindSection(file_, &cursor_, "Read", nullptr), 0u);
  EXPECT_EQ(BinFindSection(file_, &cursor_, "Reader1", nullptr), 0u);
  ASSERT_TRUE(BinFindSection(file_, &cursor_, "Reader", nullptr));
  EXPECT_EQ(BinFindEntry(file_, &cursor_, "Por", nullptr), 0u);
  EXPECT_TRUE(BinFindEntry(file_, &cursor_, "Port", nullptr));
}

// --- Values and names --------------------------------------------------------------------------

TEST_F(BinaryFile, ShortBufferGetsTheNeededLength) {
  Create();
  ASSERT_EQ(Write("S", "e", "hello"), 0u);
  BinEntryRecord record;
  ASSERT_TRUE(EntryRecordOf("S", "e", &record));
  char buffer[16] = {};
  uint32_t length = 5;
  EXPECT_EQ(BinReadEntryValue(file_, &record, buffer, &length), kErrBinBufferTooSmall);
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(buffer[0], '\0');
  length = 0;
  EXPECT_EQ(BinReadEntryValue(file_, &record, nullptr, &length), 0u);
  EXPECT_EQ(length, 6u);
  length = 6;
  EXPECT_EQ(BinReadEntryValue(file_, &record, buffer, &length), 0u);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(BinReadEntryValue(file_, &record, buffer, nullptr), kErrBinLength);
  EXPECT_EQ(BinReadEntryValue(file_, nullptr, buffer, &length), kErrBinEntry);
}

TEST_F(BinaryFile, NamesThatNoBlockHoldsAreRefusedBeforeAnythingIsWritten) {
  Create();
  const std::string section512(512, 's');
  const std::string entry256(256, 'e');
  const std::string section513(513, 's');
  const std::string entry257(257, 'e');
  EXPECT_EQ(BinAddSection(file_, &cursor_, section513.c_str(), "e", "v", 2), kErrBinSection);
  EXPECT_EQ(BinAddSection(file_, &cursor_, "s", entry257.c_str(), "v", 2), kErrBinEntry);
  EXPECT_EQ(BinAddSection(file_, &cursor_, nullptr, "e", "v", 2), kErrBinSection);
  EXPECT_EQ(BinAddSection(file_, &cursor_, "s", nullptr, "v", 2), kErrBinEntry);
  EXPECT_EQ(BinAddSection(file_, &cursor_, "s", "e", nullptr, 2), kErrBinValue);
  EXPECT_EQ(Bytes().size(), 64u);

  // The longest names fill an empty block exactly.
  ASSERT_EQ(Write(section512.c_str(), entry256.c_str(), "v"), 0u);
  const std::string bytes = Bytes();
  EXPECT_EQ(U32At(bytes, 64), 540u);
  EXPECT_EQ(U32At(bytes, 604), 288u);
  const size_t size = bytes.size();
  ASSERT_TRUE(BinFindSection(file_, &cursor_, section512.c_str(), nullptr));
  EXPECT_EQ(BinFindEntry(file_, &cursor_, entry257.c_str(), nullptr), 0u);
  EXPECT_EQ(BinAddEntry(file_, &cursor_, entry257.c_str(), "v", 2), kErrBinEntry);
  EXPECT_EQ(Bytes().size(), size);
  Open();
  EXPECT_EQ(Value(section512.c_str(), entry256.c_str()), Text("v"));
  EXPECT_EQ(Sections(), (std::vector<std::string>{section512}));
}

TEST_F(BinaryFile, EmptyValueIsStoredWithLengthZero) {
  Create();
  ASSERT_EQ(BinAddSection(file_, &cursor_, "S", "e", nullptr, 0), 0u);
  ASSERT_EQ(Write("S", "f", "x"), 0u);
  EXPECT_EQ(Value("S", "e"), "");
  EXPECT_EQ(Value("S", "f"), Text("x"));
}

// --- Copy --------------------------------------------------------------------------------------

TEST_F(BinaryFile, CopyDuplicatesTheFileAcrossSeveralPieces) {
  std::string content;
  for (int i = 0; i < 10000; ++i)
    content.push_back(static_cast<char>(i * 7));
  const std::string source = dir_.File("source");
  const std::string destination = dir_.File("destination");
  WriteFile(source, content);
  WriteFile(destination, "old and longer content that must go");
  EXPECT_EQ(BinCopyFile(destination.c_str(), source.c_str()), 0u);
  EXPECT_EQ(ReadFile(destination), content);
  EXPECT_EQ(ReadFile(source), content);
}

TEST_F(BinaryFile, CopyFailsWhenTheDestinationCannotBeOpened) {
  const std::string source = dir_.File("source");
  WriteFile(source, "abc");
  const std::string destination = dir_.File("missing-folder/destination");
  EXPECT_EQ(BinCopyFile(destination.c_str(), source.c_str()), kErrBinOpen);
  EXPECT_EQ(BinCopyFile(nullptr, source.c_str()), kErrBinHandle);
  EXPECT_EQ(ReadFile(source), "abc");
}

// --- Damaged files -----------------------------------------------------------------------------

// The file the damage is done to: sections S1 and S2 in the block at 64; S1's entry block at
// 604 with E1 (value "v1" at 892) and E2; S2's entry block at 898 with F1 (value at 1186).
constexpr uint32_t kSec = 64;      // section block
constexpr uint32_t kSecRec = 80;   // first section record (S1)
constexpr uint32_t kEnt = 604;     // S1's entry block
constexpr uint32_t kEntRec = 620;  // E1's record
constexpr uint32_t kEnt2 = 898;    // S2's entry block

class DamagedFile : public BinaryFile {
 protected:
  std::string BuildValid() {
    Create();
    EXPECT_EQ(Write("S1", "E1", "v1"), 0u);
    EXPECT_EQ(Write("S1", "E2", "v2"), 0u);
    EXPECT_EQ(Write("S2", "F1", "w1"), 0u);
    Close();
    std::string bytes = Bytes();
    EXPECT_EQ(U32At(bytes, kSecRec + 4), kEnt);
    EXPECT_EQ(U32At(bytes, kEntRec + 4), 892u);
    EXPECT_EQ(U32At(bytes, kSecRec + 14 + 4), kEnt2);
    return bytes;
  }
};

struct Damage {
  const char* name;
  std::function<void(std::string*)> apply;
  // Expected after the damage: whether S2 is found, the section walk's status after looking
  // for a missing section, the entry walk's status in S1 after looking for a missing entry, and
  // the result of reading E1's value (when E1 is found).
  uint32_t finds_s2;
  uint32_t section_status;
  uint32_t entry_status;
  uint32_t value_result;
};

void Set(std::string* bytes, uint32_t offset, uint32_t value) {
  PutU32At(bytes, offset, value);
}

const Damage kDamages[] = {
    // Section block head.
    {"section used 0", [](std::string* b) { Set(b, kSec, 0); }, 0, kErrBinInvalidFile, 0, 0},
    {"section used 15", [](std::string* b) { Set(b, kSec, 15); }, 0, kErrBinInvalidFile, 0, 0},
    {"section used past block", [](std::string* b) { Set(b, kSec, 541); }, 0, kErrBinInvalidFile, 0,
     0},
    {"section used below records", [](std::string* b) { Set(b, kSec, 30); }, 0, kErrBinInvalidFile,
     0, 0},
    {"section own offset", [](std::string* b) { Set(b, kSec + 4, 100); }, 0, kErrBinInvalidFile, 0,
     0},
    {"section next loops to itself", [](std::string* b) { Set(b, kSec + 8, kSec); }, 0,
     kErrBinInvalidFile, 0, 0},
    {"section next inside itself", [](std::string* b) { Set(b, kSec + 8, kSec + 100); }, 0,
     kErrBinInvalidFile, 0, 0},
    {"section next past the file", [](std::string* b) { Set(b, kSec + 8, 100000); }, 1,
     kErrBinInvalidFile, 0, 0},
    {"section next past 2 GB", [](std::string* b) { Set(b, kSec + 8, 0x80000000); }, 0,
     kErrBinInvalidFile, 0, 0},
    {"section count too large", [](std::string* b) { Set(b, kSec + 12, 1000); }, 0,
     kErrBinInvalidFile, 0, 0},
    {"section count all ones", [](std::string* b) { Set(b, kSec + 12, 0xFFFFFFFF); }, 0,
     kErrBinInvalidFile, 0, 0},
    {"section count zero", [](std::string* b) { Set(b, kSec + 12, 0); }, 0, kErrBinInvalidFile, 0,
     0},
    // Section records.
    {"section record length 0", [](std::string* b) { Set(b, kSecRec, 0); }, 0, kErrBinInvalidFile,
     0, 0},
    {"section record length 4", [](std::string* b) { Set(b, kSecRec, 4); }, 0, kErrBinInvalidFile,
     0, 0},
    {"section record past block", [](std::string* b) { Set(b, kSecRec, 600); }, 0,
     kErrBinInvalidFile, 0, 0},
    {"section record past bytes in use", [](std::string* b) { Set(b, kSecRec, 40); }, 0,
     kErrBinInvalidFile, 0, 0},
    {"section name without terminator",
     [](std::string* b) { b->replace(kSecRec + 8, 6, "ABCDEF"); }, 0, kErrBinInvalidFile, 0, 0},
    {"entry block offset 0", [](std::string* b) { Set(b, kSecRec + 4, 0); }, 1, 0,
     kErrBinInvalidFile, 0},
    {"entry block offset in header", [](std::string* b) { Set(b, kSecRec + 4, 10); }, 1, 0,
     kErrBinInvalidFile, 0},
    {"entry block offset past the file", [](std::string* b) { Set(b, kSecRec + 4, 50000); }, 1, 0,
     kErrBinInvalidFile, 0},
    {"entry block offset all ones", [](std::string* b) { Set(b, kSecRec + 4, 0xFFFFFFFF); }, 1, 0,
     kErrBinInvalidFile, 0},
    {"entry block offset at a section block", [](std::string* b) { Set(b, kSecRec + 4, kSec); }, 1,
     0, kErrBinInvalidFile, 0},
    // Entry block head and records.
    {"entry used 0", [](std::string* b) { Set(b, kEnt, 0); }, 1, 0, kErrBinInvalidFile, 0},
    {"entry used past block", [](std::string* b) { Set(b, kEnt, 289); }, 1, 0, kErrBinInvalidFile,
     0},
    {"entry own offset", [](std::string* b) { Set(b, kEnt + 4, kEnt2); }, 1, 0, kErrBinInvalidFile,
     0},
    {"entry next loops to itself", [](std::string* b) { Set(b, kEnt + 8, kEnt); }, 1, 0,
     kErrBinInvalidFile, 0},
    {"entry next back to an earlier block", [](std::string* b) { Set(b, kEnt + 8, kSec); }, 1, 0,
     kErrBinInvalidFile, 0},
    {"entry next to the other section's block", [](std::string* b) { Set(b, kEnt + 8, kEnt2); }, 1,
     0, 0, 0},
    {"entry count too large", [](std::string* b) { Set(b, kEnt + 12, 300); }, 1, 0,
     kErrBinInvalidFile, 0},
    {"entry record length 0", [](std::string* b) { Set(b, kEntRec, 0); }, 1, 0, kErrBinInvalidFile,
     0},
    {"entry record past block", [](std::string* b) { Set(b, kEntRec, 300); }, 1, 0,
     kErrBinInvalidFile, 0},
    {"entry name without terminator", [](std::string* b) { b->replace(kEntRec + 12, 6, "ABCDEF"); },
     1, 0, kErrBinInvalidFile, 0},
    // Values.
    {"value offset past the file", [](std::string* b) { Set(b, kEntRec + 4, 1000000); }, 1, 0, 0,
     kErrBinInvalidFile},
    {"value offset past 2 GB", [](std::string* b) { Set(b, kEntRec + 4, 0x90000000); }, 1, 0, 0,
     kErrBinInvalidFile},
    {"value length huge", [](std::string* b) { Set(b, kEntRec + 8, 0xFFFFFFF0); }, 1, 0, 0,
     kErrBinBufferTooSmall},
    {"value runs past the file", [](std::string* b) { Set(b, kEntRec + 8, 500); }, 1, 0, 0,
     kErrBinInvalidFile},
    // A file that ends inside S2's entry block: the short block is taken as it is.
    {"file ends inside a block", [](std::string* b) { b->resize(kEnt2 + 100); }, 1, 0, 0, 0},
};

TEST_F(DamagedFile, EachDamagedFieldIsAnsweredWithoutHangOrStrayAccess) {
  const std::string valid = BuildValid();
  for (const Damage& damage : kDamages) {
    SCOPED_TRACE(damage.name);
    std::string bytes = valid;
    damage.apply(&bytes);
    WriteFile(path_, bytes);
    Open();
    EXPECT_EQ(BinFindSection(file_, &cursor_, "S2", nullptr), damage.finds_s2);
    EXPECT_EQ(BinFindSection(file_, &cursor_, "missing", nullptr), 0u);
    EXPECT_EQ(cursor_.section_status, damage.section_status);
    if (damage.section_status != 0) {
      // Nothing is added to a chain that could not be walked to its end.
      EXPECT_EQ(BinAddSection(file_, &cursor_, "new", "e", "v", 2), damage.section_status);
      EXPECT_EQ(Bytes(), bytes);
    }
    if (BinFindSection(file_, &cursor_, "S1", nullptr)) {
      EXPECT_EQ(BinFindEntry(file_, &cursor_, "missing", nullptr), 0u);
      EXPECT_EQ(cursor_.entry_status, damage.entry_status);
      if (damage.entry_status != 0) {
        EXPECT_EQ(BinAddEntry(file_, &cursor_, "new", "v", 2), damage.entry_status);
        EXPECT_EQ(Bytes(), bytes);
      }
      BinEntryRecord record;
      if (BinFindSection(file_, &cursor_, "S1", nullptr) &&
          BinFindEntry(file_, &cursor_, "E1", &record)) {
        char buffer[1024];
        uint32_t length = sizeof buffer;
        EXPECT_EQ(BinReadEntryValue(file_, &record, buffer, &length), damage.value_result);
        if (damage.value_result == kErrBinInvalidFile) {
          // Overwriting in place where the file holds no value is refused too.
          EXPECT_EQ(BinUpdateEntry(file_, &cursor_, "x", 2), kErrBinInvalidFile);
        }
      }
    }
  }
}

TEST_F(DamagedFile, EveryByteChangedInTurnIsAnsweredWithoutStrayAccess) {
  const std::string valid = BuildValid();
  // Each byte of the header and the blocks set to values that make lengths, counts and offsets
  // small, large or pointing backwards; the sanitizers watch every access.
  const uint8_t values[] = {0x00, 0x01, 0x40, 0xFF};
  uint32_t walks = 0;
  for (uint32_t at = 0; at < kEnt2 + kBinEntryBlockSize; ++at) {
    for (uint8_t value : values) {
      if (static_cast<uint8_t>(valid[at]) == value) continue;
      std::string bytes = valid;
      bytes[at] = static_cast<char>(value);
      WriteFile(path_, bytes);
      Open();
      Sections();
      Entries("S1");
      Entries("S2");
      Value("S1", "E1");
      if (!BinFindSection(file_, &cursor_, "new", nullptr)) {
        uint32_t status = cursor_.section_status;
        uint32_t result = BinAddSection(file_, &cursor_, "new", "e", "v", 2);
        if (status != 0) {
          ASSERT_EQ(result, status) << at;
        }
      }
      if (BinFindSection(file_, &cursor_, "S1", nullptr) &&
          BinFindEntry(file_, &cursor_, "E1", nullptr)) {
        BinUpdateEntry(file_, &cursor_, "a longer value", 15);
      }
      if (BinFindSection(file_, &cursor_, "S1", nullptr)) {
        BinDeleteEntry(file_, &cursor_, "E2");
      }
      BinDeleteSection(file_, &cursor_, "S2");
      ++walks;
    }
  }
  EXPECT_GT(walks, 3000u);
}

TEST_F(DamagedFile, DamagedBlocksAreRefusedWhenReadDirectly) {
  std::string bytes = BuildValid();
  Set(&bytes, kSec + 12, 1000);
  WriteFile(path_, bytes);
  Open();
  BinSectionBlock section;
  EXPECT_EQ(BinReadSectionBlock(file_, kSec, &section), kErrBinInvalidFile);
  BinEntryBlock entry;
  ASSERT_EQ(BinReadEntryBlock(file_, kEnt, &entry), 0u);
  EXPECT_EQ(entry.head.own_offset, kEnt);
  EXPECT_EQ(entry.head.count, 2u);
  BinEntryBlock other;
  EXPECT_EQ(BinReadEntryBlock(file_, 100000, &other), kErrBinEndOfFile);
  EXPECT_EQ(BinReadEntryBlock(file_, kSec, &other), kErrBinInvalidFile);
  // A block written back comes out byte for byte as it was read; a block claiming a place
  // inside the header, or more bytes in use than it has, is not written at all.
  const std::string before = Bytes();
  EXPECT_EQ(BinWriteEntryBlock(file_, &entry), 0u);
  EXPECT_EQ(Bytes(), before);
  EXPECT_EQ(BinWriteEntryBlock(file_, &other), kErrBinWrite);
  entry.head.used = 289;
  EXPECT_EQ(BinWriteEntryBlock(file_, &entry), kErrBinWrite);
  EXPECT_EQ(Bytes(), before);
}

}  // namespace
