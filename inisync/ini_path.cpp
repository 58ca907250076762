// SPDX-License-Identifier: BSD-3-Clause
// Where vezidide.ini lies: in the Windows directory. Apart from the run (flow.cpp), which calls
// the CT-API, so that it links without a CT-API library.
#include "inisync/flow.h"
#include "platform/file.h"
#include "support/strings.h"

namespace inisync {

namespace {

constexpr char kIniName[] = "vezidide.ini";

}  // namespace

bool IniFilePath(const char* windows_directory, char* path, uint32_t size) {
  if (!windows_directory || !path || size == 0) return false;
  path[0] = '\0';
  const uint32_t length = SafeStrLen(windows_directory);
  // A root folder ("C:\\", "/") ends in the separator already.
  const bool separated = length > 0 && windows_directory[length - 1] == platform::PathSeparator();
  const char separator[2] = {separated ? '\0' : platform::PathSeparator(), '\0'};
  if (length + SafeStrLen(separator) + sizeof kIniName > size) return false;
  SafeStrCopy(path, size, windows_directory);
  SafeStrAppend(path, size, separator);
  SafeStrAppend(path, size, kIniName);
  return true;
}

}  // namespace inisync
