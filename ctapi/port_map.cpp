// SPDX-License-Identifier: BSD-3-Clause
// The port map file: read whole (it is small), line by line.
#include "ctapi/port_map.h"

#include <vector>

#include "platform/file.h"
#include "platform/process.h"
#include "support/errlog.h"
#include "support/strings.h"

namespace ctapi {
namespace {

constexpr char kDefaultPath[] = "/etc/ctkorvin/ports.conf";
constexpr uint32_t kMaxFileSize = 64 * 1024;  // more than any port map needs

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

bool EqualsWord(const char* text, uint32_t length, const char* word) {
  if (length != SafeStrLen(word)) return false;
  for (uint32_t i = 0; i < length; ++i) {
    const char lower = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
    if (lower != word[i]) return false;
  }
  return true;
}

}  // namespace

PortMapLine ParsePortMapLine(const char* line, uint32_t length, PortMapping* out,
                             const char** problem) {
  uint32_t at = 0;
  while (at < length && IsBlank(line[at]))
    ++at;
  if (at == length || line[at] == '#') return PortMapLine::kNothing;
  *out = PortMapping{};
  uint32_t digits = 0;
  while (at < length && line[at] >= '0' && line[at] <= '9') {
    out->port = out->port * 10 + static_cast<uint32_t>(line[at++] - '0');
    if (++digits > 5) break;
  }
  if (digits == 0 || out->port == 0 || out->port > kMaxMappedPort) {
    *problem = "the line does not start with a port from 1 to 511";
    return PortMapLine::kBad;
  }
  while (at < length && IsBlank(line[at]))
    ++at;
  if (at == length || line[at] != '=') {
    *problem = "\"=\" is missing after the port";
    return PortMapLine::kBad;
  }
  ++at;
  while (at < length && IsBlank(line[at]))
    ++at;
  // The flags are the last words; what stands before them is the name.
  uint32_t end = length;
  for (;;) {
    while (end > at && IsBlank(line[end - 1]))
      --end;
    uint32_t word = end;
    while (word > at && !IsBlank(line[word - 1]))
      --word;
    if (word == at) break;  // the name itself keeps at least one word
    if (EqualsWord(line + word, end - word, "display")) {
      out->capabilities |= kCapDisplay;
    } else if (EqualsWord(line + word, end - word, "pinpad")) {
      out->capabilities |= kCapPinPad;
    } else {
      break;
    }
    end = word;
  }
  if (end == at) {
    *problem = "the reader name is missing";
    return PortMapLine::kBad;
  }
  if (end - at >= kReaderNameSize) {
    *problem = "the reader name is longer than 127 characters";
    return PortMapLine::kBad;
  }
  SafeMemCopy(out->prefix, sizeof out->prefix, line + at, end - at);
  out->prefix[end - at] = '\0';
  return PortMapLine::kEntry;
}

const char* PortMapPath() {
  const char* path = platform::EnvLookup("CTKORVIN_PORTS");
  return path && *path ? path : kDefaultPath;
}

bool ReadPortMap(std::vector<PortMapping>* entries, std::vector<PortMapProblem>* problems) {
  platform::FileHandle file = platform::kNoFile;
  if (!platform::FileOpen(PortMapPath(), platform::FileAccess::kRead,
                          platform::FileDisposition::kOpenExisting, {true, true}, &file)) {
    return false;
  }
  std::vector<char> text(kMaxFileSize);
  uint32_t size = 0;
  const bool read = platform::FileRead(file, text.data(), kMaxFileSize, &size);
  platform::FileClose(file);
  if (!read) return false;
  uint32_t number = 0;
  for (uint32_t start = 0; start < size;) {
    uint32_t end = start;
    while (end < size && text[end] != '\n')
      ++end;
    ++number;
    PortMapping entry;
    const char* problem = nullptr;
    const PortMapLine kind = ParsePortMapLine(text.data() + start, end - start, &entry, &problem);
    if (kind == PortMapLine::kEntry) entries->push_back(entry);
    if (kind == PortMapLine::kBad) problems->push_back(PortMapProblem{number, problem});
    start = end + 1;
  }
  if (size == kMaxFileSize) {
    problems->push_back(
        PortMapProblem{number, "the map is longer than 65536 bytes: the rest is not read"});
  }
  return true;
}

bool FindPortMapping(uint32_t port, PortMapping* out) {
  std::vector<PortMapping> entries;
  std::vector<PortMapProblem> problems;
  if (!ReadPortMap(&entries, &problems)) return false;  // no map: nothing is mapped
  for (const PortMapProblem& problem : problems) {
    ErrLogWrite(1, "CTAPI", "PortMap", static_cast<int32_t>(problem.line), kNoCause,
                "%s line %u: %s", PortMapPath(), problem.line, problem.problem);
  }
  for (const PortMapping& entry : entries) {
    if (entry.port == port) {
      *out = entry;
      return true;
    }
  }
  return false;
}

}  // namespace ctapi
