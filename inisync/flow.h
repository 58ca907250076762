// SPDX-License-Identifier: BSD-3-Clause
// The run of inisync: probe every port through the CT-API, match the names the readers report
// against the reader table, and bring the reader sections of vezidide.ini in the Windows
// directory up to date through the configuration front end in profile mode.
#pragma once

#include <cstdint>

#include "inisync/readers.h"
#include "platform/os_version.h"

namespace inisync {

constexpr int kRunFailed = -1;
constexpr uint32_t kErrOsVersion = 0x81300000;  // the version query failed, or another platform

constexpr uint16_t kFirstPort = 1;
constexpr uint16_t kLastPort = 235;
constexpr uint32_t kStartPauseMs = 30000;  // NT 5 needs time to start its smart-card service
constexpr uint32_t kPathSize = 260;

// Operating-system generation codes; only kGenerationNt5 changes the run.
constexpr uint32_t kGenerationUnknown = 0;
constexpr uint32_t kGenerationNt4 = 40;
constexpr uint32_t kGenerationNt5 = 50;
constexpr uint32_t kGenerationWin95 = 95;
constexpr uint32_t kGenerationWin98 = 98;
constexpr uint32_t kGenerationWin98Se = 99;
constexpr uint32_t kGenerationWinMe = 100;

struct OsGeneration {
  uint32_t code;
  uint32_t build;
};

// Upper-cases `command_line` in place (code page 437) and tells whether it holds "-N".
bool ScanNoWaitSwitch(char* command_line);

// The generation of the system `version` describes; kErrOsVersion without a version or for a
// platform other than the 9x and NT families.
uint32_t ClassifyOsVersion(const platform::OsVersion* version, OsGeneration* generation);

// The row of `entries` (count rows) whose SectionName is the reader name in `response` (length
// bytes, ending in the two status bytes) with blanks made "_"; -1 when none is. A response
// without a name matches no row.
int MatchReaderName(const ReaderEntry* entries, uint32_t count, const uint8_t* response,
                    uint32_t length);

// Writes the path of vezidide.ini in the folder `windows_directory` into `path` of `size`
// bytes, joined with the system's path separator; false when it does not fit.
bool IniFilePath(const char* windows_directory, char* path, uint32_t size);

// The whole run for the command line `command_line` (the arguments after the program name);
// returns the program's exit code: -1 when the run could not start, else the result of
// closing the INI file (0).
int RunInisync(const char* command_line);

}  // namespace inisync
