// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target for pcsc-lite's reader lists: any multi-string the daemon sends is presented and
// every presented name translated back, without reading past the list.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pcsc/pcsclite/names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> list(data, data + size);
  const pcsc::names::ReaderList readers = pcsc::names::Present(list.data(), list.size());
  const std::string presented = pcsc::names::PresentedMultiString(readers);
  for (size_t at = 0; at < presented.size() && presented[at] != '\0';) {
    const std::string name(presented.c_str() + at);
    pcsc::names::ToNative(readers, name);
    at += name.size() + 1;
  }
  return 0;
}
