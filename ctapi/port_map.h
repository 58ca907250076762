// SPDX-License-Identifier: BSD-3-Clause
// The port map: a small text file in which users give a port to any PC/SC reader, beyond the
// readers the library knows by name. Lines "PORT = READER NAME PREFIX [display] [pinpad]";
// blank lines and lines starting with '#' say nothing. The file is CTKORVIN_PORTS, by default
// /etc/ctkorvin/ports.conf. CT_init consults it only when the port's own reader names and the
// table search found no reader.
#pragma once

#include <cstdint>
#include <vector>

#include "ctapi/slots.h"

namespace ctapi {

constexpr uint32_t kMaxMappedPort = 0x1FF;  // above, a port number would carry the 0x200 flag

struct PortMapping {
  uint32_t port;
  char prefix[kReaderNameSize];  // the reader's PC/SC name starts with this
  uint8_t capabilities;          // kCapDisplay, kCapPinPad as the flags say
};

enum class PortMapLine { kEntry, kNothing, kBad };

// Reads one line (`length` bytes, no line end). kBad sets *problem to what is wrong with it.
PortMapLine ParsePortMapLine(const char* line, uint32_t length, PortMapping* out,
                             const char** problem);

// The path of the port map.
const char* PortMapPath();

struct PortMapProblem {
  uint32_t line;        // its number, from 1
  const char* problem;  // what is wrong with it
};

// Reads the whole port map: its entries in file order and the lines that are wrong. False when
// there is no map to read.
bool ReadPortMap(std::vector<PortMapping>* entries, std::vector<PortMapProblem>* problems);

// The mapping of `port` in the port map; false when the map has none (or there is no map). Bad
// lines are reported to the error log with the file's path and the line's number.
bool FindPortMapping(uint32_t port, PortMapping* out);

}  // namespace ctapi
