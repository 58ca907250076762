// SPDX-License-Identifier: BSD-3-Clause
// The helpers of test_util.h that differ between the systems: the Windows side.
#include <stdlib.h>
#include <windows.h>

#include <string>

#include "tests/common/test_util.h"

namespace testutil {

namespace {

// Calls `visit` with the name of every entry of folder `path` but "." and "..", and whether it
// is a folder.
template <typename Visit>
void ForEachEntry(const std::string& path, Visit visit) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..")
      visit(name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

}  // namespace

void SetEnv(const char* name, const char* value) {
  // An empty value removes the variable, from the runtime's copy and the system's alike.
  _putenv_s(name, value ? value : "");
}

std::string MakeTempFolder() {
  char base[MAX_PATH];
  const DWORD length = GetTempPathA(sizeof base, base);
  if (length == 0 || length >= sizeof base) return std::string();
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string path = std::string(base) + "kvtest." + std::to_string(GetCurrentProcessId()) +
                             "." + std::to_string(counter++);
    if (CreateDirectoryA(path.c_str(), nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return std::string();
}

void MakeFolders(const std::string& path) {
  for (size_t at = path.find_first_of("/\\", 1); at != std::string::npos;
       at = path.find_first_of("/\\", at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
}

void RemoveTree(const std::string& path) {
  ForEachEntry(path, [&](const std::string& name, bool folder) {
    const std::string child = path + "\\" + name;
    if (folder) {
      RemoveTree(child);
    } else {
      SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(child.c_str());
    }
  });
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryA(path.c_str());
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SetFileTime(const std::string& path, int64_t when) {
  // FILETIME counts 100 ns from 1601; 1970 is 11644473600 s later.
  const uint64_t ticks = static_cast<uint64_t>(when + 11644473600LL) * 10000000u;
  const FILETIME time = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool set = ::SetFileTime(file, nullptr, &time, &time) != 0;
  CloseHandle(file);
  return set;
}

int CountFiles(const std::string& path) {
  int entries = 0;
  ForEachEntry(path, [&](const std::string& name, bool) { entries += name[0] != '.'; });
  return entries;
}

uint32_t ProcessId() {
  return GetCurrentProcessId();
}

bool UnderWine() {
  // Wine's ntdll has an export of its own that Windows' lacks.
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void RemoveSharedObjects(const std::string&) {}

}  // namespace testutil
