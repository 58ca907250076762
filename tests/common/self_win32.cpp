// SPDX-License-Identifier: BSD-3-Clause
// Second processes on Windows: the running program started again with other arguments, its
// standard handles those of the program that starts it, so that the output of both goes to one
// place (child_process.h).
#include <stdio.h>
#include <windows.h>

#include <string>

#include "tests/common/child_process.h"

namespace testutil {
namespace {

// Starts this program with `arguments`, its standard handles those of this program.
bool StartSelf(const std::string& arguments, PROCESS_INFORMATION* child) {
  char program[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  if (length == 0 || length >= sizeof program) return false;
  std::string command = std::string("\"") + program + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    if (handle && handle != INVALID_HANDLE_VALUE)
      SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  fflush(stdout);
  fflush(stderr);
  return CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        child) != 0;
}

int WaitForEnd(HANDLE process) {
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) return -1;
  return static_cast<int>(code);
}

}  // namespace

int RunSelf(const std::string& arguments) {
  PROCESS_INFORMATION child{};
  if (!StartSelf(arguments, &child)) return -1;
  const int code = WaitForEnd(child.hProcess);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return code;
}

Child::Child(const char* name, const std::string& argument) {
  PROCESS_INFORMATION child{};
  if (!StartSelf(std::string("--kv-child ") + name + " \"" + argument + "\"", &child)) return;
  CloseHandle(child.hThread);
  process_ = child.hProcess;
  pid_ = child.dwProcessId;
}

Child::~Child() {
  if (!process_) return;
  TerminateProcess(process_, 254);
  CloseHandle(process_);
}

int Child::Wait() {
  if (!process_) return -1;
  const int code = WaitForEnd(process_);
  CloseHandle(process_);
  process_ = nullptr;
  return code;
}

}  // namespace testutil
