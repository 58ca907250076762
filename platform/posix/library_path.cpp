// SPDX-License-Identifier: BSD-3-Clause
// Module paths and the Windows directory on POSIX: the dynamic loader names the module that
// holds an address; a relative name (the main program started by a relative path) is made
// absolute against the current folder.
#include "platform/library_path.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

namespace platform {
namespace {

constexpr char kDefaultWindowsDirectory[] = "/etc";

bool CopyPath(const char* text, char* path, uint32_t size) {
  const size_t length = strlen(text);
  if (length + 1 > size) return false;
  memcpy(path, text, length + 1);
  return true;
}

}  // namespace

bool LibraryPathOf(const void* address, char* path, uint32_t size) {
  if (!path || size == 0) return false;
  path[0] = '\0';
  if (!address) return false;
  Dl_info info{};
  if (dladdr(address, &info) == 0 || !info.dli_fname || info.dli_fname[0] == '\0') return false;
  if (info.dli_fname[0] == '/') {
    if (CopyPath(info.dli_fname, path, size)) return true;
    path[0] = '\0';
    return false;
  }
  char resolved[PATH_MAX];
  if (!realpath(info.dli_fname, resolved) || !CopyPath(resolved, path, size)) {
    path[0] = '\0';
    return false;
  }
  return true;
}

bool FindLibraryFile(const char* /*file_name*/, const void* address, char* path, uint32_t size) {
  return LibraryPathOf(address, path, size);
}

bool WindowsDirectory(char* path, uint32_t size) {
  if (!path || size == 0) return false;
  const char* folder = getenv("WINDIR");
  if (!folder || folder[0] == '\0') folder = kDefaultWindowsDirectory;
  if (CopyPath(folder, path, size)) return true;
  path[0] = '\0';
  return false;
}

}  // namespace platform
