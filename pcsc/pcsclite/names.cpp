// SPDX-License-Identifier: BSD-3-Clause
// Reader names between pcsc-lite and the library: strips pcsc-lite's " XX YY" ending, numbers
// the readers of equal names and translates a presented name back.
#include "pcsc/pcsclite/names.h"

#include <cstring>

namespace pcsc::names {

namespace {

// " XX YY": a blank, two hex digits, a blank, two hex digits.
constexpr size_t kSuffixLength = 6;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool HasSuffix(std::string_view name) {
  // Something must stand in front of the ending, or there is no reader name left.
  if (name.size() <= kSuffixLength) return false;
  const char* end = name.data() + name.size() - kSuffixLength;
  return end[0] == ' ' && IsHexDigit(end[1]) && IsHexDigit(end[2]) && end[3] == ' ' &&
         IsHexDigit(end[4]) && IsHexDigit(end[5]);
}

}  // namespace

size_t BaseLength(std::string_view name) {
  return HasSuffix(name) ? name.size() - kSuffixLength : name.size();
}

ReaderList Present(const char* multi_string, size_t length) {
  ReaderList readers;
  if (multi_string == nullptr) return readers;
  size_t pos = 0;
  while (pos < length && multi_string[pos] != '\0') {
    const size_t size = strnlen(multi_string + pos, length - pos);
    const std::string_view native(multi_string + pos, size);
    pos += size + 1;

    Reader reader;
    reader.native = std::string(native);
    if (!HasSuffix(native)) {
      reader.presented = reader.native;
    } else {
      // The instance number counts the earlier readers with the same name less the ending.
      const std::string_view base = native.substr(0, BaseLength(native));
      unsigned instance = 0;
      for (const Reader& earlier : readers) {
        const std::string_view other = earlier.native;
        if (HasSuffix(other) && other.substr(0, BaseLength(other)) == base) ++instance;
      }
      reader.presented = std::string(base) + " " + std::to_string(instance);
    }
    readers.push_back(std::move(reader));
  }
  return readers;
}

std::string PresentedMultiString(const ReaderList& readers) {
  std::string multi;
  for (const Reader& reader : readers) {
    multi += reader.presented;
    multi += '\0';
  }
  multi += '\0';
  return multi;
}

const std::string* ToNative(const ReaderList& readers, std::string_view presented) {
  for (const Reader& reader : readers) {
    if (reader.presented == presented) return &reader.native;
  }
  return nullptr;
}

}  // namespace pcsc::names
