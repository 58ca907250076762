// SPDX-License-Identifier: BSD-3-Clause
// Module paths and the Windows directory on POSIX: the loader's name of the program and of a
// shared library, the refusals, and WINDIR with its default.
#include "platform/library_path.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "tests/common/test_util.h"

namespace {

int AFunctionOfThisProgram() {
  return 7;
}

std::string RealPath(const char* path) {
  char resolved[PATH_MAX] = {};
  return realpath(path, resolved) ? resolved : "";
}

TEST(LibraryPathTest, NamesTheProgramThatHoldsTheAddress) {
  char path[260] = {};
  ASSERT_TRUE(platform::LibraryPathOf(reinterpret_cast<const void*>(&AFunctionOfThisProgram), path,
                                      sizeof path));
  EXPECT_EQ(path[0], '/');
  EXPECT_EQ(RealPath(path), RealPath("/proc/self/exe"));
}

TEST(LibraryPathTest, NamesTheSharedLibraryThatHoldsTheAddress) {
  char path[260] = {};
  ASSERT_TRUE(platform::LibraryPathOf(reinterpret_cast<const void*>(&strlen), path, sizeof path));
  EXPECT_EQ(path[0], '/');
  // libc's, or the sanitizer's that stands in for it.
  EXPECT_NE(std::string(path).find(".so"), std::string::npos) << path;
  EXPECT_NE(RealPath(path), RealPath("/proc/self/exe"));
}

TEST(LibraryPathTest, RefusesWhatItCannotName) {
  char path[260] = "old";
  EXPECT_FALSE(platform::LibraryPathOf(nullptr, path, sizeof path));
  EXPECT_STREQ(path, "");
  strcpy(path, "old");
  int on_the_stack = 0;
  EXPECT_FALSE(platform::LibraryPathOf(&on_the_stack, path, sizeof path));
  EXPECT_STREQ(path, "");
  char tiny[2] = "x";
  EXPECT_FALSE(platform::LibraryPathOf(reinterpret_cast<const void*>(&AFunctionOfThisProgram), tiny,
                                       sizeof tiny));
  EXPECT_STREQ(tiny, "");
  EXPECT_FALSE(
      platform::LibraryPathOf(reinterpret_cast<const void*>(&AFunctionOfThisProgram), nullptr, 10));
}

TEST(WindowsDirectoryTest, IsWindirOrEtc) {
  char path[260] = {};
  {
    testutil::ScopedEnv windir("WINDIR", "/some/where");
    ASSERT_TRUE(platform::WindowsDirectory(path, sizeof path));
    EXPECT_STREQ(path, "/some/where");
    char tiny[5] = {};
    EXPECT_FALSE(platform::WindowsDirectory(tiny, sizeof tiny));
    EXPECT_STREQ(tiny, "");
  }
  {
    testutil::ScopedEnv windir("WINDIR", nullptr);
    ASSERT_TRUE(platform::WindowsDirectory(path, sizeof path));
    EXPECT_STREQ(path, "/etc");
  }
  {
    testutil::ScopedEnv windir("WINDIR", "");
    ASSERT_TRUE(platform::WindowsDirectory(path, sizeof path));
    EXPECT_STREQ(path, "/etc");
  }
  EXPECT_FALSE(platform::WindowsDirectory(nullptr, 10));
}

}  // namespace
