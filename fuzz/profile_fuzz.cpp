// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target for the private-profile service, which reads an existing vezidide.ini: the input is
// the file. Sections, keys and values are queried into heap buffers of exactly the size handed
// over, from one byte to more than enough. Properties:
//  - the result is below the buffer's size and the answer is terminated there (a list by one
//    more terminator), and a smaller buffer gets a leading part of what a large one gets;
//  - a value written through the service is answered afterwards, every other key keeps its
//    value and every section and key list stays as it was, also after the key is deleted again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "config/profile.h"
#include "fuzz/fuzz_check.h"

namespace {

using Names = std::vector<std::string>;

constexpr size_t kMaxNames = 8;  // sections, and keys per section, looked at
constexpr char kDefault[] = "<none>  ";
constexpr char kDefaultAnswered[] = "<none>";  // trailing blanks of a default are dropped
constexpr char kWrittenValue[] = "fuzz value";

// One query into an exact-size buffer; checks the answer's shape and returns its bytes up to the
// result (a list keeps its inner terminators).
std::string Get(const char* section, const char* key, uint32_t size, const std::string& path) {
  const bool list = section == nullptr || key == nullptr;
  // Lists are asked for with an empty default, so that an empty section answers an empty list.
  fuzzutil::ExactBuffer buffer(size);
  const uint32_t result =
      ProfileGetString(section, key, list ? "" : kDefault, buffer.data(), size, path.c_str());
  if (size == 0) {
    FUZZ_CHECK(result == 0, "a buffer of no size got %u", result);
    return std::string();
  }
  FUZZ_CHECK(result < size, "result %u for a buffer of %u bytes", result, size);
  FUZZ_CHECK(buffer.data()[result] == '\0', "no terminator at %u of %u", result, size);
  if (list && result > 0) {
    // The list's last name is followed by one more terminator: before the result when the list
    // fitted, after it when it was cut.
    FUZZ_CHECK(buffer.data()[result - 1] == '\0' ||
                   (result + 1 < size && buffer.data()[result + 1] == '\0'),
               "a list of %u bytes in %u is not ended by two terminators", result, size);
  }
  return std::string(buffer.data(), result);
}

// The answer into buffers of several sizes, each a leading part of the answer into one large
// enough for anything the file holds.
std::string GetEverySize(const char* section, const char* key, uint32_t large,
                         const std::string& path) {
  const std::string whole = Get(section, key, large, path);
  const uint32_t length = static_cast<uint32_t>(whole.size());
  const uint32_t sizes[] = {0, 1, 2, 3, 7, length, length + 1, length + 2};
  for (const uint32_t size : sizes) {
    if (size >= large) continue;
    const std::string part = Get(section, key, size, path);
    if (size == 0) continue;
    const bool list = section == nullptr || key == nullptr;
    FUZZ_CHECK(part.size() <= whole.size() && whole.compare(0, part.size(), part) == 0 &&
                   (list || part.size() == std::min<size_t>(whole.size(), size - 1)),
               "the answer into %u bytes is not the start of the whole answer", size);
  }
  return whole;
}

Names SplitNames(const std::string& list) {
  Names names;
  for (size_t at = 0; at < list.size();) {
    const std::string name(list.c_str() + at);
    names.push_back(name);
    at += name.size() + 1;
  }
  return names;
}

std::string Upper(std::string name) {
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return name;
}

bool ContainsCaseBlind(const Names& names, const std::string& name) {
  for (const std::string& listed : names) {
    if (Upper(listed) == Upper(name)) return true;
  }
  return false;
}

std::string NewName(const Names& names, const std::string& base) {
  std::string name = base;
  for (int n = 2; ContainsCaseBlind(names, name); ++n)
    name = base + std::to_string(n);
  return name;
}

// What the file answers: its sections, each with its key list and every key's value.
struct Contents {
  Names sections;
  std::map<std::string, Names> keys;
  std::map<std::pair<std::string, std::string>, std::string> values;
};

Contents ReadContents(uint32_t large, const std::string& path, bool every_size) {
  Contents contents;
  contents.sections = SplitNames(every_size ? GetEverySize(nullptr, nullptr, large, path)
                                            : Get(nullptr, nullptr, large, path));
  for (size_t s = 0; s < contents.sections.size() && s < kMaxNames; ++s) {
    const std::string& section = contents.sections[s];
    const bool sizes = every_size && s == 0;
    const Names keys = SplitNames(sizes ? GetEverySize(section.c_str(), nullptr, large, path)
                                        : Get(section.c_str(), nullptr, large, path));
    contents.keys[section] = keys;
    for (size_t k = 0; k < keys.size() && k < kMaxNames; ++k) {
      const char* key = keys[k].c_str();
      const std::string value = sizes && k < 4 ? GetEverySize(section.c_str(), key, large, path)
                                               : Get(section.c_str(), key, large, path);
      contents.values[{section, keys[k]}] = value;
      if (every_size && s == 0 && k == 0) {
        // Letter case does not count in names.
        FUZZ_CHECK(Get(Upper(section).c_str(), Upper(keys[k]).c_str(), large, path) == value,
                   "[%s] %s answers otherwise in capitals", section.c_str(), key);
      }
    }
  }
  return contents;
}

void CheckSame(const Contents& before, const Contents& after, const char* what) {
  FUZZ_CHECK(before.sections == after.sections, "the section list changed (%s)", what);
  FUZZ_CHECK(before.keys == after.keys, "a key list changed (%s)", what);
  for (const auto& [where, value] : before.values) {
    const auto found = after.values.find(where);
    FUZZ_CHECK(found != after.values.end() && found->second == value,
               "[%s] %s was \"%s\", is \"%s\" (%s)", where.first.c_str(), where.second.c_str(),
               value.c_str(), found == after.values.end() ? "-" : found->second.c_str(), what);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x10000) return 0;
  const std::string path = fuzzutil::ScratchFile("vezidide.ini");
  const std::string input = fuzzutil::AsText(data, size);
  testutil::WriteFile(path, input);
  // Room for any answer the file can give, and the default.
  const uint32_t large = static_cast<uint32_t>(size) + sizeof kDefault + 2;
  const Contents before = ReadContents(large, path, true);
  if (!ContainsCaseBlind(before.sections, "no such section")) {
    FUZZ_CHECK(Get("no such section", "no such key", large, path) == kDefaultAnswered,
               "a missing key does not answer the default");
  }
  // Names with a NUL inside cannot be asked for by name: the rest holds for text files only.
  if (input.find('\0') != std::string::npos) return 0;

  const std::string section =
      before.sections.empty() ? NewName(before.sections, "fuzz-section") : before.sections[0];
  const auto listed = before.keys.find(section);
  const std::string key =
      NewName(listed == before.keys.end() ? Names() : listed->second, "fuzz-key");
  FUZZ_CHECK(ProfileWriteString(section.c_str(), key.c_str(), kWrittenValue, path.c_str()),
             "cannot write [%s] %s (error %u)", section.c_str(), key.c_str(), ProfileLastError());
  const uint32_t grown = large + static_cast<uint32_t>(section.size() + key.size()) + 32;
  FUZZ_CHECK(Get(section.c_str(), key.c_str(), grown, path) == kWrittenValue,
             "the value written is not answered");
  Contents after = ReadContents(grown, path, false);
  // Take the new key (and the new section) out again; all the rest must be as it was. Every
  // listed spelling of the section's name (letter case aside) answers the same section.
  if (before.sections.empty()) {
    FUZZ_CHECK(after.sections == Names{section}, "the new section is not the only one");
    FUZZ_CHECK(after.keys[section] == Names{key}, "the new section holds more than the new key");
    after.sections.clear();
    after.keys.clear();
    after.values.clear();
  }
  for (auto& [name, keys] : after.keys) {
    if (Upper(name) != Upper(section)) continue;
    FUZZ_CHECK(!keys.empty() && keys.back() == key, "the new key is not the section's last");
    keys.pop_back();
    after.values.erase({name, key});
  }
  CheckSame(before, after, "after a write");

  FUZZ_CHECK(ProfileWriteString(section.c_str(), key.c_str(), nullptr, path.c_str()),
             "cannot delete [%s] %s (error %u)", section.c_str(), key.c_str(), ProfileLastError());
  Contents deleted = ReadContents(grown, path, false);
  if (before.sections.empty()) {
    // The section stays, now empty.
    FUZZ_CHECK(deleted.sections == Names{section}, "the emptied section is gone");
    deleted.sections.clear();
    deleted.keys.erase(section);
  }
  CheckSame(before, deleted, "after a delete");
  return 0;
}
