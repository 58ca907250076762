// SPDX-License-Identifier: BSD-3-Clause
// Module paths, library files and the Windows directory on Windows. The module that holds an
// address is the allocation that the address lies in (VirtualQuery): that works on every system
// the library runs on, also those without GetModuleHandleExA. A library file is found with
// SearchPathA, along the search path of programs and libraries.
#include "platform/library_path.h"

#include <windows.h>

namespace platform {

bool LibraryPathOf(const void* address, char* path, uint32_t size) {
  if (!path || size == 0) return false;
  path[0] = '\0';
  if (!address) return false;
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(address, &info, sizeof info) == 0 || !info.AllocationBase) return false;
  const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), path, size);
  if (length == 0 || length >= size) {  // not a module, or the path was cut
    path[0] = '\0';
    return false;
  }
  return true;
}

bool FindLibraryFile(const char* file_name, const void* /*address*/, char* path, uint32_t size) {
  if (!path || size == 0) return false;
  path[0] = '\0';
  if (!file_name || !*file_name) return false;
  char* name_part = nullptr;
  const DWORD length = SearchPathA(nullptr, file_name, nullptr, size, path, &name_part);
  if (length == 0 || length >= size) {
    path[0] = '\0';
    return false;
  }
  return true;
}

bool WindowsDirectory(char* path, uint32_t size) {
  if (!path || size == 0) return false;
  const UINT length = GetWindowsDirectoryA(path, size);
  if (length == 0 || length >= size) {
    path[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace platform
