// SPDX-License-Identifier: BSD-3-Clause
// The configuration-file front end: opening ASCII and binary files (open results, types,
// failures and their log records), values and name lists with their lengths, changes and what
// reaches the disk, read-only handles, the profile mode's answers, and the file-info cache.
#include "config/frontend.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/result.h"
#include "tests/common/test_util.h"

namespace {

using testutil::FileExists;
using testutil::ReadFile;
using testutil::ScopedEnv;
using testutil::TempDir;
using testutil::WriteFile;

constexpr char kReaders[] =
    "[CardReader]\r\n"
    "Birch=Installed\r\n"
    "Cedar=Active\r\n"
    "[Birch]\r\n"
    "Port=1\r\n"
    "Empty=\r\n"
    "[Cedar]\r\n"
    "Port=50\r\n";

struct Switches {
  uint32_t sorted_lists;
  uint32_t profile_mode;
  uint32_t file_info_cache;
};

class FrontendTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (handle_) {
      EXPECT_EQ(cfg::CloseFile(handle_), kResultOk);
    }
    AsciiResetFileInfoCache();
  }

  void Start(Switches switches) {
    ASSERT_EQ(cfg::Init(switches.sorted_lists, switches.profile_mode, switches.file_info_cache),
              kResultOk);
  }
  uint32_t Open(const std::string& path, uint32_t type) {
    type_ = type;
    return cfg::OpenFile(path.c_str(), &type_, &open_result_, &handle_);
  }
  // Opens the sample as a file of `type`, expecting success.
  void OpenSample(uint32_t type) {
    WriteFile(path_, kReaders);
    ASSERT_EQ(Open(path_, type), kResultOk);
  }
  uint32_t Query(const char* section, const char* entry, uint32_t size) {
    buffer_.assign(size + 1, '#');
    length_ = size;
    return cfg::QueryData(handle_, section, entry, &buffer_[0], &length_);
  }
  uint32_t Write(const char* section, const char* entry, const char* value) {
    const uint32_t length = value ? static_cast<uint32_t>(std::string(value).size() + 1) : 0;
    return cfg::WriteData(handle_, section, entry, value, length);
  }
  uint32_t Close() {
    const uint32_t result = cfg::CloseFile(handle_);
    if (result == kResultOk) handle_ = nullptr;
    return result;
  }
  std::string Value() { return std::string(buffer_.c_str()); }
  // The log's message texts, each record's 58-character pieces joined again.
  std::string Log() {
    const std::string log = ReadFile(log_);
    std::string messages;
    for (size_t at = log.find('|'); at != std::string::npos; at = log.find('|', at + 60)) {
      messages += log.substr(at + 1, 58);
    }
    return messages;
  }

  TempDir dir_;
  std::string path_ = dir_.File("vezidide.ini");
  std::string log_ = dir_.File("err.log");
  ScopedEnv env_{"ERRLFILE", log_.c_str()};
  cfg::CfgHandle* handle_ = nullptr;
  uint32_t type_ = 0;
  uint32_t open_result_ = 0;
  std::string buffer_;
  uint32_t length_ = 0;
};

constexpr Switches kOwnLists{0, 0, 0};
constexpr Switches kSorted{1, 0, 0};
constexpr Switches kCached{0, 0, 1};
constexpr Switches kProfile{0, 1, 0};

// --- Arguments -------------------------------------------------------------------------------

TEST_F(FrontendTest, MissingArgumentsAreParameterErrors) {
  Start(kOwnLists);
  uint32_t type = cfg::kTypeAscii;
  uint32_t result = 0;
  cfg::CfgHandle* handle = nullptr;
  const std::string path = dir_.File("x.ini");
  EXPECT_EQ(cfg::OpenFile(nullptr, &type, &result, &handle), 0x81000000u);
  EXPECT_EQ(cfg::OpenFile(path.c_str(), nullptr, &result, &handle), 0x81000001u);
  type = 0x12345678;
  EXPECT_EQ(cfg::OpenFile(path.c_str(), &type, &result, &handle), 0x81000001u);
  type = cfg::kTypeAscii;
  EXPECT_EQ(cfg::OpenFile(path.c_str(), &type, nullptr, &handle), 0x81000002u);
  EXPECT_EQ(cfg::OpenFile(path.c_str(), &type, &result, nullptr), 0x81000003u);
  EXPECT_FALSE(FileExists(path));

  char buffer[8];
  uint32_t length = sizeof buffer;
  EXPECT_EQ(cfg::QueryData(nullptr, "S", "E", buffer, &length), 0x81000000u);
  OpenSample(cfg::kTypeAscii);
  EXPECT_EQ(cfg::QueryData(handle_, "S", "E", nullptr, &length), 0x81000003u);
  EXPECT_EQ(cfg::WriteData(nullptr, "S", "E", "v", 2), 0x81000000u);
  EXPECT_EQ(cfg::WriteData(handle_, nullptr, "E", "v", 2), 0x81000001u);
  EXPECT_EQ(cfg::CloseFile(nullptr), 0x81000000u);
  EXPECT_NE(Log().find("Error in parameter 1 "), std::string::npos);
}

// --- Opening ASCII files -----------------------------------------------------------------------

struct AsciiOpenCase {
  Switches switches;
  uint32_t type;
  bool exists;
  uint32_t result;
  uint32_t open_result;
};

TEST_F(FrontendTest, AsciiOpenResults) {
  const AsciiOpenCase cases[] = {
      {kOwnLists, cfg::kTypeAsciiReadOnly, false, 0x81F00009, 0},
      {kOwnLists, cfg::kTypeAscii, false, kResultOk, cfg::kOpenReadWrite},  // created
      {kOwnLists, cfg::kTypeAscii, true, kResultOk, cfg::kOpenReadWrite},
      {kOwnLists, cfg::kTypeAsciiReadOnly, true, kResultOk, cfg::kOpenReadOnly},
      {kProfile, cfg::kTypeAsciiReadOnly, false, 0x81F00009, 0},
      {kProfile, cfg::kTypeAscii, false, kResultOk, cfg::kOpenReadWrite},
      {kProfile, cfg::kTypeAsciiReadOnly, true, kResultOk, cfg::kOpenReadOnly},
  };
  for (const AsciiOpenCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.type << " exists " << c.exists << " profile "
                                      << c.switches.profile_mode);
    TempDir dir;
    const std::string path = dir.File("a.ini");
    if (c.exists) WriteFile(path, kReaders);
    Start(c.switches);
    open_result_ = 0;
    EXPECT_EQ(Open(path, c.type), c.result);
    EXPECT_EQ(open_result_, c.open_result);
    EXPECT_EQ(type_, c.type);
    EXPECT_EQ(FileExists(path), c.exists || c.result == kResultOk);
    if (c.result == kResultOk) {
      ASSERT_NE(handle_, nullptr);
      EXPECT_EQ(handle_->type, cfg::kTypeAscii);
      EXPECT_EQ(Close(), kResultOk);
      if (c.exists) {
        EXPECT_EQ(ReadFile(path), kReaders);  // nothing changed, nothing written
      }
    } else {
      EXPECT_EQ(handle_, nullptr);
      EXPECT_NE(Log().find("error opening consisting file " + path), std::string::npos);
    }
  }
}

// --- ASCII files with our own lists ----------------------------------------------------------

class FrontendListsTest : public FrontendTest, public ::testing::WithParamInterface<Switches> {};

TEST_P(FrontendListsTest, ValuesAndTheirLengths) {
  Start(GetParam());
  OpenSample(cfg::kTypeAscii);
  EXPECT_EQ(Query("Birch", "Port", 12), kResultOk);
  EXPECT_EQ(Value(), "1");
  EXPECT_EQ(length_, 2u);
  EXPECT_EQ(Query("Cedar", "Port", 2), 0x81300003u);
  EXPECT_EQ(length_, 3u);
  EXPECT_EQ(Query("Cedar", "Port", 3), kResultOk);
  EXPECT_EQ(Value(), "50");
  EXPECT_EQ(Query("Birch", "Empty", 12), kResultOk);
  EXPECT_EQ(length_, 1u);
  EXPECT_EQ(Query("Birch", "Missing", 12), 0x81200004u);
  EXPECT_EQ(Query("birch", "Port", 12), 0x81200003u);  // letter case counts here
  EXPECT_EQ(Query("Nowhere", "Port", 12), 0x81200003u);
}

TEST_P(FrontendListsTest, NameListsCountNamesWithTheirTerminators) {
  Start(GetParam());
  OpenSample(cfg::kTypeAscii);
  EXPECT_EQ(Query("CardReader", nullptr, 512), kResultOk);
  EXPECT_EQ(buffer_.substr(0, 14), std::string("Birch\0Cedar\0\0", 13) + "#");
  EXPECT_EQ(length_, 12u);
  EXPECT_EQ(Query(nullptr, nullptr, 512), kResultOk);
  EXPECT_EQ(buffer_.substr(0, 24), std::string("CardReader\0Birch\0Cedar\0\0", 24));
  EXPECT_EQ(length_, 23u);
  // No room for the list's end, or for a name: too small, with the size needed.
  EXPECT_EQ(Query("CardReader", nullptr, 12), 0x81300003u);
  EXPECT_EQ(length_, 13u);
  EXPECT_EQ(Query("CardReader", nullptr, 8), 0x81300003u);
  EXPECT_EQ(length_, 13u);
  EXPECT_EQ(Query("CardReader", nullptr, 13), kResultOk);
}

TEST_P(FrontendListsTest, ChangesReachTheDiskAtClose) {
  Start(GetParam());
  OpenSample(cfg::kTypeAscii);
  EXPECT_EQ(Write("Birch", "Port", "2"), kResultOk);
  EXPECT_EQ(Write("Birch", "Standard", "CTAPI32"), kResultOk);
  EXPECT_EQ(Write("Fir", "Port", "40"), kResultOk);
  EXPECT_EQ(ReadFile(path_), kReaders);  // in memory until CloseFile
  EXPECT_EQ(Query("Birch", "Standard", 12), kResultOk);
  EXPECT_EQ(Value(), "CTAPI32");
  EXPECT_EQ(Query("Fir", "Port", 12), kResultOk);
  EXPECT_EQ(Value(), "40");
  EXPECT_EQ(Close(), kResultOk) << Log();
  EXPECT_EQ(ReadFile(path_),
            "[CardReader]\r\nBirch=Installed\r\nCedar=Active\r\n[Birch]\r\nPort=2\r\nEmpty=\r\n"
            "Standard=CTAPI32\r\n[Cedar]\r\nPort=50\r\n[Fir]\r\nPort=40\r\n");
}

TEST_P(FrontendListsTest, DeletingASectionTakesAllItsEntriesDeletingAnEntryOnlyThatOne) {
  Start(GetParam());
  OpenSample(cfg::kTypeAscii);
  EXPECT_EQ(Write("CardReader", "Birch", nullptr), kResultOk);
  EXPECT_EQ(Write("Birch", nullptr, nullptr), kResultOk);
  EXPECT_EQ(Query("CardReader", "Birch", 12), 0x81200004u);
  EXPECT_EQ(Query("CardReader", "Cedar", 12), kResultOk);
  EXPECT_EQ(Query("Birch", "Port", 12), 0x81200003u);
  EXPECT_EQ(Write("Birch", nullptr, nullptr), 0x81200003u);
  EXPECT_EQ(Write("Cedar", "Missing", nullptr), 0x81200004u);
  EXPECT_EQ(Close(), kResultOk);
  EXPECT_EQ(ReadFile(path_), "[CardReader]\r\nCedar=Active\r\n[Cedar]\r\nPort=50\r\n");
}

INSTANTIATE_TEST_SUITE_P(Switches, FrontendListsTest,
                         ::testing::Values(kOwnLists, kSorted, kCached),
                         [](const ::testing::TestParamInfo<Switches>& info) {
                           return info.param.sorted_lists      ? std::string("Sorted")
                                  : info.param.file_info_cache ? std::string("Cached")
                                                               : std::string("Plain");
                         });

TEST_F(FrontendTest, WritingThroughAReadOnlyHandleIsRefusedWithThePathInTheLog) {
  for (const Switches& switches : {kOwnLists, kProfile}) {
    SCOPED_TRACE(switches.profile_mode ? "profile mode" : "own lists");
    Start(switches);
    OpenSample(cfg::kTypeAsciiReadOnly);
    EXPECT_EQ(Write("Birch", "Port", "2"), 0x81300008u);
    EXPECT_EQ(Write("Birch", nullptr, nullptr), 0x81300008u);
    EXPECT_NE(Log().find("File " + path_ + " is only open for reading !"), std::string::npos);
    EXPECT_EQ(Close(), kResultOk);
    EXPECT_EQ(ReadFile(path_), kReaders);
  }
}

TEST_F(FrontendTest, CacheSharesReadersAndAdmitsOneWriter) {
  Start(kCached);
  OpenSample(cfg::kTypeAsciiReadOnly);
  cfg::CfgHandle* second = nullptr;
  uint32_t type = cfg::kTypeAsciiReadOnly;
  uint32_t result = 0;
  ASSERT_EQ(cfg::OpenFile(path_.c_str(), &type, &result, &second), kResultOk);
  EXPECT_EQ(second->ascii.first_line, handle_->ascii.first_line);  // the same parsed lists
  type = cfg::kTypeAscii;
  cfg::CfgHandle* writer = nullptr;
  EXPECT_EQ(cfg::OpenFile(path_.c_str(), &type, &result, &writer), 0x81F00009u);
  EXPECT_EQ(writer, nullptr);
  EXPECT_EQ(cfg::CloseFile(second), kResultOk);
  EXPECT_EQ(Close(), kResultOk);
  ASSERT_EQ(Open(path_, cfg::kTypeAscii), kResultOk);
  EXPECT_EQ(Query("Cedar", "Port", 12), kResultOk);
  EXPECT_EQ(Value(), "50");
}

// A refused write-back (a read-only file, data behind an early end mark) is reported once; the
// handle and its lock are released, the file stays as it was, and the next opener, with or
// without the cache, reads what is on disk.
TEST_F(FrontendTest, RefusedWriteBackReleasesTheHandleAndLeavesTheDisk) {
  struct Case {
    const char* name;
    std::string content;
    bool read_only;
    uint32_t result;
  };
  const Case cases[] = {
      {"read-only file", kReaders, true, 0x81F00005},
      {"data behind 0x1A", std::string(kReaders) + "\x1A[Hidden]\r\n", false, 0x81300008},
  };
  for (const Switches& switches : {kOwnLists, kCached}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (switches.file_info_cache ? ", cached" : ""));
      Start(switches);
      WriteFile(path_, c.content);
      ASSERT_EQ(Open(path_, cfg::kTypeAscii), kResultOk);
      ASSERT_EQ(Write("Birch", "Port", "2"), kResultOk);
      if (c.read_only) {
        ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
      }
      EXPECT_EQ(cfg::CloseFile(handle_), c.result);
      handle_ = nullptr;
      ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
      EXPECT_EQ(ReadFile(path_), c.content);
      ASSERT_EQ(Open(path_, cfg::kTypeAscii), kResultOk);
      EXPECT_EQ(Query("Birch", "Port", 12), kResultOk);
      EXPECT_EQ(Value(), "1");
      EXPECT_EQ(Close(), kResultOk);
    }
  }
}

// A file last written before 1980 (time 0) opens with the cache and is saved.
TEST_F(FrontendTest, FileFromBefore1980OpensAndSavesWithTheCache) {
  Start(kCached);
  WriteFile(path_, kReaders);
  ASSERT_TRUE(testutil::SetFileTime(path_, 0));
  ASSERT_EQ(Open(path_, cfg::kTypeAscii), kResultOk);
  ASSERT_EQ(Write("Birch", "Port", "2"), kResultOk);
  EXPECT_EQ(Close(), kResultOk);
  EXPECT_NE(ReadFile(path_).find("Port=2\r\n"), std::string::npos);
}

// --- ASCII files in profile mode -------------------------------------------------------------

struct ProfileQueryCase {
  const char* section;
  const char* entry;
  uint32_t size;
  uint32_t result;
  uint32_t length;  // after the call
};

TEST_F(FrontendTest, ProfileModeAnswers) {
  Start(kProfile);
  OpenSample(cfg::kTypeAscii);
  const ProfileQueryCase cases[] = {
      {"Birch", "Port", 12, kResultOk, 3},          // one character: length n + 2
      {"birch", "PORT", 12, kResultOk, 3},          // the service ignores letter case
      {"Birch", "Missing", 12, 0x81200004, 12},     // missing key in an existing section
      {"Nowhere", "Port", 12, 0x81200003, 12},      // any key of a missing section
      {"Birch", "Empty", 12, 0x81200004, 12},       // an empty value
      {"CardReader", nullptr, 512, kResultOk, 15},  // 12 characters: length n + 3
      {nullptr, nullptr, 512, kResultOk, 26},      {"Nowhere", nullptr, 512, 0x81200003, 512},
      {"Cedar", "Port", 3, 0x81300003, 5},  // an exact fit is not told from a cut value
      {"Cedar", "Port", 2, 0x81300003, 5},         {"Cedar", "Port", 1, 0x81300003, 5},
      {"Cedar", "Port", 0, 0x81300003, 5},         {"Cedar", "Port", 4, kResultOk, 4},
      {"CardReader", nullptr, 13, 0x81300003, 15}, {"CardReader", nullptr, 14, 0x81300003, 15},
      {"CardReader", nullptr, 15, kResultOk, 15},  {"CardReader", nullptr, 2, 0x81300003, 15},
  };
  for (const ProfileQueryCase& c : cases) {
    SCOPED_TRACE(std::string(c.section ? c.section : "(none)") + "/" +
                 (c.entry ? c.entry : "(none)") + " size " + std::to_string(c.size));
    EXPECT_EQ(Query(c.section, c.entry, c.size), c.result);
    EXPECT_EQ(length_, c.length);
  }
  EXPECT_EQ(Query("CardReader", nullptr, 512), kResultOk);
  EXPECT_EQ(buffer_.substr(0, 13), std::string("Birch\0Cedar\0\0", 13));
}

TEST_F(FrontendTest, ProfileModeEmptySectionIsAnEmptyList) {
  Start(kProfile);
  WriteFile(path_, "[Empty]\r\n[Full]\r\nk=v\r\n");
  ASSERT_EQ(Open(path_, cfg::kTypeAscii), kResultOk);
  EXPECT_EQ(Query("Empty", nullptr, 512), kResultOk);
  EXPECT_EQ(buffer_[0], '\0');
  EXPECT_EQ(length_, 1u);
  EXPECT_EQ(Query("EMPTY", "k", 512), 0x81200004u);
}

TEST_F(FrontendTest, ProfileModeLongValueAnswersTheSizeNeeded) {
  Start(kProfile);
  const std::string long_value(5000, 'v');
  WriteFile(path_, "[S]\r\nk=" + long_value + "\r\n");
  ASSERT_EQ(Open(path_, cfg::kTypeAscii), kResultOk);
  EXPECT_EQ(Query("S", "k", 512), 0x81300003u);
  EXPECT_EQ(length_, 5003u);
  EXPECT_EQ(Query("S", "k", 5003), kResultOk);
  EXPECT_EQ(Value(), long_value);
  EXPECT_EQ(length_, 5002u);
}

TEST_F(FrontendTest, ProfileModeWritesAtOnce) {
  Start(kProfile);
  ASSERT_EQ(Open(path_, cfg::kTypeAscii), kResultOk);
  EXPECT_EQ(open_result_, cfg::kOpenReadWrite);
  EXPECT_EQ(ReadFile(path_), "");
  EXPECT_EQ(Write("CardReader", "Birch", "Installed"), kResultOk);
  EXPECT_EQ(Write("Birch", "Port", "1"), kResultOk);
  EXPECT_EQ(Write("Birch", "PinEntry", "0"), kResultOk);
  EXPECT_EQ(ReadFile(path_),
            "[CardReader]\r\nBirch=Installed\r\n[Birch]\r\nPort=1\r\nPinEntry=0\r\n");
  EXPECT_EQ(Write("Birch", "Port", nullptr), kResultOk);
  EXPECT_EQ(Write("CardReader", nullptr, nullptr), kResultOk);
  EXPECT_EQ(ReadFile(path_), "[Birch]\r\nPinEntry=0\r\n");
  EXPECT_EQ(Close(), kResultOk);
  EXPECT_EQ(ReadFile(path_), "[Birch]\r\nPinEntry=0\r\n");
}

TEST_F(FrontendTest, ProfileModeWriteFailureIsLoggedWithTheSystemsText) {
  Start(kProfile);
  OpenSample(cfg::kTypeAscii);
  ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
  EXPECT_EQ(Write("Birch", "Port", "2"), 0x81300008u);
  EXPECT_NE(Log().find("WritePrivateProfileString Error: 0x000d Permission denied"),
            std::string::npos);
  EXPECT_EQ(ReadFile(path_), kReaders);
}

// --- Binary files ----------------------------------------------------------------------------

TEST_F(FrontendTest, BinaryFileIsCreatedWithItsHeaderAndReopened) {
  Start(kOwnLists);
  ASSERT_EQ(Open(path_, cfg::kTypeBinaryReadOnly), kResultOk);
  EXPECT_EQ(open_result_, cfg::kOpenCreated);
  EXPECT_EQ(ReadFile(path_).size(), 64u);
  // A created file is open for writing whatever access was asked for.
  EXPECT_EQ(Write("Birch", "Port", "1"), kResultOk);
  EXPECT_EQ(Close(), kResultOk);

  ASSERT_EQ(Open(path_, cfg::kTypeBinary), kResultOk);
  EXPECT_EQ(open_result_, cfg::kOpenReadWrite);
  EXPECT_EQ(type_, cfg::kTypeBinary);
  EXPECT_EQ(Close(), kResultOk);
  ASSERT_EQ(Open(path_, cfg::kTypeBinaryReadOnly), kResultOk);
  EXPECT_EQ(open_result_, cfg::kOpenReadOnly);
  EXPECT_EQ(type_, cfg::kTypeBinaryReadOnly);
  EXPECT_EQ(Query("Birch", "Port", 12), kResultOk);
  EXPECT_EQ(Value(), "1");
  EXPECT_EQ(length_, 2u);
  const std::string before = ReadFile(path_);
  EXPECT_EQ(Write("Birch", "Port", "2"), 0x81300008u);
  EXPECT_NE(Log().find("File " + path_ + " is only open for reading !"), std::string::npos);
  EXPECT_EQ(ReadFile(path_), before);
}

TEST_F(FrontendTest, BinaryFileShorterThanItsHeaderIsInvalid) {
  Start(kOwnLists);
  WriteFile(path_, std::string(63, '\0'));
  EXPECT_EQ(Open(path_, cfg::kTypeBinary), 0x81200002u);
  EXPECT_EQ(handle_, nullptr);
  EXPECT_EQ(ReadFile(path_).size(), 63u);
  WriteFile(path_, kReaders);
  EXPECT_EQ(Open(path_, cfg::kTypeBinaryReadOnly), 0x81200002u);
}

TEST_F(FrontendTest, BinaryValuesListsAndDeletes) {
  Start(kOwnLists);
  ASSERT_EQ(Open(path_, cfg::kTypeBinary), kResultOk);
  EXPECT_EQ(Query("Birch", "Port", 12), 0x81200003u);
  EXPECT_EQ(Write("Birch", "Port", nullptr), 0x81200003u);
  EXPECT_EQ(Write("Birch", "Port", "1"), kResultOk);
  EXPECT_EQ(Write("Birch", "Standard", "CTAPI32"), kResultOk);
  EXPECT_EQ(Write("Cedar", "Port", "50"), kResultOk);
  EXPECT_EQ(Write("Birch", "Port", "2"), kResultOk);
  EXPECT_EQ(Query("Birch", "Port", 12), kResultOk);
  EXPECT_EQ(Value(), "2");
  EXPECT_EQ(Query("Birch", "Missing", 12), 0x81200004u);
  EXPECT_EQ(Query("Birch", "Standard", 4), 0x81300003u);
  EXPECT_EQ(length_, 8u);

  EXPECT_EQ(Query("Birch", nullptr, 512), kResultOk);
  EXPECT_EQ(buffer_.substr(0, 15), std::string("Port\0Standard\0\0", 15));
  EXPECT_EQ(length_, 15u);
  EXPECT_EQ(Query(nullptr, nullptr, 512), kResultOk);
  EXPECT_EQ(buffer_.substr(0, 13), std::string("Birch\0Cedar\0\0", 13));
  EXPECT_EQ(length_, 13u);
  // A name that does not fit is passed over; the list still ends.
  EXPECT_EQ(Query("Birch", nullptr, 10), 0x81300003u);
  EXPECT_EQ(buffer_.substr(0, 6), std::string("Port\0\0", 6));
  // No room for the list's end.
  EXPECT_EQ(Query(nullptr, nullptr, 12), 0x81300003u);

  EXPECT_EQ(Write("Birch", "Port", nullptr), kResultOk);
  EXPECT_EQ(Query("Birch", "Port", 12), 0x81200004u);
  EXPECT_EQ(Query("Birch", "Standard", 12), kResultOk);
  EXPECT_EQ(Write("Birch", nullptr, nullptr), kResultOk);
  EXPECT_EQ(Query("Birch", "Standard", 12), 0x81200003u);
  EXPECT_EQ(Query("Cedar", "Port", 12), kResultOk);
  EXPECT_EQ(Value(), "50");
}

TEST_F(FrontendTest, BinaryHeaderWithTheAsciiCodeGivesAnAsciiHandleWithoutLines) {
  Start(kProfile);
  ASSERT_EQ(Open(path_, cfg::kTypeBinary), kResultOk);
  ASSERT_EQ(Close(), kResultOk);
  std::string bytes = ReadFile(path_);
  bytes[50] = bytes[51] = bytes[52] = bytes[53] = 0x32;
  WriteFile(path_, bytes);
  ASSERT_EQ(Open(path_, cfg::kTypeBinary), kResultOk);
  EXPECT_EQ(type_, cfg::kTypeAscii);
  EXPECT_EQ(Query("S", "E", 12), 0x81200003u);
  EXPECT_EQ(Write("S", "E", "v"), 0x81300008u);
  EXPECT_EQ(ReadFile(path_), bytes);
}

}  // namespace
