// SPDX-License-Identifier: BSD-3-Clause
// The ground of the ASCII configuration-file tests: a file read into its lists and freed at the
// end of scope, with the changes the front end makes, and a fixture with a private temporary
// folder, no error log and an empty file-info cache.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/ascii.h"
#include "support/result.h"
#include "tests/common/test_util.h"

namespace asciitest {

// An ASCII file read into its lists, written back (when changed) and freed at the end of scope.
class OpenAscii {
 public:
  explicit OpenAscii(const std::string& path, uint16_t access = kAsciiAccessReadWrite) {
    AsciiInitFile(&file_, path.c_str(), access);
    const uint16_t mode = access == kAsciiAccessReadWrite ? fio::kModeReadWrite : fio::kModeRead;
    opened_ = fio::Open(path.c_str(), &file_.file, mode, fio::kShareRead) == kResultOk;
    read_ = opened_ ? AsciiReadFile(&file_) : kErrIllegalArgument;
  }
  ~OpenAscii() {
    if (file_.file != fio::kNoHandle) fio::Close(file_.file);
    AsciiFreeLists(&file_);
  }
  OpenAscii(const OpenAscii&) = delete;
  OpenAscii& operator=(const OpenAscii&) = delete;

  AsciiFile* file() { return &file_; }
  uint32_t read_result() const { return read_; }

  AsciiSection* Section(const char* name) {
    AsciiSection* section = nullptr;
    AsciiSection* following = nullptr;
    return AsciiFindSection(&file_, name, &section, &following) == kResultOk ? section : nullptr;
  }

  // Creates or replaces a value the way the front end does: a missing section goes to the end
  // of the file, a missing entry to the section's insertion point (and into its index).
  void Set(const char* section_name, const char* name, const char* value, bool sorted = false) {
    AsciiSection* section = nullptr;
    AsciiSection* following = nullptr;
    AsciiLine* line = nullptr;
    const uint32_t length = static_cast<uint32_t>(std::strlen(value)) + 1;
    if (AsciiFindSection(&file_, section_name, &section, &following) != kResultOk) {
      AsciiLine* header = nullptr;
      ASSERT_EQ(AsciiInsertEntry(&file_, nullptr, 0, section_name, section, &header,
                                 kAsciiInsertSectionLine),
                kResultOk);
      AsciiSection* added = nullptr;
      ASSERT_EQ(AsciiInsertSection(&file_, 1, static_cast<uint32_t>(std::strlen(section_name)),
                                   section, &added, header),
                kResultOk);
      ASSERT_EQ(AsciiInsertEntry(&file_, value, length, name, added, &line, kAsciiInsertEntryLine),
                kResultOk);
      if (sorted) {
        ASSERT_EQ(AsciiInsertSortList(added, 0, line), kResultOk);
      }
    } else {
      uint32_t position = 0;
      const uint32_t found = sorted ? AsciiFindSortedEntry(section, name, &line, &position)
                                    : AsciiFindEntry(&file_, name, section, &line);
      if (found == kResultOk) {
        ASSERT_EQ(AsciiAlterEntry(&file_, value, length, line), kResultOk);
      } else {
        ASSERT_EQ(
            AsciiInsertEntry(&file_, value, length, name, section, &line, kAsciiInsertEntryLine),
            kResultOk);
        if (sorted) {
          ASSERT_EQ(AsciiInsertSortList(section, position, line), kResultOk);
        }
      }
    }
    file_.modified = 1;
  }

  std::string Value(const char* section_name, const char* name) {
    AsciiSection* section = Section(section_name);
    AsciiLine* line = nullptr;
    if (!section || AsciiFindEntry(&file_, name, section, &line) != kResultOk) return "<none>";
    return AsciiEntryValue(line);
  }

 private:
  AsciiFile file_{};
  bool opened_ = false;
  uint32_t read_ = 0;
};

inline std::string NameOf(const AsciiLine* line) {
  uint32_t length = 0;
  const char* name = AsciiEntryName(line, &length);
  return name ? std::string(name, length) : std::string();
}

inline std::string NameOf(const AsciiSection* section) {
  uint32_t length = 0;
  const char* name = AsciiSectionName(section, &length);
  return name ? std::string(name, length) : std::string();
}

class AsciiTest : public ::testing::Test {
 protected:
  void SetUp() override { AsciiResetFileInfoCache(); }
  void TearDown() override { AsciiResetFileInfoCache(); }

  // Reads `content`, lets `change` work on it, writes it back and returns the file's bytes.
  template <typename Change>
  std::string RoundTrip(const std::string& content, Change change) {
    const std::string path = dir_.File("test.ini");
    testutil::WriteFile(path, content);
    {
      OpenAscii ascii(path);
      EXPECT_EQ(ascii.read_result(), kResultOk);
      change(ascii);
      EXPECT_EQ(WriteDownBuffer(ascii.file()), kResultOk);
    }
    return testutil::ReadFile(path);
  }

  testutil::TempDir dir_;
  testutil::ScopedEnv no_log_{"ERRLFILE", nullptr};
  // The system's temporary folder is the test's own: TMPDIR names it on POSIX, TMP on Windows.
  testutil::ScopedEnv tmp_{"TMPDIR", dir_.path().c_str()};
  testutil::ScopedEnv windows_tmp_{"TMP", dir_.path().c_str()};
};

}  // namespace asciitest
