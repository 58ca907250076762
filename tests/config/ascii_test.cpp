// SPDX-License-Identifier: BSD-3-Clause
// ASCII configuration files: lines kept trimmed and in place, lookups that respect case, the
// insertion points of new entries and sections, the sorted index and its wildcard search, long
// lines, the file-info cache and the write-back that keeps the previous content on failure.
#include "config/ascii.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/result.h"
#include "tests/common/test_util.h"
#include "tests/config/ascii_fixture.h"

namespace {

using asciitest::AsciiTest;
using asciitest::NameOf;
using asciitest::OpenAscii;

// ---- reading and writing back lines ----

using AsciiLinesTest = AsciiTest;

TEST_F(AsciiLinesTest, EntryIsTrimmedAroundNameEqualsAndValue) {
  std::string name;
  std::string value;
  const std::string out =
      RoundTrip(" \t[sec]  \r\n \tkey one \t= \tsome value\t  \r\n", [&](OpenAscii& ascii) {
        value = ascii.Value("sec", "key one");
        ascii.file()->modified = 1;
      });
  EXPECT_EQ(value, "some value");
  EXPECT_EQ(out, "[sec]\r\nkey one=some value\r\n");
}

TEST_F(AsciiLinesTest, CommentsBlankAndOtherLinesStayInPlace) {
  const std::string out =
      RoundTrip("; head\n# hash\n\n[a]\n  just text  \nk=v\n;tail\n\n[b]\nx=1\n",
                [](OpenAscii& ascii) { ascii.Set("a", "k", "new"); });
  EXPECT_EQ(out,
            "; head\r\n# hash\r\n\r\n[a]\r\njust text\r\nk=new\r\n;tail\r\n\r\n[b]\r\nx=1\r\n");
}

TEST_F(AsciiLinesTest, HeaderCommentIsLastCommentBeforeFirstSection) {
  const std::string out = RoundTrip("; one\n; two\nother\n[a]\n", [](OpenAscii& ascii) {
    ASSERT_NE(ascii.file()->header_comment, nullptr);
    EXPECT_STREQ(ascii.file()->header_comment->text, "; two");
    ASSERT_EQ(AsciiAddComment(ascii.file(), "three", 5), kResultOk);
    ascii.file()->modified = 1;
  });
  EXPECT_EQ(out, "; one\r\n; two\r\n;three\r\nother\r\n[a]\r\n");
}

TEST_F(AsciiLinesTest, OnlyClosedHeadersMakeSectionsAndOwnEntries) {
  const std::string path = dir_.File("b.ini");
  testutil::WriteFile(path, "loose=1\n[a]\nx=1\n[broken\ny=2\n");
  OpenAscii ascii(path);
  EXPECT_EQ(ascii.Section("broken"), nullptr);
  EXPECT_EQ(ascii.Value("a", "y"), "2");
  EXPECT_EQ(ascii.Value("a", "loose"), "<none>");
}

TEST_F(AsciiLinesTest, LookupsRespectLetterCase) {
  const std::string path = dir_.File("d.ini");
  testutil::WriteFile(path, "[Sec]\nKey=1\n[last]\n");
  OpenAscii ascii(path);
  AsciiSection* section = nullptr;
  AsciiSection* following = nullptr;
  EXPECT_EQ(AsciiFindSection(ascii.file(), "sec", &section, &following), 0x81200003u);
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(NameOf(section), "last");
  EXPECT_EQ(following, nullptr);
  EXPECT_EQ(ascii.Value("Sec", "key"), "<none>");
  EXPECT_EQ(ascii.Value("Sec", "Key"), "1");
}

// ---- where new lines go ----

using AsciiInsertTest = AsciiTest;

TEST_F(AsciiInsertTest, NewEntryGoesAfterLastEntryBeforeTrailingComments) {
  const std::string out = RoundTrip("[a]\nx=1\n; about b\n\n[b]\ny=2\n",
                                    [](OpenAscii& ascii) { ascii.Set("a", "z", "3"); });
  EXPECT_EQ(out, "[a]\r\nx=1\r\nz=3\r\n; about b\r\n\r\n[b]\r\ny=2\r\n");
}

TEST_F(AsciiInsertTest, EntryAfterDeletedLastEntryFollowsItsPredecessor) {
  const std::string out = RoundTrip("[a]\nx=1\n;note\ny=2\n[b]\n", [](OpenAscii& ascii) {
    AsciiSection* section = ascii.Section("a");
    AsciiLine* line = nullptr;
    ASSERT_EQ(AsciiFindEntry(ascii.file(), "y", section, &line), kResultOk);
    ASSERT_EQ(AsciiDelEntry(ascii.file(), line, section), kResultOk);
    ascii.Set("a", "z", "3");
  });
  EXPECT_EQ(out, "[a]\r\nx=1\r\n;note\r\nz=3\r\n[b]\r\n");
}

TEST_F(AsciiInsertTest, NewSectionIsAppendedAfterLastLine) {
  const std::string out = RoundTrip("[a]\nx=1\n;end\n", [](OpenAscii& ascii) {
    ascii.Set("new", "e", "1");
    ascii.Set("new", "f", "2");
  });
  EXPECT_EQ(out, "[a]\r\nx=1\r\n;end\r\n[new]\r\ne=1\r\nf=2\r\n");
}

TEST_F(AsciiInsertTest, SectionInEmptyFileBecomesFirstLine) {
  const std::string out = RoundTrip("", [](OpenAscii& ascii) { ascii.Set("s", "k", "v"); });
  EXPECT_EQ(out, "[s]\r\nk=v\r\n");
}

TEST_F(AsciiInsertTest, DeletingSectionRemovesItsLinesUpToNextHeader) {
  const std::string out = RoundTrip("[a]\nx=1\n;c\n[b]\ny=2\n[c]\n", [](OpenAscii& ascii) {
    ASSERT_EQ(AsciiDelSection(ascii.file(), ascii.Section("a")), kResultOk);
    ASSERT_EQ(AsciiDelSection(ascii.file(), ascii.Section("c")), kResultOk);
    ascii.Set("b", "z", "3");
    ascii.Set("d", "w", "4");
  });
  EXPECT_EQ(out, "[b]\r\ny=2\r\nz=3\r\n[d]\r\nw=4\r\n");
}

// ---- the sorted index ----

using AsciiSortTest = AsciiTest;

struct OrderCase {
  const char* a;
  const char* b;
  int order;
};

constexpr OrderCase kOrderCases[] = {
    {"abc", "abc", 0}, {"ab", "abc", -1}, {"abd", "abc", 1},
    {"B", "a", -1},    {"\xe4", "z", 1},  {"", "a", -1},
};

TEST_F(AsciiSortTest, OrderComparesBytesThenLength) {
  for (const OrderCase& c : kOrderCases) {
    const int got = AsciiCompareNames(c.a, static_cast<uint32_t>(std::strlen(c.a)), c.b,
                                      static_cast<uint32_t>(std::strlen(c.b)));
    EXPECT_EQ((got > 0) - (got < 0), c.order) << c.a << " vs " << c.b;
  }
}

TEST_F(AsciiSortTest, FirstOfTwoSameNamedEntriesIsFoundAndChanged) {
  const std::string out = RoundTrip("[a]\nk=1\nm=0\nk=2\n", [](OpenAscii& ascii) {
    AsciiLine* line = nullptr;
    uint32_t position = 0;
    ASSERT_EQ(AsciiFindSortedEntry(ascii.Section("a"), "k", &line, &position), kResultOk);
    EXPECT_STREQ(AsciiEntryValue(line), "1");
    EXPECT_EQ(ascii.Section("a")->index_count, 2u);
    ascii.Set("a", "k", "9", true);
  });
  EXPECT_EQ(out, "[a]\r\nk=9\r\nm=0\r\nk=2\r\n");
}

TEST_F(AsciiSortTest, MissingNameGivesInsertionPosition) {
  const std::string path = dir_.File("s.ini");
  testutil::WriteFile(path, "[a]\n[b]\nd=1\nb=2\nf=3\n");
  OpenAscii ascii(path);
  AsciiLine* line = nullptr;
  uint32_t position = 7;
  EXPECT_EQ(AsciiFindSortedEntry(ascii.Section("a"), "x", &line, &position), 0x81200004u);
  EXPECT_EQ(position, 0u);
  EXPECT_EQ(AsciiFindSortedEntry(ascii.Section("b"), "e", &line, &position), 0x81200004u);
  EXPECT_EQ(position, 2u);
  EXPECT_EQ(line, nullptr);
}

TEST_F(AsciiSortTest, IndexStaysSortedAndGrowsByHundred) {
  const std::string path = dir_.File("g.ini");
  testutil::WriteFile(path, "[a]\n");
  OpenAscii ascii(path);
  for (int i = 0; i < 250; ++i) {
    const std::string name = "n" + std::to_string((i * 37) % 250);
    ascii.Set("a", name.c_str(), "v", true);
  }
  AsciiSection* section = ascii.Section("a");
  ASSERT_EQ(section->index_count, 250u);
  EXPECT_EQ(section->index_capacity, 300u);
  for (uint32_t i = 1; i < section->index_count; ++i) {
    uint32_t la = 0;
    uint32_t lb = 0;
    const char* a = AsciiEntryName(section->index[i - 1], &la);
    const char* b = AsciiEntryName(section->index[i], &lb);
    ASSERT_LT(AsciiCompareNames(a, la, b, lb), 0) << i;
  }
  AsciiLine* line = nullptr;
  uint32_t position = 0;
  ASSERT_EQ(AsciiFindSortedEntry(section, "n123", &line, &position), kResultOk);
  EXPECT_EQ(NameOf(line), "n123");
  ASSERT_EQ(AsciiFindSortedEntry(section, "n123", &line, &position), kResultOk);
  ASSERT_EQ(AsciiDelSortList(section, position), kResultOk);
  EXPECT_EQ(AsciiFindSortedEntry(section, "n123", &line, &position), 0x81200004u);
  EXPECT_EQ(section->index_count, 249u);
}

struct WildcardCase {
  const char* name;
  uint32_t mode;
  const char* expected;  // entry name found, or null
};

constexpr WildcardCase kWildcardCases[] = {
    {"*", kAsciiWildcardFirst, "ab"},
    {"*", kAsciiWildcardNext, "abc"},
    {"*", kAsciiWildcardNext, "b"},
    {"*", kAsciiWildcardNext, "bz"},
    {"*", kAsciiWildcardNext, nullptr},
    {"b*", 0, "b"},
    {"abc*", 0, "abc"},
    {"*", kAsciiWildcardNext, "b"},
    {"ab*", 0, "ab"},
    {"x*", 0, nullptr},
    {"bz", 0, "bz"},
    {"a", 0, nullptr},
};

TEST_F(AsciiSortTest, WildcardSearchWalksTheIndex) {
  const std::string path = dir_.File("w.ini");
  testutil::WriteFile(path, "[a]\nbz=4\nabc=2\nb=3\nab=1\n");
  OpenAscii ascii(path);
  AsciiSection* section = ascii.Section("a");
  for (const WildcardCase& c : kWildcardCases) {
    AsciiLine* line = nullptr;
    const uint32_t result = AsciiWildcardSearch(section, c.name, c.mode, &line);
    if (!c.expected) {
      EXPECT_EQ(result, 0x81200004u) << c.name;
      continue;
    }
    ASSERT_EQ(result, kResultOk) << c.name;
    EXPECT_EQ(NameOf(line), c.expected) << c.name;
  }
}

// ---- long lines ----

using AsciiLongLineTest = AsciiTest;

TEST_F(AsciiLongLineTest, LinesLongerThanTheBufferAreKeptWhole) {
  const std::string exact(kAsciiLineBufferSize - 1, 'e');
  const std::string over(kAsciiLineBufferSize, 'o');
  // Longer than the pieces the write-back hands to the file, so that it spans three of them.
  const std::string huge = "big=" + std::string(40000, 'h');
  std::string value;
  const std::string out =
      RoundTrip("[a]\r\n" + exact + "\r\n" + over + "\n" + huge + "\r\nafter=1\r\n;end",
                [&](OpenAscii& ascii) {
                  value = ascii.Value("a", "big");
                  ascii.Set("a", "after", "2");
                });
  EXPECT_EQ(value, std::string(40000, 'h'));
  EXPECT_EQ(out, "[a]\r\n" + exact + "\r\n" + over + "\r\n" + huge + "\r\nafter=2\r\n;end\r\n");
}

TEST_F(AsciiLongLineTest, BytesBehindEndOfFileMarkBlockWriteBack) {
  const std::string marked = "[a]\nx=1\n\x1A";
  EXPECT_EQ(RoundTrip(marked, [](OpenAscii& ascii) { ascii.Set("a", "x", "2"); }),
            "[a]\r\nx=2\r\n");
  const std::string path = dir_.File("m.ini");
  const std::string hidden = "[a]\nx=1\n\x1Ahidden=1\n";
  testutil::WriteFile(path, hidden);
  OpenAscii ascii(path);
  ascii.Set("a", "x", "2");
  EXPECT_EQ(WriteDownBuffer(ascii.file()), 0x81300008u);
  EXPECT_EQ(testutil::ReadFile(path), hidden);
}

// ---- write-back ----

using AsciiWriteBackTest = AsciiTest;

TEST_F(AsciiWriteBackTest, ReadOnlyFileIsNotWritten) {
  const std::string path = dir_.File("r.ini");
  testutil::WriteFile(path, "[a]\nx=1\n");
  OpenAscii ascii(path, kAsciiAccessRead);
  ascii.Set("a", "x", "2");
  EXPECT_EQ(WriteDownBuffer(ascii.file()), 0x81300008u);
  EXPECT_EQ(testutil::ReadFile(path), "[a]\nx=1\n");
}

TEST_F(AsciiWriteBackTest, BackupNameLiesInTemporaryFolderAndIsRemoved) {
  char name[512];
  ASSERT_EQ(CreateFileName(dir_.File("x.ini").c_str(), name, sizeof name), kResultOk);
  // The folder and the system's separator ("\\" on Windows), then a name of its own.
  const std::string folder = std::string(name).substr(0, dir_.path().size() + 1);
  EXPECT_TRUE(folder == dir_.path() + "/" || folder == dir_.path() + "\\") << name;
  const std::string out = RoundTrip("[a]\n", [](OpenAscii& ascii) { ascii.Set("a", "k", "v"); });
  EXPECT_EQ(out, "[a]\r\nk=v\r\n");
  // Only the configuration file is left in the folder.
  EXPECT_EQ(testutil::CountFiles(dir_.path()), 1);
}

// ---- the file-info cache ----

using AsciiFileInfoTest = AsciiTest;

TEST_F(AsciiFileInfoTest, OneWriterOrManyReaders) {
  const std::string path = dir_.File("c.ini");
  testutil::WriteFile(path, "[a]\n");
  AsciiFileInfo* first = nullptr;
  AsciiFileInfo* second = nullptr;
  ASSERT_EQ(AsciiCheckFileInfo(path.c_str(), &first, kAsciiAccessRead), kResultOk);
  EXPECT_EQ(first->open_count, 1u);
  EXPECT_EQ(first->parsed, 0u);
  ASSERT_EQ(AsciiCheckFileInfo(path.c_str(), &second, kAsciiAccessRead), kResultOk);
  EXPECT_EQ(second, first);
  EXPECT_EQ(second->open_count, 2u);
  EXPECT_EQ(AsciiCheckFileInfo(path.c_str(), &second, kAsciiAccessReadWrite), 0x81F00009u);
  EXPECT_EQ(AsciiCheckFileInfo(dir_.File("missing.ini").c_str(), &second, kAsciiAccessRead),
            0x81300007u);
}

TEST_F(AsciiFileInfoTest, ParsedListsAreSharedUntilTheFileChanges) {
  const std::string path = dir_.File("c.ini");
  testutil::WriteFile(path, "[a]\nx=1\n");
  ASSERT_EQ(sem::Init(kAsciiFileInfoSemName, 0, 1, AsciiFileInfoSem()), kResultOk);
  AsciiFileInfo* record = nullptr;
  {
    ASSERT_EQ(AsciiCheckFileInfo(path.c_str(), &record, kAsciiAccessReadWrite), kResultOk);
    AsciiFile file{};
    AsciiInitFile(&file, path.c_str(), kAsciiAccessReadWrite);
    ASSERT_EQ(fio::Open(path.c_str(), &file.file, fio::kModeReadWrite, fio::kShareRead), 0u);
    ASSERT_EQ(AsciiReadFile(&file), kResultOk);
    AsciiStoreCachedLists(record, &file);
    fio::Close(file.file);
    ASSERT_EQ(AsciiCheckFileInfo(&file), kResultOk);
  }
  EXPECT_EQ(record->open_count, 0u);
  AsciiFileInfo* again = nullptr;
  ASSERT_EQ(AsciiCheckFileInfo(path.c_str(), &again, kAsciiAccessRead), kResultOk);
  EXPECT_EQ(again, record);
  EXPECT_EQ(again->parsed, 1u);
  AsciiFile reader{};
  AsciiTakeCachedLists(&reader, again);
  AsciiSection* section = nullptr;
  AsciiSection* following = nullptr;
  EXPECT_EQ(AsciiFindSection(&reader, "a", &section, &following), kResultOk);
  // A file changed on disk is parsed again by the next opener.
  testutil::WriteFile(path, "[a]\nx=22\n");
  ASSERT_EQ(AsciiCheckFileInfo(path.c_str(), &again, kAsciiAccessRead), kResultOk);
  EXPECT_EQ(again->parsed, 0u);
  EXPECT_EQ(again->open_count, 2u);
  // The first reader's lists stay valid until it is closed.
  EXPECT_EQ(AsciiFindSection(&reader, "a", &section, &following), kResultOk);
  sem::Destroy(AsciiFileInfoSem());
}

}  // namespace
