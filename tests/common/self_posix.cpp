// SPDX-License-Identifier: BSD-3-Clause
// Second processes on POSIX: the running program started again with other arguments (executed
// anew, not a fork of the test), its output going where the test's goes (child_process.h).
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/common/child_process.h"

namespace testutil {

namespace {

// Splits `arguments` at blanks; double quotes keep blanks inside an argument.
std::vector<std::string> SplitArguments(const std::string& arguments) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false;
  bool any = false;
  for (char c : arguments) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) words.push_back(word);
  return words;
}

// Starts this program with `words` as its arguments; its process id, or 0.
pid_t StartSelf(const std::vector<std::string>& words) {
  std::vector<char*> argv;
  char self[] = "/proc/self/exe";
  argv.push_back(self);
  for (const std::string& word : words)
    argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  fflush(stdout);
  fflush(stderr);
  const pid_t child = fork();
  if (child == 0) {
    execv(self, argv.data());
    _exit(127);
  }
  return child > 0 ? child : 0;
}

int WaitForEnd(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace

int RunSelf(const std::string& arguments) {
  const pid_t child = StartSelf(SplitArguments(arguments));
  return child ? WaitForEnd(child) : -1;
}

Child::Child(const char* name, const std::string& argument) {
  pid_ = static_cast<uint32_t>(StartSelf({"--kv-child", name, argument}));
  if (pid_ != 0) process_ = this;
}

Child::~Child() {
  if (!process_) return;
  kill(static_cast<pid_t>(pid_), SIGKILL);
  waitpid(static_cast<pid_t>(pid_), nullptr, 0);
}

int Child::Wait() {
  if (!process_) return -1;
  process_ = nullptr;
  return WaitForEnd(static_cast<pid_t>(pid_));
}

}  // namespace testutil
