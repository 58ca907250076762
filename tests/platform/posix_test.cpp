// SPDX-License-Identifier: BSD-3-Clause
// The POSIX platform layer: what the layers above rely on and cannot see themselves.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/calendar.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/process.h"
#include "tests/common/test_util.h"

namespace {

using testutil::TempDir;

TEST(PlatformFileTest, AttributesFollowWritePermissionAndKind) {
  TempDir dir;
  std::string path = dir.File("a.txt");
  testutil::WriteFile(path, "abc");
  platform::FileStatus status{};
  ASSERT_TRUE(platform::PathStatus(path.c_str(), &status));
  EXPECT_EQ(status.attributes, platform::kAttrNormal);
  EXPECT_EQ(status.size, 3u);
  ASSERT_EQ(chmod(path.c_str(), 0400), 0);
  ASSERT_TRUE(platform::PathStatus(path.c_str(), &status));
  EXPECT_EQ(status.attributes, platform::kAttrReadOnly);
  ASSERT_TRUE(platform::PathStatus(dir.path().c_str(), &status));
  EXPECT_EQ(status.attributes, platform::kAttrDirectory);
  EXPECT_FALSE(platform::PathStatus(dir.File("none").c_str(), &status));
  EXPECT_EQ(platform::LastSystemError(), static_cast<uint32_t>(ENOENT));
}

TEST(PlatformFileTest, SettingAttributesTogglesWritePermission) {
  TempDir dir;
  std::string path = dir.File("a.txt");
  testutil::WriteFile(path, "abc");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(platform::PathSetAttributes(path.c_str(), platform::kAttrReadOnly));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0440u);
  // Clearing the bit gives the owner write permission back.
  ASSERT_TRUE(platform::PathSetAttributes(path.c_str(), 0));
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  platform::FileStatus status{};
  ASSERT_TRUE(platform::PathStatus(path.c_str(), &status));
  EXPECT_EQ(status.attributes, platform::kAttrNormal);
  // A writable file keeps its permissions.
  ASSERT_TRUE(platform::PathSetAttributes(path.c_str(), platform::kAttrNormal));
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_FALSE(platform::PathSetAttributes(dir.File("missing").c_str(), 0));
  EXPECT_FALSE(platform::PathSetAttributes(nullptr, 0));
}

TEST(PlatformFileTest, ReadOnlyFileCannotBeOpenedForWritingEvenByRoot) {
  TempDir dir;
  std::string path = dir.File("ro.txt");
  testutil::WriteFile(path, "abc");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  platform::FileHandle file = 99;
  EXPECT_FALSE(platform::FileOpen(path.c_str(), platform::FileAccess::kWrite,
                                  platform::FileDisposition::kOpenExisting, {true, true}, &file));
  EXPECT_EQ(platform::LastSystemError(), static_cast<uint32_t>(EACCES));
  EXPECT_EQ(file, platform::kNoFile);
  EXPECT_FALSE(platform::PathDelete(path.c_str()));
  EXPECT_FALSE(platform::PathCopy(path.c_str(), path.c_str()));
  EXPECT_EQ(testutil::ReadFile(path), "abc");
}

TEST(PlatformFileTest, RefusedOpenDoesNotTruncate) {
  TempDir dir;
  std::string path = dir.File("held.txt");
  testutil::WriteFile(path, "content");
  platform::FileHandle holder = platform::kNoFile;
  ASSERT_TRUE(platform::FileOpen(path.c_str(), platform::FileAccess::kReadWrite,
                                 platform::FileDisposition::kOpenExisting, {true, false}, &holder));
  platform::FileHandle other = platform::kNoFile;
  EXPECT_FALSE(platform::FileOpen(path.c_str(), platform::FileAccess::kWrite,
                                  platform::FileDisposition::kCreateAlways, {true, true}, &other));
  EXPECT_EQ(testutil::ReadFile(path), "content");
  EXPECT_TRUE(platform::FileClose(holder));
}

TEST(PlatformFileTest, CopyCarriesPermissionsAndTime) {
  TempDir dir;
  std::string source = dir.File("s");
  std::string target = dir.File("t");
  testutil::WriteFile(source, std::string(20000, 'q'));
  ASSERT_EQ(chmod(source.c_str(), 0640), 0);
  ASSERT_TRUE(platform::PathCopy(source.c_str(), target.c_str()));
  struct stat a, b;
  ASSERT_EQ(stat(source.c_str(), &a), 0);
  ASSERT_EQ(stat(target.c_str(), &b), 0);
  EXPECT_EQ(a.st_mode, b.st_mode);
  EXPECT_EQ(a.st_mtim.tv_sec, b.st_mtim.tv_sec);
  EXPECT_EQ(testutil::ReadFile(target), testutil::ReadFile(source));
}

TEST(PlatformErrorTest, MessagesAreEnglishAndBounded) {
  char text[64];
  platform::SystemErrorMessage(ENOENT, text, sizeof text);
  EXPECT_STREQ(text, "No such file or directory");
  char small[6];
  memset(small, '#', sizeof small);
  platform::SystemErrorMessage(ENOENT, small, 5);
  EXPECT_STREQ(small, "No s");
  EXPECT_EQ(small[5], '#');
  EXPECT_TRUE(platform::IsTooManyFilesError(EMFILE));
  EXPECT_TRUE(platform::IsTooManyFilesError(ENFILE));
  EXPECT_FALSE(platform::IsTooManyFilesError(ENOENT));
}

TEST(PlatformProcessTest, EnvironmentAndProcessNumber) {
  testutil::ScopedEnv set("KV_PLATFORM_TEST", "value");
  ASSERT_NE(platform::EnvLookup("KV_PLATFORM_TEST"), nullptr);
  EXPECT_STREQ(platform::EnvLookup("KV_PLATFORM_TEST"), "value");
  testutil::ScopedEnv unset("KV_PLATFORM_TEST", nullptr);
  EXPECT_EQ(platform::EnvLookup("KV_PLATFORM_TEST"), nullptr);
  EXPECT_EQ(platform::EnvLookup(nullptr), nullptr);
  EXPECT_EQ(platform::CurrentProcessId(), static_cast<uint32_t>(getpid()));
}

TEST(PlatformClockTest, MonotonicClockAndCalendar) {
  uint64_t before = platform::MonotonicMs();
  platform::SleepMs(0);
  EXPECT_GE(platform::MonotonicMs(), before);
  platform::CalendarTime now = platform::LocalTimeNow();
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.weekday, 6);
}

}  // namespace
