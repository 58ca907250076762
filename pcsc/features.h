// SPDX-License-Identifier: BSD-3-Clause
// The feature list of PC/SC part 10, as a reader answers the feature request
// (PlatformControlCode(kFeatureRequestFunction)): entries of a tag, a length and, for each
// feature, its control code in four bytes, most significant first.
#pragma once

#include <cstdint>

namespace pcsc {

constexpr uint8_t kFeatureVerifyPinDirect = 0x06;
constexpr uint8_t kFeatureModifyPinDirect = 0x07;

// The control code of `feature` in the `length` bytes of `list`; 0 when the list lacks it. An
// entry that runs past the list ends the walk.
inline uint32_t FeatureControlCode(const uint8_t* list, uint32_t length, uint8_t feature) {
  for (uint32_t at = 0; at + 2 <= length;) {
    const uint32_t value_length = list[at + 1];
    if (length - at - 2 < value_length) break;
    if (list[at] == feature && value_length == 4) {
      return static_cast<uint32_t>(list[at + 2]) << 24 | static_cast<uint32_t>(list[at + 3]) << 16 |
             static_cast<uint32_t>(list[at + 4]) << 8 | list[at + 5];
    }
    at += 2 + value_length;
  }
  return 0;
}

}  // namespace pcsc
