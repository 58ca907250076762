// SPDX-License-Identifier: BSD-3-Clause
// What ctkorvin-cli sees of the machine beside the CT-API: the PC/SC service and its readers,
// which port reaches which reader, the port map, the terminal table and the SinglePort switch.
// Each function gives the lines it would print.
#pragma once

#include <string>
#include <vector>

namespace cli {

// For `list`: the PC/SC readers whose names are not in `reached` (the names the ports that
// opened reported), each with why no port reaches it and the port-map line that would give it
// one.
std::vector<std::string> UnreachedReaderLines(const std::vector<std::string>& reached);

// The lines of the port map that are wrong, as "path:number: problem".
std::vector<std::string> PortMapProblemLines();

// For `diagnose`: the whole picture.
std::vector<std::string> DiagnoseLines();

}  // namespace cli
