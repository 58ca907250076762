// SPDX-License-Identifier: BSD-3-Clause
// The file layer: open modes and sharing codes, reading lines, the end byte 0x1A, attributes,
// DOS times, copies and deletes, and the log records of failures.
#include "support/fileio.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/result.h"
#include "tests/common/test_util.h"

namespace {

using testutil::ReadFile;
using testutil::ScopedEnv;
using testutil::TempDir;
using testutil::WriteFile;

class FileIoTest : public ::testing::Test {
 protected:
  std::string Log() { return ReadFile(log_); }
  std::string Path(const char* name) { return dir_.File(name); }
  // Opens `name` with `mode`, expecting success, and returns the handle.
  fio::Handle OpenOk(const std::string& path, uint16_t mode) {
    fio::Handle handle = fio::kNoHandle;
    EXPECT_EQ(fio::Open(path.c_str(), &handle, mode, fio::kShareAll), kResultOk) << path;
    return handle;
  }

  TempDir dir_;
  std::string log_ = dir_.File("err.log");
  ScopedEnv env_{"ERRLFILE", log_.c_str()};
};

struct OpenCase {
  uint16_t mode;
  bool exists;
  uint32_t result;
  const char* content_after;  // nullptr: the file is still missing
};

TEST_F(FileIoTest, OpenModes) {
  const OpenCase cases[] = {
      {fio::kModeRead, true, kResultOk, "old"},
      {fio::kModeRead, false, kErrOpenFailed, nullptr},
      {fio::kModeWrite, true, kErrOpenFailed, "old"},
      {fio::kModeWrite, false, kResultOk, ""},
      {fio::kModeReadWrite, true, kResultOk, "old"},
      {fio::kModeReadWrite, false, kResultOk, ""},
      {fio::kModeAppend, true, kResultOk, "old"},
      {fio::kModeAppend, false, kErrOpenFailed, nullptr},
      {fio::kModeTruncate, true, kResultOk, ""},
      {fio::kModeTruncate, false, kErrOpenFailed, nullptr},
      {fio::kModeCreateNew, true, kFioExists, "old"},
      {fio::kModeCreateNew, false, kResultOk, ""},
      {fio::kModeReplace, true, kResultOk, ""},
      {fio::kModeReplace, false, kResultOk, ""},
      {3, true, kErrIllegalArgument, "old"},
  };
  std::string path = Path("data.txt");
  for (const OpenCase& c : cases) {
    unlink(path.c_str());
    if (c.exists) WriteFile(path, "old");
    fio::Handle handle = 1234;
    EXPECT_EQ(fio::Open(path.c_str(), &handle, c.mode, fio::kShareAll), c.result)
        << "mode " << c.mode << " exists " << c.exists;
    if (c.result == kResultOk) {
      EXPECT_NE(handle, fio::kNoHandle);
      EXPECT_EQ(fio::Close(handle), kResultOk);
    } else {
      EXPECT_EQ(handle, fio::kNoHandle);
    }
    if (c.content_after) {
      EXPECT_EQ(ReadFile(path), c.content_after) << "mode " << c.mode;
    } else {
      EXPECT_FALSE(testutil::FileExists(path)) << "mode " << c.mode;
    }
  }
}

TEST_F(FileIoTest, OpenFailuresAreLogged) {
  std::string path = Path("present.txt");
  WriteFile(path, "x");
  fio::Handle handle = fio::kNoHandle;
  EXPECT_EQ(fio::Open(path.c_str(), &handle, fio::kModeCreateNew, fio::kShareAll), kFioExists);
  EXPECT_EQ(fio::Open(Path("missing").c_str(), &handle, fio::kModeRead, fio::kShareAll),
            kErrOpenFailed);
  EXPECT_EQ(fio::Open(path.c_str(), &handle, fio::kModeRead, 17), kErrIllegalArgument);
  EXPECT_EQ(fio::Open(nullptr, &handle, fio::kModeRead, fio::kShareAll), kErrIllegalArgument);
  EXPECT_EQ(fio::Open(path.c_str(), nullptr, fio::kModeRead, fio::kShareAll), kErrIllegalArgument);
  std::string log = Log();
  EXPECT_NE(log.find("E: 82000008 L: "), std::string::npos);
  EXPECT_NE(log.find("M: FIO F: Open\r\n"), std::string::npos);
  EXPECT_NE(log.find("|file exists already "), std::string::npos);
  EXPECT_NE(log.find("|file open error (2) "), std::string::npos);
  EXPECT_NE(log.find("|illegal argument "), std::string::npos);
}

TEST_F(FileIoTest, SharingCodesAreCheckedAndWritersExcludeEachOther) {
  std::string path = Path("shared.txt");
  for (uint16_t code : {0, 16, 32, 48, 64}) {
    fio::Handle handle = fio::kNoHandle;
    ASSERT_EQ(fio::Open(path.c_str(), &handle, fio::kModeReadWrite, code), kResultOk) << code;
    EXPECT_EQ(fio::Close(handle), kResultOk);
  }
  fio::Handle first = fio::kNoHandle;
  fio::Handle second = fio::kNoHandle;
  ASSERT_EQ(fio::Open(path.c_str(), &first, fio::kModeReadWrite, fio::kShareRead), kResultOk);
  EXPECT_EQ(fio::Open(path.c_str(), &second, fio::kModeReadWrite, fio::kShareAll), kErrOpenFailed);
  // A reader may still come in.
  ASSERT_EQ(fio::Open(path.c_str(), &second, fio::kModeRead, fio::kShareAll), kResultOk);
  EXPECT_EQ(fio::Close(second), kResultOk);
  EXPECT_EQ(fio::Close(first), kResultOk);
  ASSERT_EQ(fio::Open(path.c_str(), &second, fio::kModeReadWrite, fio::kShareAll), kResultOk);
  EXPECT_EQ(fio::Close(second), kResultOk);
}

TEST_F(FileIoTest, ReadOnlyFilesRefuseWriting) {
  std::string path = Path("locked.txt");
  WriteFile(path, "keep");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  fio::Handle handle = fio::kNoHandle;
  EXPECT_EQ(fio::Open(path.c_str(), &handle, fio::kModeReplace, fio::kShareAll), kFioNoAccess);
  EXPECT_EQ(fio::Open(path.c_str(), &handle, fio::kModeReadWrite, fio::kShareAll), kErrOpenFailed);
  EXPECT_EQ(fio::Open(path.c_str(), &handle, fio::kModeTruncate, fio::kShareAll), kErrOpenFailed);
  EXPECT_EQ(fio::Delete(path.c_str()), kFioDeleteFailed);
  EXPECT_EQ(ReadFile(path), "keep");
  EXPECT_NE(Log().find("|no file access "), std::string::npos);
  handle = OpenOk(path, fio::kModeRead);
  EXPECT_EQ(fio::Close(handle), kResultOk);
}

TEST_F(FileIoTest, AppendOverwritesAnEndByte1A) {
  struct Case {
    std::string before;
    std::string after;
  };
  const Case cases[] = {{"ab\x1a", "abXY"},
                        {"ab", "abXY"},
                        {"", "XY"},
                        {"\x1a", "XY"},
                        {"a\x1a"
                         "b",
                         "a\x1a"
                         "bXY"}};
  std::string path = Path("append.txt");
  for (const Case& c : cases) {
    WriteFile(path, c.before);
    fio::Handle handle = OpenOk(path, fio::kModeAppend);
    uint32_t count = 0;
    EXPECT_EQ(fio::WriteBin(handle, "XY", 2, &count), kResultOk);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(fio::Close(handle), kResultOk);
    EXPECT_EQ(ReadFile(path), c.after);
  }
}

TEST_F(FileIoTest, ReadLineOverMixedLineEnds) {
  std::string path = Path("lines.txt");
  WriteFile(path, "first\r\nsecond\nthird");
  fio::Handle handle = OpenOk(path, fio::kModeRead);
  char line[64];
  for (const char* expected : {"first", "second", "third"}) {
    ASSERT_EQ(fio::ReadLine(handle, line, sizeof line), kResultOk);
    EXPECT_STREQ(line, expected);
  }
  EXPECT_EQ(fio::ReadLine(handle, line, sizeof line), kFioEndOfFile);
  EXPECT_STREQ(line, "");
  EXPECT_EQ(fio::Close(handle), kResultOk);
  EXPECT_NE(Log().find("|end of file reached "), std::string::npos);
}

TEST_F(FileIoTest, ReadLineEmptyLinesAndEndMarks) {
  std::string path = Path("marks.txt");
  WriteFile(path, std::string("\r\n\na\rb\x1a") + "c\n\x1a" + "after");
  fio::Handle handle = OpenOk(path, fio::kModeRead);
  char line[16];
  for (const char* expected : {"", "", "a", "b", "c"}) {
    ASSERT_EQ(fio::ReadLine(handle, line, sizeof line), kResultOk) << expected;
    EXPECT_STREQ(line, expected);
  }
  // A line that begins with the end byte is the end of the file.
  EXPECT_EQ(fio::ReadLine(handle, line, sizeof line), kFioEndOfFile);
  EXPECT_EQ(fio::Close(handle), kResultOk);
}

TEST_F(FileIoTest, ReadLineIntoASmallBuffer) {
  std::string path = Path("long.txt");
  WriteFile(path, "abcdefghij\nk");
  fio::Handle handle = OpenOk(path, fio::kModeRead);
  char line[4 + 4];
  memset(line, '#', sizeof line);
  EXPECT_EQ(fio::ReadLine(handle, line, 4), kFioBufferOverflow);
  EXPECT_STREQ(line, "abc");
  EXPECT_EQ(std::string(line + 4, 4), "####");
  uint32_t position = 0;
  EXPECT_EQ(fio::Tell(handle, &position), kResultOk);
  EXPECT_EQ(position, 3u);
  EXPECT_NE(Log().find("|buffer overflow "), std::string::npos);
  // The rest of the line follows; a buffer that fits exactly holds it whole.
  EXPECT_EQ(fio::ReadLine(handle, line, 4), kFioBufferOverflow);
  EXPECT_STREQ(line, "def");
  EXPECT_EQ(fio::ReadLine(handle, line, 5), kResultOk);
  EXPECT_STREQ(line, "ghij");
  EXPECT_EQ(fio::ReadLine(handle, line, 1), kFioBufferOverflow);
  EXPECT_STREQ(line, "");
  EXPECT_EQ(fio::ReadLine(handle, line, 2), kResultOk);
  EXPECT_STREQ(line, "k");
  EXPECT_EQ(fio::ReadLine(handle, nullptr, 4), kErrIllegalArgument);
  EXPECT_EQ(fio::ReadLine(handle, line, 0), kErrIllegalArgument);
  EXPECT_EQ(fio::Close(handle), kResultOk);
}

TEST_F(FileIoTest, ReadLineAcrossChunks) {
  // Lines longer than one read of 512 bytes, and a CR LF pair split between two reads.
  std::string long_line(700, 'x');
  std::string exact(512, 'y');
  std::string split(511, 'z');
  std::string path = Path("chunks.txt");
  WriteFile(path, long_line + "\n" + split + "\r\n" + "next\n" + exact);
  fio::Handle handle = OpenOk(path, fio::kModeRead);
  char line[1024];
  ASSERT_EQ(fio::ReadLine(handle, line, sizeof line), kResultOk);
  EXPECT_EQ(std::string(line), long_line);
  ASSERT_EQ(fio::ReadLine(handle, line, sizeof line), kResultOk);
  EXPECT_EQ(std::string(line), split);
  ASSERT_EQ(fio::ReadLine(handle, line, sizeof line), kResultOk);
  EXPECT_STREQ(line, "next");
  ASSERT_EQ(fio::ReadLine(handle, line, sizeof line), kResultOk);
  EXPECT_EQ(std::string(line), exact);
  EXPECT_EQ(fio::ReadLine(handle, line, sizeof line), kFioEndOfFile);
  EXPECT_EQ(fio::Close(handle), kResultOk);
}

TEST_F(FileIoTest, BinaryReadWriteSeekTell) {
  std::string path = Path("bin.dat");
  fio::Handle handle = OpenOk(path, fio::kModeReadWrite);
  uint32_t count = 0;
  ASSERT_EQ(fio::WriteBin(handle, "0123456789", 10, &count), kResultOk);
  EXPECT_EQ(count, 10u);
  uint32_t position = 99;
  ASSERT_EQ(fio::Seek(handle, 2, 0, &position), kResultOk);
  EXPECT_EQ(position, 2u);
  char buffer[8] = {};
  ASSERT_EQ(fio::ReadBin(handle, buffer, 3, 8, &count), kResultOk);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(std::string(buffer, 3), "234");
  ASSERT_EQ(fio::ReadBin(handle, buffer, 8, 2, &count), kResultOk);  // the maximum wins
  EXPECT_EQ(std::string(buffer, count), "56");
  ASSERT_EQ(fio::Seek(handle, -1, 2, &position), kResultOk);
  EXPECT_EQ(position, 9u);
  ASSERT_EQ(fio::Seek(handle, -2, 1, &position), kResultOk);
  EXPECT_EQ(position, 7u);
  ASSERT_EQ(fio::Tell(handle, &position), kResultOk);
  EXPECT_EQ(position, 7u);
  ASSERT_EQ(fio::Seek(handle, 0, 2, nullptr), kResultOk);
  ASSERT_EQ(fio::ReadBin(handle, buffer, 8, 8, &count), kResultOk);
  EXPECT_EQ(count, 0u);  // the end of the file
  EXPECT_EQ(fio::Seek(handle, 0, 3, &position), kErrIllegalArgument);
  EXPECT_EQ(fio::Tell(handle, nullptr), kErrIllegalArgument);
  EXPECT_EQ(fio::Close(handle), kResultOk);
  EXPECT_EQ(fio::Close(handle), kFioCloseFailed);
  EXPECT_EQ(fio::Close(fio::kNoHandle), kFioCloseFailed);
  std::string log = Log();
  EXPECT_NE(log.find("M: FIO F: Seek\r\n                | illegal argument "), std::string::npos);
  EXPECT_NE(log.find("|an error occured "), std::string::npos);
}

TEST_F(FileIoTest, WritingWithoutAccessFails) {
  std::string path = Path("readonly-handle.txt");
  WriteFile(path, "x");
  fio::Handle handle = OpenOk(path, fio::kModeRead);
  uint32_t count = 7;
  EXPECT_EQ(fio::WriteBin(handle, "y", 1, &count), kFioNoAccess);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(fio::Close(handle), kResultOk);
}

TEST_F(FileIoTest, ExistAndAttributes) {
  std::string file = Path("plain.txt");
  std::string locked = Path("locked.txt");
  WriteFile(file, "x");
  WriteFile(locked, "x");
  ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
  struct Case {
    std::string path;
    uint32_t exists;
    uint32_t result;
    uint32_t attributes;
  };
  const Case cases[] = {
      {file, 1, kResultOk, 0},
      {locked, 1, kResultOk, 0x01},
      {dir_.path(), 1, kResultOk, 0x10},
      {Path("missing"), 0, kFioNoInfo, 0},
      {"", 0, kResultOk, 0},
  };
  size_t log_size = Log().size();
  for (const Case& c : cases) {
    EXPECT_EQ(fio::Exist(c.path.c_str()), c.exists) << c.path;
    uint32_t attributes = 0xFFFF;
    EXPECT_EQ(fio::GetAttr(c.path.c_str(), &attributes), c.result) << c.path;
    // Windows marks new files for backup (the archive bit, 0x20); POSIX has no such mark.
    EXPECT_EQ(attributes & ~0x20u, c.attributes) << c.path;
  }
  EXPECT_EQ(Log().size(), log_size);  // none of these answers is logged
}

TEST_F(FileIoTest, DateTimeRoundTripAndInfo) {
  std::string path = Path("dated.txt");
  WriteFile(path, "12345");
  // 29 February 2020, 13:45:58.
  const uint16_t date = ((2020 - 1980) << 9) | (2 << 5) | 29;
  const uint16_t time = (13 << 11) | (45 << 5) | (58 / 2);
  ASSERT_EQ(fio::SetDateTime(path.c_str(), date, time), kResultOk);
  uint16_t got_date = 0;
  uint16_t got_time = 0;
  ASSERT_EQ(fio::GetDateTime(path.c_str(), &got_date, &got_time), kResultOk);
  EXPECT_EQ(got_date, date);
  EXPECT_EQ(got_time, time);

  fio::FileInfo info;
  ASSERT_EQ(fio::GetInfo(path.c_str(), &info), kResultOk);
  EXPECT_EQ(info.size, 5u);
  EXPECT_STREQ(info.name, "DATED.TXT");
  EXPECT_EQ(info.dos_date, date);
  EXPECT_EQ(info.dos_time, time);

  ASSERT_EQ(fio::GetInfo("", &info), kResultOk);
  EXPECT_EQ(info.size, 0u);
  EXPECT_STREQ(info.name, "");
  EXPECT_EQ(fio::GetInfo(Path("missing").c_str(), &info), kFioNoInfo);
  EXPECT_EQ(fio::GetDateTime(Path("missing").c_str(), &got_date, &got_time), kFioNoInfo);
  // Setting a time never creates the file.
  EXPECT_EQ(fio::SetDateTime(Path("missing").c_str(), date, time), kFioNoInfo);
  EXPECT_FALSE(testutil::FileExists(Path("missing")));
}

// Times before 1980 have no DOS form: they are taken as 1980-01-01 00:00:00, so that such a
// file can still be described and copied.
TEST_F(FileIoTest, TimesBefore1980AreTheFirstMomentOf1980) {
  const std::string path = Path("old.txt");
  const std::string copy = Path("copy.txt");
  const uint16_t first_date = (1 << 5) | 1;
  for (time_t when : {time_t{0}, time_t{315532800 - 3 * 86400}}) {
    SCOPED_TRACE(when);
    WriteFile(path, "x");
    ASSERT_TRUE(testutil::SetFileTime(path, when));
    uint16_t date = 0xFFFF;
    uint16_t time = 0xFFFF;
    ASSERT_EQ(fio::GetDateTime(path.c_str(), &date, &time), kResultOk);
    EXPECT_EQ(date, first_date);
    EXPECT_EQ(time, 0u);
    fio::FileInfo info;
    ASSERT_EQ(fio::GetInfo(path.c_str(), &info), kResultOk);
    EXPECT_EQ(info.dos_date, first_date);
    EXPECT_EQ(fio::Copy(path.c_str(), copy.c_str(), 0), kResultOk);
    ASSERT_EQ(fio::GetDateTime(copy.c_str(), &date, &time), kResultOk);
    EXPECT_EQ(date, first_date);
  }
}

TEST_F(FileIoTest, CopyKeepsOrSetsTheSourceTime) {
  std::string source = Path("source.txt");
  std::string target = Path("target.txt");
  WriteFile(source, "content");
  WriteFile(target, "older and longer content");
  const uint16_t date = ((2001 - 1980) << 9) | (9 << 5) | 9;
  const uint16_t time = (9 << 11) | (9 << 5) | 4;
  ASSERT_EQ(fio::SetDateTime(source.c_str(), date, time), kResultOk);

  for (uint32_t plain : {0u, 1u}) {
    unlink(target.c_str());
    ASSERT_EQ(fio::Copy(source.c_str(), target.c_str(), plain), kResultOk) << plain;
    EXPECT_EQ(ReadFile(target), "content");
    uint16_t got_date = 0;
    uint16_t got_time = 0;
    ASSERT_EQ(fio::GetDateTime(target.c_str(), &got_date, &got_time), kResultOk);
    EXPECT_EQ(got_date, date);
    EXPECT_EQ(got_time, time);
  }
  EXPECT_EQ(fio::Copy(source.c_str(), target.c_str(), 2), kErrIllegalArgument);
  EXPECT_EQ(fio::Copy(Path("missing").c_str(), target.c_str(), 0), kFioNoInfo);
  EXPECT_EQ(fio::Copy(Path("missing").c_str(), target.c_str(), 1), kFioCopyFailed);
  std::string log = Log();
  EXPECT_NE(log.find("E: 82000010 L: "), std::string::npos);
  EXPECT_NE(log.find("|error while getting time "), std::string::npos);
  EXPECT_NE(log.find("|error while copying file "), std::string::npos);
}

TEST_F(FileIoTest, DeleteAndOverlongPaths) {
  std::string path = Path("gone.txt");
  WriteFile(path, "x");
  EXPECT_EQ(fio::Delete(path.c_str()), kResultOk);
  EXPECT_FALSE(testutil::FileExists(path));
  EXPECT_EQ(fio::Delete(path.c_str()), kFioDeleteFailed);
  EXPECT_NE(Log().find("|file delete error "), std::string::npos);

  std::string overlong = dir_.path() + "/" + std::string(300, 'n');
  fio::Handle handle = fio::kNoHandle;
  EXPECT_EQ(fio::Open(overlong.c_str(), &handle, fio::kModeReadWrite, fio::kShareAll),
            kErrIllegalArgument);
  EXPECT_EQ(fio::Exist(overlong.c_str()), 0u);
}

}  // namespace
