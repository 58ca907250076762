// SPDX-License-Identifier: BSD-3-Clause
// ctkorvin-cli's look at the machine: PC/SC through the seam, the port naming and the port map of
// the library's own sources, the terminal table as a file, the registry through the platform.
#include "tools/ctkorvin-cli/machine.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>

#include "ctapi/port_map.h"
#include "ctapi/readers.h"
#include "ctapi/slots.h"
#include "pcsc/pcsc.h"
#include "platform/process.h"

namespace cli {
namespace {

constexpr uint32_t kLastKnownPort = 244;

struct PcscReaders {
  uint32_t result = pcsc::kSuccess;  // of establishing a context or listing the readers
  std::vector<std::string> names;
};

PcscReaders ListPcscReaders() {
  PcscReaders readers;
  uint32_t context = 0;
  readers.result = pcsc::SCardEstablishContext(pcsc::kScopeUser, &context);
  if (readers.result != pcsc::kSuccess) return readers;
  char* list = nullptr;
  uint32_t length = pcsc::kAutoAllocate;
  readers.result =
      pcsc::SCardListReadersA(context, nullptr, reinterpret_cast<char*>(&list), &length);
  if (readers.result == pcsc::kSuccess && list) {
    for (uint32_t at = 0; at < length && list[at] != '\0';) {
      readers.names.emplace_back(list + at);
      at += static_cast<uint32_t>(readers.names.back().size()) + 1;
    }
    pcsc::SCardFreeMemory(context, list);
  }
  pcsc::SCardReleaseContext(context);
  return readers;
}

// The port whose own name (or alternate name) is `reader`, or 0.
uint32_t KnownPort(const std::string& reader) {
  for (uint32_t port = 1; port <= kLastKnownPort; ++port) {
    char name[ctapi::kBuiltNameSize];
    ctapi::BuildReaderName(port, name, sizeof name);
    if (reader == name) return port;
    ctapi::BuildAlternateReaderName(port, name, sizeof name);
    if (reader == name) return port;
  }
  return 0;
}

// The port the map gives `reader`, or 0.
uint32_t MappedPort(const std::vector<ctapi::PortMapping>& map, const std::string& reader) {
  for (const ctapi::PortMapping& entry : map) {
    if (reader.compare(0, std::string(entry.prefix).size(), entry.prefix) == 0) return entry.port;
  }
  return 0;
}

// The first port that no known reader's name and no map line takes.
uint32_t FreePort(const std::vector<ctapi::PortMapping>& map, std::set<uint32_t>* taken) {
  for (uint32_t port = 1; port <= ctapi::kMaxMappedPort; ++port) {
    if (ctapi::IsFamilyPort(port) || taken->count(port)) continue;
    bool mapped = false;
    for (const ctapi::PortMapping& entry : map)
      mapped = mapped || entry.port == port;
    if (mapped) continue;
    taken->insert(port);
    return port;
  }
  return 0;
}

std::string ResultText(uint32_t result) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", result);
  return text;
}

void PortMapLines(const std::vector<ctapi::PortMapProblem>& problems,
                  std::vector<std::string>* lines) {
  for (const ctapi::PortMapProblem& problem : problems) {
    lines->push_back(std::string(ctapi::PortMapPath()) + ":" + std::to_string(problem.line) + ": " +
                     problem.problem);
  }
}

void ReaderLines(const PcscReaders& readers, const std::vector<std::string>* reached,
                 const std::vector<ctapi::PortMapping>& map, std::vector<std::string>* lines) {
  std::set<uint32_t> suggested;
  for (const std::string& reader : readers.names) {
    const uint32_t known = KnownPort(reader);
    const uint32_t mapped = MappedPort(map, reader);
    bool on_a_port = known != 0 || mapped != 0;
    if (reached) {
      on_a_port = false;
      for (const std::string& name : *reached)
        on_a_port = on_a_port || name == reader;
    }
    if (on_a_port) {
      if (!reached) {
        lines->push_back("reader \"" + reader + "\": port " +
                         std::to_string(known ? known : mapped) + (known ? "" : " (port map)"));
      }
      continue;
    }
    const std::string why = known || mapped ? "its port does not open it (in use?)"
                                            : "its name is not one the library knows";
    const uint32_t port = known || mapped ? 0 : FreePort(map, &suggested);
    std::string line = "reader \"" + reader + "\": on no port: " + why;
    if (port) {
      line += "; to give it port " + std::to_string(port) + ", add to " + ctapi::PortMapPath() +
              ": " + std::to_string(port) + " = " + reader;
    }
    lines->push_back(line);
  }
}

std::string TablePath() {
  const char* prefix = platform::EnvLookup("CTKORVIN_OBJECT_PREFIX");
  return std::string("/dev/shm/") + (prefix ? prefix : "") + "m_" + ctapi::kSegmentName;
}

void TableLines(std::vector<std::string>* lines) {
  const std::string path = TablePath();
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    lines->push_back("terminal table " + path + ": none yet (made by the first CT_init)");
    return;
  }
  char head[160];
  snprintf(head, sizeof head, "terminal table %s: %lld bytes, owner uid %u, mode %04o",
           path.c_str(), static_cast<long long>(st.st_size), static_cast<unsigned>(st.st_uid),
           static_cast<unsigned>(st.st_mode & 0777));
  lines->push_back(head);
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 4 + ctapi::kSegmentPayloadSize) {
    lines->push_back("  too small to hold four terminals");
    return;
  }
  for (int i = 0; i < ctapi::kSlotCount; ++i) {
    ctapi::TerminalSlot slot;
    bytes.copy(reinterpret_cast<char*>(&slot), sizeof slot, 4 + i * sizeof slot);
    std::string line = "  slot " + std::to_string(i) + ": ";
    if (slot.in_use == 0) {
      lines->push_back(line + "free");
      continue;
    }
    slot.reader_name[ctapi::kReaderNameSize - 1] = '\0';
    line += "port " + std::to_string(slot.port) + ", reader \"" + slot.reader_name + "\", ";
    if (slot.owner_pid == 0) {
      line += "owner not recorded";
    } else {
      const uint64_t start =
          static_cast<uint64_t>(slot.owner_start_high) << 32 | slot.owner_start_low;
      const platform::ProcessState state = platform::GetProcessState(slot.owner_pid, start);
      line +=
          "process " + std::to_string(slot.owner_pid) +
          (state == platform::ProcessState::kRunning ? " (running)"
           : state == platform::ProcessState::kEnded ? " (ended: the next CT_init frees the slot)"
                                                     : "");
    }
    lines->push_back(line);
  }
}

}  // namespace

std::vector<std::string> UnreachedReaderLines(const std::vector<std::string>& reached) {
  std::vector<std::string> lines;
  std::vector<ctapi::PortMapping> map;
  std::vector<ctapi::PortMapProblem> problems;
  ctapi::ReadPortMap(&map, &problems);
  const PcscReaders readers = ListPcscReaders();
  if (readers.result == pcsc::kSuccess) ReaderLines(readers, &reached, map, &lines);
  return lines;
}

std::vector<std::string> PortMapProblemLines() {
  std::vector<ctapi::PortMapping> map;
  std::vector<ctapi::PortMapProblem> problems;
  std::vector<std::string> lines;
  ctapi::ReadPortMap(&map, &problems);
  PortMapLines(problems, &lines);
  return lines;
}

std::vector<std::string> DiagnoseLines() {
  std::vector<std::string> lines;
  const PcscReaders readers = ListPcscReaders();
  if (readers.result == pcsc::kSuccess || readers.result == pcsc::kNoReadersAvailable) {
    lines.push_back("PC/SC service: running, " + std::to_string(readers.names.size()) +
                    " reader(s)");
  } else {
    lines.push_back("PC/SC service: not reachable (" + ResultText(readers.result) + ")");
  }
  std::vector<ctapi::PortMapping> map;
  std::vector<ctapi::PortMapProblem> problems;
  const bool present = ctapi::ReadPortMap(&map, &problems);
  ReaderLines(readers, nullptr, map, &lines);
  lines.push_back(std::string("port map ") + ctapi::PortMapPath() + ": " +
                  (present ? std::to_string(map.size()) + " port(s)" : "none"));
  PortMapLines(problems, &lines);
  TableLines(&lines);
  lines.push_back(std::string("SinglePort: ") + (ctapi::IsSinglePortMode() ? "on" : "off"));
  return lines;
}

}  // namespace cli
