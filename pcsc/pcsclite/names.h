// SPDX-License-Identifier: BSD-3-Clause
// Reader names between pcsc-lite and the library. pcsc-lite ends every reader name in " XX YY"
// (two groups of two hex digits); the library sees the name without that ending, a blank and the
// reader's instance number among the readers of the same name ("Maker Model 00 01" becomes
// "Maker Model 1" when it is the second such reader). Pure functions, so they can be checked
// without a daemon; the backend keeps the list between calls.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pcsc::names {

// A reader as pcsc-lite names it and as the library sees it.
struct Reader {
  std::string native;
  std::string presented;
};
using ReaderList = std::vector<Reader>;

// Length of `name` without pcsc-lite's " XX YY" ending; the whole length when it has none.
size_t BaseLength(std::string_view name);

// The readers of a pcsc-lite multi-string of `length` bytes (names ended by NUL, the list by an
// empty name or by the end of the bytes), in pcsc-lite's order, with their presented names.
ReaderList Present(const char* multi_string, size_t length);

// The presented names as a multi-string: each name ended by NUL, the list by one more NUL.
std::string PresentedMultiString(const ReaderList& readers);

// The pcsc-lite name of the reader presented as `presented`; nullptr when no reader is.
const std::string* ToNative(const ReaderList& readers, std::string_view presented);

}  // namespace pcsc::names
