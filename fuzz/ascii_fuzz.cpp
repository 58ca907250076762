// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target for ASCII configuration files through the front end: the input is the file. It is
// opened for reading and writing, every section, entry list and value is queried into buffers of
// exact sizes, an entry is added (and a scratch entry and section added and deleted again), and
// the file is closed, which writes it back. Properties:
//  - a write-back never loses a line that was read: the file written holds every line of the
//    input as the reader keeps it (trimmed), in order, plus the added lines and nothing else;
//  - a file is written back exactly when it was read to its end, and a file not written back is
//    left as it was;
//  - a value or list answer fits the buffer and is terminated, a "too small" answer names a size
//    that is then enough;
//  - written again with one value changed, the file differs in that one line only.
// The switches (sorted indexes, file-info cache) come from the input's length.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/ascii.h"
#include "config/frontend.h"
#include "fuzz/fuzz_check.h"
#include "support/result.h"

namespace {

using Lines = std::vector<std::string>;

constexpr size_t kMaxQueried = 64;  // sections, and entries per section, looked at
constexpr char kEndOfFileMark = 0x1A;
constexpr char kAddedValue[] = "fuzz value";
constexpr char kAlteredValue[] = "altered value";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsLineEnd(char c) {
  return c == '\r' || c == '\n' || c == kEndOfFileMark || c == '\0';
}

// A line as the reader keeps it: blanks and tabs trimmed from both ends; an entry line (an "="
// before any "[", not a comment) loses the blanks before "=" and after it.
std::string Kept(const std::string& raw) {
  size_t begin = 0;
  size_t end = raw.size();
  while (begin < end && IsBlank(raw[begin]))
    ++begin;
  while (end > begin && IsBlank(raw[end - 1]))
    --end;
  const std::string text = raw.substr(begin, end - begin);
  if (text.empty() || text[0] == '#' || text[0] == ';') return text;
  const size_t mark = text.find_first_of("[=");
  if (mark == std::string::npos || text[mark] != '=') return text;
  size_t name_end = mark;
  while (name_end > 0 && IsBlank(text[name_end - 1]))
    --name_end;
  size_t value = mark + 1;
  while (value < text.size() && IsBlank(text[value]))
    ++value;
  return text.substr(0, name_end) + "=" + text.substr(value);
}

// The lines of `bytes` as the file layer hands them over: a line ends at CR, LF, CR LF, NUL or
// an end-of-file mark inside it; an end-of-file mark at the start of a line ends the file, and
// the file counts as read to its end only when nothing follows that mark.
Lines ReadLines(const std::string& bytes, bool* complete) {
  Lines lines;
  size_t at = 0;
  for (;;) {
    if (at >= bytes.size() || bytes[at] == kEndOfFileMark) {
      *complete = bytes.size() <= at + 1;
      return lines;
    }
    size_t end = at;
    while (end < bytes.size() && !IsLineEnd(bytes[end]))
      ++end;
    lines.push_back(Kept(bytes.substr(at, end - at)));
    if (end == bytes.size()) {
      at = end;
    } else {
      at = end + (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n' ? 2 : 1);
    }
  }
}

// The lines of a file written back: each ends with CR LF, and none holds a line end.
Lines WrittenLines(const std::string& bytes) {
  Lines lines;
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t end = bytes.find("\r\n", at);
    FUZZ_CHECK(end != std::string::npos, "the written file ends without CR LF");
    lines.push_back(bytes.substr(at, end - at));
    at = end + 2;
  }
  for (const std::string& line : lines) {
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos, "a line end inside a line");
  }
  return lines;
}

// The names of a list answer of `length` bytes: each with its terminator, the list's own final
// terminator at buffer[length].
Lines SplitNames(const char* buffer, uint32_t length) {
  Lines names;
  for (uint32_t at = 0; at < length;) {
    const std::string name(buffer + at);
    names.push_back(name);
    at += static_cast<uint32_t>(name.size()) + 1;
  }
  return names;
}

// Queries into buffers of exact sizes: one byte first; a "too small" answer must name a larger
// size, that size must then be enough and one byte less must not. Returns the answer's bytes.
bool Query(cfg::CfgHandle* handle, const char* section, const char* entry, std::string* answer) {
  const bool list = section == nullptr || entry == nullptr;
  uint32_t size = 1;
  for (int attempt = 0; attempt < 2; ++attempt) {
    fuzzutil::ExactBuffer buffer(size);
    uint32_t length = size;
    const uint32_t result = cfg::QueryData(handle, section, entry, buffer.data(), &length);
    if (result == kErrBufferTooSmall) {
      FUZZ_CHECK(attempt == 0, "a buffer of the size asked for is still too small (%u)", size);
      FUZZ_CHECK(length > size, "too small for %u bytes, but asks for %u", size, length);
      if (length > 1) {
        fuzzutil::ExactBuffer smaller(length - 1);
        uint32_t smaller_length = length - 1;
        FUZZ_CHECK(cfg::QueryData(handle, section, entry, smaller.data(), &smaller_length) ==
                       kErrBufferTooSmall,
                   "one byte less than the size asked for is enough");
      }
      size = length;
      continue;
    }
    if (result != kResultOk) return false;
    if (list) {
      FUZZ_CHECK(length < size && buffer.data()[length] == '\0' &&
                     (length == 0 || buffer.data()[length - 1] == '\0'),
                 "a list of %u bytes in a buffer of %u is not terminated", length, size);
    } else {
      FUZZ_CHECK(length >= 1 && length <= size && buffer.data()[length - 1] == '\0' &&
                     std::string(buffer.data()).size() == length - 1,
                 "a value of %u bytes in a buffer of %u", length, size);
    }
    answer->assign(buffer.data(), length);
    return true;
  }
  return false;
}

bool Contains(const Lines& names, const std::string& name) {
  for (const std::string& listed : names) {
    if (listed == name) return true;
  }
  return false;
}

// `base`, or `base` with a number, that is none of `names`.
std::string NewName(const Lines& names, const std::string& base) {
  std::string name = base;
  for (int n = 2; Contains(names, name); ++n)
    name = base + std::to_string(n);
  return name;
}

struct Change {
  std::string section;  // the first section of the file, or a new one
  bool new_section = false;
  std::string added_entry;
  std::string first_entry;  // the section's first entry, if it has one
};

// Reads everything the handle offers and makes the changes. False when a query failed.
bool ReadAndChange(cfg::CfgHandle* handle, Change* change) {
  std::string answer;
  if (!Query(handle, nullptr, nullptr, &answer)) return false;
  const Lines sections = SplitNames(answer.data(), static_cast<uint32_t>(answer.size()));
  Lines first_entries;
  for (size_t s = 0; s < sections.size() && s < kMaxQueried; ++s) {
    const char* section = sections[s].c_str();
    if (!Query(handle, section, nullptr, &answer)) continue;
    const Lines entries = SplitNames(answer.data(), static_cast<uint32_t>(answer.size()));
    for (size_t e = 0; e < entries.size() && e < kMaxQueried; ++e) {
      std::string value;
      FUZZ_CHECK(Query(handle, section, entries[e].c_str(), &value),
                 "the listed entry \"%s\" of [%s] has no value", entries[e].c_str(), section);
    }
    if (s == 0) first_entries = entries;
  }
  change->new_section = sections.empty();
  change->section = change->new_section ? NewName(sections, "fuzz-section") : sections[0];
  if (!first_entries.empty()) change->first_entry = first_entries[0];
  change->added_entry = NewName(first_entries, "fuzz-entry");
  const char* section = change->section.c_str();
  FUZZ_CHECK(cfg::WriteData(handle, section, change->added_entry.c_str(), kAddedValue,
                            sizeof kAddedValue) == kResultOk,
             "cannot add an entry");
  // A scratch entry and a scratch section come and go again without a trace.
  const std::string gone_entry = NewName(first_entries, "fuzz-gone");
  FUZZ_CHECK(cfg::WriteData(handle, section, gone_entry.c_str(), "x", 2) == kResultOk &&
                 cfg::WriteData(handle, section, gone_entry.c_str(), nullptr, 0) == kResultOk,
             "cannot add and delete an entry");
  const std::string gone_section = NewName(sections, "fuzz-gone-section");
  FUZZ_CHECK(cfg::WriteData(handle, gone_section.c_str(), "e", "v", 2) == kResultOk &&
                 cfg::WriteData(handle, gone_section.c_str(), nullptr, nullptr, 0) == kResultOk,
             "cannot add and delete a section");
  return true;
}

// Every line read is in the written file, in order, with the added lines and nothing else.
void CheckNothingLost(const Lines& read, const Lines& written, const Change& change) {
  Lines added = {change.added_entry + "=" + kAddedValue};
  if (change.new_section) added.insert(added.begin(), "[" + change.section + "]");
  FUZZ_CHECK(written.size() == read.size() + added.size(), "%zu lines read, %zu written",
             read.size(), written.size());
  size_t at = 0;
  for (const std::string& line : read) {
    while (at < written.size() && written[at] != line)
      ++at;
    FUZZ_CHECK(at < written.size(), "the line \"%s\" was lost", line.c_str());
    ++at;
  }
  for (const std::string& line : added) {
    bool found = false;
    for (const std::string& w : written)
      found = found || w == line;
    FUZZ_CHECK(found, "the added line \"%s\" is missing", line.c_str());
  }
}

// Opens the written file again, changes the first entry's value and writes it back: exactly that
// line differs.
void CheckOneLineChanged(const std::string& path, const Change& change, const Lines& before) {
  const std::string entry = change.first_entry.empty() ? change.added_entry : change.first_entry;
  uint32_t type = cfg::kTypeAscii;
  uint32_t open_result = 0;
  cfg::CfgHandle* handle = nullptr;
  FUZZ_CHECK(cfg::OpenFile(path.c_str(), &type, &open_result, &handle) == kResultOk,
             "the file written cannot be opened again");
  FUZZ_CHECK(cfg::WriteData(handle, change.section.c_str(), entry.c_str(), kAlteredValue,
                            sizeof kAlteredValue) == kResultOk,
             "cannot change the value of \"%s\"", entry.c_str());
  FUZZ_CHECK(cfg::CloseFile(handle) == kResultOk, "the file written cannot be written again");
  const Lines after = WrittenLines(testutil::ReadFile(path));
  FUZZ_CHECK(after.size() == before.size(), "%zu lines became %zu", before.size(), after.size());
  size_t changed = 0;
  for (size_t i = 0; i < after.size(); ++i) {
    if (after[i] == before[i]) continue;
    ++changed;
    FUZZ_CHECK(before[i].compare(0, entry.size() + 1, entry + "=") == 0 &&
                   after[i] == entry + "=" + kAlteredValue,
               "line %zu \"%s\" became \"%s\"", i, before[i].c_str(), after[i].c_str());
  }
  FUZZ_CHECK(changed <= 1, "%zu lines changed for one value", changed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = fuzzutil::AsText(data, size);
  const std::string path = fuzzutil::ScratchFile("fuzz.ini");
  // Parsed files are remembered by path, size and time; each input starts afresh.
  AsciiResetFileInfoCache();
  cfg::Init(size & 1, 0, size & 2);
  testutil::WriteFile(path, input);

  uint32_t type = cfg::kTypeAscii;
  uint32_t open_result = 0;
  cfg::CfgHandle* handle = nullptr;
  if (cfg::OpenFile(path.c_str(), &type, &open_result, &handle) != kResultOk) return 0;
  Change change;
  const bool changed = ReadAndChange(handle, &change);
  const uint32_t closed = cfg::CloseFile(handle);
  if (!changed) return 0;

  bool complete = false;
  const Lines read = ReadLines(input, &complete);
  FUZZ_CHECK((closed == kResultOk) == complete, "written back: %s, read to the end: %s",
             closed == kResultOk ? "yes" : "no", complete ? "yes" : "no");
  const std::string output = testutil::ReadFile(path);
  if (closed != kResultOk) {
    FUZZ_CHECK(output == input, "a file not written back has changed");
    return 0;
  }
  const Lines written = WrittenLines(output);
  CheckNothingLost(read, written, change);
  CheckOneLineChanged(path, change, written);
  return 0;
}
