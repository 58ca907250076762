// SPDX-License-Identifier: BSD-3-Clause
// The Windows deliverables as an application meets them: CTKORVIN.dll loaded by name, with
// memlink.dll and pinlink.dll bound at load time; its calls found by ordinal as applications find
// them, and callable with the callee-pops convention; inisync.exe started as a program. The test
// program lies beside them (bin/ of the build).
#include <gtest/gtest.h>
#include <stdint.h>
#include <windows.h>

#include <string>

namespace {

using InitCall = int8_t(__stdcall*)(uint16_t, uint16_t);
using CloseCall = int8_t(__stdcall*)(uint16_t);

FARPROC ByOrdinal(HMODULE module, int ordinal) {
  return GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
}

// The export at `ordinal` as a function of type T (through the generic function type, which
// any function pointer may be cast to and from).
template <typename T>
T Call(HMODULE module, int ordinal) {
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(ByOrdinal(module, ordinal)));
}

std::string BesideThisProgram(const char* name) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

TEST(DeliverablesTest, CtkorvinExportsItsCallsAtTheirOrdinalsAndBindsItsLibraries) {
  HMODULE ctkorvin = LoadLibraryA("CTKORVIN.dll");
  ASSERT_NE(ctkorvin, nullptr) << "error " << GetLastError();
  EXPECT_NE(GetModuleHandleA("memlink.dll"), nullptr);
  EXPECT_NE(GetModuleHandleA("pinlink.dll"), nullptr);

  EXPECT_EQ(ByOrdinal(ctkorvin, 1), nullptr);
  const char* names[] = {"CT_close",        "CT_data",        "CT_init",
                         "CTKORVIKV_close", "CTKORVIKV_data", "CTKORVIKV_init"};
  for (int ordinal = 2; ordinal <= 7; ++ordinal) {
    const FARPROC call = ByOrdinal(ctkorvin, ordinal);
    EXPECT_NE(call, nullptr) << ordinal;
    EXPECT_EQ(call, GetProcAddress(ctkorvin, names[ordinal - 2])) << ordinal;
  }
  EXPECT_EQ(ByOrdinal(ctkorvin, 8), nullptr);

  // No terminal was opened: closing one is refused, whatever the system and its readers.
  auto ct_close = Call<CloseCall>(ctkorvin, 2);
  auto vendor_close = Call<CloseCall>(ctkorvin, 5);
  ASSERT_NE(ct_close, nullptr);
  ASSERT_NE(vendor_close, nullptr);
  EXPECT_EQ(ct_close(1), -1);
  EXPECT_EQ(vendor_close(1), -1);
  // Port 0 is refused before any reader is looked at (or the system already is).
  auto ct_init = Call<InitCall>(ctkorvin, 4);
  ASSERT_NE(ct_init, nullptr);
  EXPECT_EQ(ct_init(1, 0), -1);
  FreeLibrary(ctkorvin);
}

TEST(DeliverablesTest, MemlinkAndPinlinkExportWhatTheLibraryImports) {
  HMODULE memlink = LoadLibraryA("memlink.dll");
  HMODULE pinlink = LoadLibraryA("pinlink.dll");
  ASSERT_NE(memlink, nullptr);
  ASSERT_NE(pinlink, nullptr);
  for (int ordinal : {11, 13, 15, 16, 21, 22, 23, 24, 25, 26, 28, 30, 31, 32}) {
    EXPECT_NE(ByOrdinal(memlink, ordinal), nullptr) << ordinal;
  }
  EXPECT_EQ(GetProcAddress(memlink, "Mem2WRead"), nullptr);  // by ordinal only
  EXPECT_NE(ByOrdinal(pinlink, 1), nullptr);
  EXPECT_NE(ByOrdinal(pinlink, 2), nullptr);
  EXPECT_EQ(GetProcAddress(pinlink, "MemPinVerify"), nullptr);
  EXPECT_NE(GetProcAddress(pinlink, "SCardSPEVerifyPin"), nullptr);
  EXPECT_NE(GetProcAddress(pinlink, "SCardSPEChangePin"), nullptr);
  FreeLibrary(pinlink);
  FreeLibrary(memlink);
}

TEST(DeliverablesTest, InisyncRunsAsAProgramAndLeavesItsIniFile) {
  std::string command = "\"" + BesideThisProgram("inisync.exe") + "\" -N";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process))
      << "error " << GetLastError();
  ASSERT_EQ(WaitForSingleObject(process.hProcess, 120000), WAIT_OBJECT_0);
  DWORD exit_code = 1;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(exit_code, 0u);
  char ini[MAX_PATH] = {};
  GetWindowsDirectoryA(ini, sizeof ini);
  EXPECT_NE(GetFileAttributesA((std::string(ini) + "\\vezidide.ini").c_str()),
            INVALID_FILE_ATTRIBUTES);
}

}  // namespace
