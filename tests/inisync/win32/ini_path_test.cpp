// SPDX-License-Identifier: BSD-3-Clause
// Where inisync looks for vezidide.ini on Windows: in the Windows directory, joined with "\".
#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>

#include <string>

#include "inisync/flow.h"

namespace {

TEST(IniPathTest, WindowsDirectoryAndFileAreJoinedWithABackslash) {
  char windows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(windows, sizeof windows), 0u);
  struct Case {
    std::string folder;
    std::string path;
  } const cases[] = {
      {"C:\\WINDOWS", "C:\\WINDOWS\\vezidide.ini"},
      {"C:\\", "C:\\vezidide.ini"},
      {windows, std::string(windows) + "\\vezidide.ini"},
  };
  for (const Case& c : cases) {
    char path[inisync::kPathSize] = "x";
    EXPECT_TRUE(inisync::IniFilePath(c.folder.c_str(), path, sizeof path));
    EXPECT_EQ(path, c.path);
    EXPECT_EQ(strchr(path, '/'), nullptr) << path;
  }
  // Exactly the room for the path and its terminator, and one byte less.
  const std::string whole = "C:\\WINDOWS\\vezidide.ini";
  char path[64];
  EXPECT_TRUE(inisync::IniFilePath("C:\\WINDOWS", path, static_cast<uint32_t>(whole.size() + 1)));
  EXPECT_FALSE(inisync::IniFilePath("C:\\WINDOWS", path, static_cast<uint32_t>(whole.size())));
  EXPECT_STREQ(path, "");
}

}  // namespace
