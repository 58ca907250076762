// SPDX-License-Identifier: BSD-3-Clause
// inisync on the real stack: the program, as built against libctkorvin.so, records the vpcd
// readers that answer in vezidide.ini of a scratch Windows directory; a second run changes
// nothing; a reader that no longer answers is removed, and without the resource manager every
// recorded reader is.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/e2e_layout.h"

namespace {

// A scratch Windows directory, removed with its file at the end of scope.
class WindowsDirectory {
 public:
  WindowsDirectory() {
    std::string pattern = "/tmp/kv-inisync.XXXXXX";
    if (mkdtemp(&pattern[0])) path_ = pattern;
  }
  ~WindowsDirectory() {
    unlink(Ini().c_str());
    rmdir(path_.c_str());
  }
  const std::string& path() const { return path_; }
  std::string Ini() const { return path_ + "/vezidide.ini"; }

 private:
  std::string path_;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The file as sections of key/value pairs in file order.
using Section = std::vector<std::pair<std::string, std::string>>;
std::map<std::string, Section> Parse(const std::string& text) {
  std::map<std::string, Section> sections;
  std::string current;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    at = end + 1;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      current = line.substr(1, line.size() - 2);
      sections[current];
    } else if (line.find('=') != std::string::npos) {
      sections[current].emplace_back(line.substr(0, line.find('=')),
                                     line.substr(line.find('=') + 1));
    }
  }
  return sections;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX] = {};
  return realpath(path.c_str(), resolved) ? resolved : "";
}

// Runs inisync with `arguments` and WINDIR = `windir`; its exit status, -1 when it did not exit.
int RunInisync(const std::string& windir, const std::vector<std::string>& arguments) {
  const char* program = getenv("KV_INISYNC");
  if (program == nullptr) {
    ADD_FAILURE() << "KV_INISYNC is not set: run through ctest -R e2e";
    return -1;
  }
  const pid_t child = fork();
  if (child == 0) {
    setenv("WINDIR", windir.c_str(), 1);
    std::vector<char*> argv = {const_cast<char*>(program)};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program, argv.data());
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string Library() {
  const char* library = getenv("KV_CTKORVIN_LIBRARY");
  return library ? RealPath(library) : "";
}

std::string Underscored(std::string name) {
  for (char& c : name)
    if (c == ' ') c = '_';
  return name;
}

TEST(InisyncE2eTest, RecordsTheAnsweringReadersOnceAndRemovesTheGoneOne) {
  WindowsDirectory windir;
  ASSERT_FALSE(windir.path().empty());
  ASSERT_FALSE(Library().empty()) << "KV_CTKORVIN_LIBRARY is not set";
  const std::string slot0 = Underscored(std::string(e2e::kReader) + " 0");
  const std::string slot1 = Underscored(std::string(e2e::kReader) + " 1");

  ASSERT_EQ(RunInisync(windir.path(), {"-N"}), 0);
  const std::string first = ReadAll(windir.Ini());
  auto sections = Parse(first);
  EXPECT_EQ(sections["CardReader"], (Section{{slot0, "Active"}, {slot1, "Installed"}})) << first;
  for (const std::string& name : {slot0, slot1}) {
    const Section& section = sections[name];
    ASSERT_EQ(section.size(), 7u) << first;
    EXPECT_EQ(section[0], (std::pair<std::string, std::string>{"Standard", "CTAPI32"}));
    EXPECT_EQ(section[1].second, "TREVANO AG");
    EXPECT_EQ(section[3].first, "Port");
    EXPECT_EQ(section[5].first, "CtDllName");
    EXPECT_EQ(section[5].second.front(), '/');
    EXPECT_EQ(RealPath(section[5].second), Library());
  }
  EXPECT_EQ(sections[slot0][3].second, "1");
  EXPECT_EQ(sections[slot1][3].second, "2");

  // Nothing new, nothing gone: the file stays byte for byte.
  ASSERT_EQ(RunInisync(windir.path(), {"-N"}), 0);
  EXPECT_EQ(ReadAll(windir.Ini()), first);

  // A reader recorded earlier that is not on this stack any more.
  WriteAll(windir.Ini(), first + "[TREVANO_Kelvane_Elm_0]\r\nPort=100\r\n");
  {
    std::string text = ReadAll(windir.Ini());
    text.insert(text.find("[", 1), "TREVANO_Kelvane_Elm_0=Installed\r\n");
    WriteAll(windir.Ini(), text);
  }
  ASSERT_EQ(RunInisync(windir.path(), {"-N"}), 0);
  sections = Parse(ReadAll(windir.Ini()));
  EXPECT_EQ(sections.count("TREVANO_Kelvane_Elm_0"), 0u);
  EXPECT_EQ(sections["CardReader"], (Section{{slot0, "Installed"}, {slot1, "Active"}}));
  EXPECT_EQ(sections[slot0].size(), 7u);
}

TEST(InisyncNoDaemonTest, EveryRecordedReaderGoesWhenNoneAnswers) {
  WindowsDirectory windir;
  ASSERT_FALSE(windir.path().empty());
  WriteAll(windir.Ini(),
           "[CardReader]\r\nTREVANO_Kelvane_Birch_0=Active\r\n"
           "[TREVANO_Kelvane_Birch_0]\r\nPort=1\r\n[Other]\r\nKey=Value\r\n");
  ASSERT_EQ(RunInisync(windir.path(), {"-N"}), 0);
  auto sections = Parse(ReadAll(windir.Ini()));
  EXPECT_TRUE(sections["CardReader"].empty());
  EXPECT_EQ(sections.count("TREVANO_Kelvane_Birch_0"), 0u);
  EXPECT_EQ(sections["Other"], (Section{{"Key", "Value"}}));
}

TEST(InisyncNoDaemonTest, AWindowsDirectoryThatIsNotThereEndsTheRunWith255) {
  WindowsDirectory windir;
  EXPECT_EQ(RunInisync(windir.path() + "/missing", {"-N"}), 255);
}

}  // namespace
