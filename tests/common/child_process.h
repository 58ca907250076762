// SPDX-License-Identifier: BSD-3-Clause
// A second process for the tests: the test program started again with
// `--kv-child <name> <argument>` runs the child routine registered under <name> instead of its
// tests, and ends with the routine's result as its exit code (main_posix.cpp, main_win32.cpp).
// It is a fresh process on both systems; it shares the test's named objects (isolation.cpp).
#pragma once

#include <cstdint>
#include <string>

namespace testutil {

using ChildRoutine = int (*)(const std::string& argument);

// Registers `routine` under `name`; call it at static initialisation (KV_CHILD_ROUTINE).
bool RegisterChildRoutine(const char* name, ChildRoutine routine);
// Runs the routine registered under `name`; 255 when there is none.
int RunChildRoutine(const char* name, const std::string& argument);
// Runs this program with `arguments` and waits for its end; its exit code, or -1 when it could
// not be started. Its output goes where this program's goes.
int RunSelf(const std::string& arguments);

// A running second process: this program started with `--kv-child <name> <argument>`.
class Child {
 public:
  Child(const char* name, const std::string& argument);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  bool started() const { return process_ != nullptr; }
  uint32_t pid() const { return pid_; }
  // Waits for its end; its exit code, or -1 (also when it was killed). A child not waited for is
  // ended by the destructor.
  int Wait();

 private:
  void* process_ = nullptr;  // Windows: the process handle; POSIX: a mark while it runs
  uint32_t pid_ = 0;
};

}  // namespace testutil

#define KV_CHILD_ROUTINE(name, function) \
  const bool kv_child_##function = testutil::RegisterChildRoutine(name, function)
