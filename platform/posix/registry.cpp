// SPDX-License-Identifier: BSD-3-Clause
// The registry on POSIX: HKEY_LOCAL_MACHINE is the folder HKEY_LOCAL_MACHINE under the folder
// named by CTKORVIN_REGISTRY (default /etc/ctkorvin/registry). A key is a folder (the parts of
// its path separated by "/"), a 32-bit value a file named after the value that holds the number
// as decimal or 0x-hexadecimal text.
#include "platform/registry.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace platform {
namespace {

constexpr char kDefaultRoot[] = "/etc/ctkorvin/registry";

}  // namespace

RegistryResult RegistryReadU32(const char* key, const char* value, uint32_t* out) {
  if (!key || !value || !out) return RegistryResult::kNoKey;
  const char* root = getenv("CTKORVIN_REGISTRY");
  std::string folder = std::string(root && *root ? root : kDefaultRoot) + "/HKEY_LOCAL_MACHINE/";
  for (const char* p = key; *p; ++p)
    folder += *p == '\\' ? '/' : *p;
  struct stat st;
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return RegistryResult::kNoKey;

  FILE* file = fopen((folder + "/" + value).c_str(), "r");
  if (!file) return RegistryResult::kNoValue;
  char text[32] = "";
  bool read = fgets(text, sizeof text, file) != nullptr;
  fclose(file);
  if (!read) return RegistryResult::kNoValue;
  char* end = nullptr;
  errno = 0;
  const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  unsigned long number = strtoul(text, &end, hex ? 16 : 10);
  while (end && (*end == '\n' || *end == '\r' || *end == ' '))
    ++end;
  if (end == text || text[0] == '-' || (end && *end != '\0') || errno != 0 ||
      number > 0xFFFFFFFFul) {
    return RegistryResult::kNoValue;
  }
  *out = static_cast<uint32_t>(number);
  return RegistryResult::kOk;
}

}  // namespace platform
