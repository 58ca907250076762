// SPDX-License-Identifier: BSD-3-Clause
// Helpers of the fuzz targets: a property check that stops the run with a report, caller buffers
// of exactly the size handed over (so that the sanitizers see every byte written or read past
// them), and a scratch file in a private temporary folder.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "tests/common/test_util.h"

// A property that must hold for every input; a violation ends the run as a crash would, so that
// libFuzzer keeps the input and the replay fails.
#define FUZZ_CHECK(condition, ...)                                                         \
  do {                                                                                     \
    if (!(condition)) {                                                                    \
      fprintf(stderr, "%s:%d: property violated: %s\n  ", __FILE__, __LINE__, #condition); \
      fprintf(stderr, __VA_ARGS__);                                                        \
      fprintf(stderr, "\n");                                                               \
      abort();                                                                             \
    }                                                                                      \
  } while (0)

namespace fuzzutil {

// A heap buffer of exactly `size` bytes, filled with a pattern that the callee must overwrite to
// leave a terminator. Zero bytes still get a valid (one-past-the-end) allocation.
class ExactBuffer {
 public:
  static constexpr char kFill = static_cast<char>(0xA5);
  explicit ExactBuffer(size_t size) : size_(size), bytes_(new char[size ? size : 1]) {
    std::memset(bytes_.get(), kFill, size ? size : 1);
  }
  char* data() { return bytes_.get(); }
  const char* data() const { return bytes_.get(); }
  size_t size() const { return size_; }
  // Whether a terminator lies in the first `count` bytes (count capped at the size).
  bool TerminatedWithin(size_t count) const {
    return std::memchr(bytes_.get(), '\0', count < size_ ? count : size_) != nullptr;
  }

 private:
  size_t size_;
  std::unique_ptr<char[]> bytes_;
};

// A file in a folder of this process's own, removed at the end of the process.
inline std::string ScratchFile(const char* name) {
  static testutil::TempDir folder;
  return folder.File(name);
}

inline std::string AsText(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace fuzzutil
