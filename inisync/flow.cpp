// SPDX-License-Identifier: BSD-3-Clause
// The run of inisync, step by step: the command line, the version check and the start-up
// pause, the Windows directory and the library path, the INI file made writable and opened,
// the probe of every port, and the update of the reader sections and the "CardReader" list.
#include "inisync/flow.h"

#include <cstring>

#include <memory>
#include <vector>

#include "config/frontend.h"
#include "config/profile.h"
#include "ctapi/ctapi.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/library_path.h"
#include "support/errlog.h"
#include "support/memory.h"
#include "support/strings.h"

namespace inisync {
namespace {

constexpr uint16_t kCtn = 1;
constexpr uint8_t kVendorReaderName[] = {0x20, 0xFF, 0x00, 0x00, 0x00};
constexpr uint16_t kResponseSize = 256;
constexpr uint32_t kStatusBytes = 2;
constexpr uint32_t kPortValueSize = 12;
constexpr uint32_t kKeyListSize = 512;

constexpr char kLibraryFile[] = "ctkorvin.dll";
constexpr char kCardReader[] = "CardReader";
constexpr char kInstalled[] = "Installed";
constexpr char kActive[] = "Active";
constexpr char kVuzodedPrefix[] = "Vuzoded_Divudaz";

using CardReaderKeys = char[kReaderEntryCount][kNameSize];

// Everything one run keeps: the working copy of the reader table and the keys of
// "CardReader" as the file held them.
struct RunState {
  ReaderEntry entries[kReaderEntryCount];
  CardReaderKeys keys;
  char library_path[kPathSize];
  char ini_path[kPathSize];
  bool no_wait;
  bool added;
  bool removed;
};

bool QueryOsGeneration(OsGeneration* generation) {
  platform::OsVersion version{};
  if (!platform::GetOsVersion(&version)) return false;
  return ClassifyOsVersion(&version, generation) == 0;
}

// Ignores the result: a value that cannot be written leaves the rest of the run as it is.
void Write(cfg::CfgHandle* handle, const char* section, const char* entry, const char* value) {
  cfg::WriteData(handle, section, entry, value, value ? SafeStrLen(value) + 1 : 0);
}

// The read-only bit goes and stays gone: the tool and the home-banking software both write
// the file. A file that is not there yet has no attributes to change.
void MakeWritable(const char* path) {
  platform::FileStatus status{};
  if (!platform::PathStatus(path, &status)) return;
  platform::PathSetAttributes(path, status.attributes & ~platform::kAttrReadOnly);
}

void Probe(ReaderEntry* entries) {
  for (uint32_t pn = kFirstPort; pn <= kLastPort; ++pn) {
    if (CT_init(kCtn, static_cast<uint16_t>(pn)) != OK) continue;
    uint8_t dad = CTAPI_AD_CT;
    uint8_t sad = CTAPI_AD_HOST;
    uint8_t response[kResponseSize] = {};
    uint16_t lenr = kResponseSize;
    bool last = false;
    uint8_t command[sizeof kVendorReaderName];  // the CT-API takes the command as writable
    memcpy(command, kVendorReaderName, sizeof command);
    if (CT_data(kCtn, &dad, &sad, sizeof command, command, &lenr, response) == OK) {
      const int row = MatchReaderName(entries, kReaderEntryCount, response, lenr);
      if (row >= 0) {
        entries[row].Found = 1;
        // A reader that port 1 reaches under another row's port was found by the library's
        // table search, which every further port would find again.
        last = pn == 1 && entries[row].Port != 1;
      }
    }
    CT_close(kCtn);
    if (last) break;
  }
}

void ReadListed(cfg::CfgHandle* handle, ReaderEntry* entries) {
  for (uint32_t i = 0; i < kReaderEntryCount; ++i) {
    ReaderEntry& entry = entries[i];
    // An empty row stands for no reader; section "" is nobody's.
    if (entry.SectionName[0] == '\0') continue;
    char port[kPortValueSize] = {};
    uint32_t length = kPortValueSize;
    // A value of more than 10 characters does not fit and fails like a missing one.
    entry.Listed = cfg::QueryData(handle, entry.SectionName, "Port", port, &length) == 0 ? 1 : 0;
  }
}

// The keys of "CardReader", one an entry, as far as the list holds them: keys beyond the
// 144th, and keys that do not fit an entry, stay in the file as they are.
void ReadCardReaderKeys(cfg::CfgHandle* handle, CardReaderKeys& keys) {
  char list[kKeyListSize] = {};
  uint32_t length = kKeyListSize;
  if (cfg::QueryData(handle, kCardReader, nullptr, list, &length) != 0) return;
  if (length > kKeyListSize) length = kKeyListSize;
  uint32_t at = 0;
  uint32_t j = 0;
  while (at < length && j < kReaderEntryCount) {
    const char* key = list + at;
    uint32_t key_length = 0;
    while (at + key_length < length && key[key_length] != '\0')
      ++key_length;
    if (key_length == 0) break;
    if (key_length < kNameSize) {
      SafeStrCopyN(keys[j], kNameSize, key, key_length);
      ++j;
    }
    at += key_length + 1;
  }
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Section and key names compare as the INI service compares them: letter case does not count.
bool SameName(const char* a, const char* b) {
  for (; LowerAscii(*a) == LowerAscii(*b); ++a, ++b) {
    if (*a == '\0') return true;
  }
  return false;
}

// Deletes the reader's section and its keys in "CardReader", and blanks in the list every key
// that the service took for the reader, so that none is written back pointing at nothing.
void RemoveReader(cfg::CfgHandle* handle, const ReaderEntry& entry, CardReaderKeys& keys) {
  uint32_t listed = 0;
  for (auto& key : keys) {
    if (key[0] != '\0' && SameName(key, entry.SectionName)) {
      key[0] = '\0';
      ++listed;
    }
  }
  // A deletion takes the first key of that name; a key beyond the list's limits still goes.
  const uint32_t deletions = listed > 1 ? listed : 1;
  for (uint32_t i = 0; i < deletions; ++i)
    Write(handle, kCardReader, entry.SectionName, nullptr);
  Write(handle, entry.SectionName, nullptr, nullptr);
}

void AddReader(cfg::CfgHandle* handle, const ReaderEntry& entry, const char* library_path) {
  const char* section = entry.SectionName;
  const bool vuzoded = SafeStrCompareN(section, kVuzodedPrefix, sizeof kVuzodedPrefix - 1) == 0;
  char port[kPortValueSize] = {};
  SafeIntToStr(entry.Port, port, sizeof port, 10);
  Write(handle, kCardReader, section, kInstalled);
  Write(handle, section, "Standard", "CTAPI32");
  Write(handle, section, "CompanyName", vuzoded ? "Vuzoded Divudaz" : "TREVANO AG");
  Write(handle, section, "ReaderName", entry.ReaderName);
  Write(handle, section, "Port", port);
  Write(handle, section, "B1-Reader", "0");
  Write(handle, section, "CtDllName", library_path);
  Write(handle, section, "PinEntry", entry.PinEntry);
}

void Update(cfg::CfgHandle* handle, RunState& run) {
  for (const ReaderEntry& entry : run.entries) {
    if (entry.SectionName[0] == '\0') continue;
    if (entry.Listed == 1 && entry.Found == 0) {
      run.removed = true;
      RemoveReader(handle, entry, run.keys);
    } else if (entry.Listed == 0 && entry.Found == 1) {
      run.added = true;
      AddReader(handle, entry, run.library_path);
    }
  }
  if (run.added) {
    for (const auto& key : run.keys) {
      if (key[0] != '\0') Write(handle, kCardReader, key, kInstalled);
    }
    for (const ReaderEntry& entry : run.entries) {
      if (entry.SectionName[0] != '\0' && entry.Listed == 0 && entry.Found == 1) {
        Write(handle, kCardReader, entry.SectionName, kActive);
        break;
      }
    }
  } else if (run.removed) {
    bool active_given = false;
    for (uint32_t i = kReaderEntryCount; i-- > 0;) {
      if (run.keys[i][0] == '\0') continue;
      Write(handle, kCardReader, run.keys[i], active_given ? kInstalled : kActive);
      active_given = true;
    }
  }
}

}  // namespace

bool ScanNoWaitSwitch(char* command_line) {
  if (!command_line) return false;
  StrUpperCp437(command_line);
  bool no_wait = false;
  for (const char* p = command_line; *p != '\0'; ++p) {
    if (*p != '-') continue;
    if (p[1] == '\0') break;
    if (p[1] == 'N') no_wait = true;
  }
  return no_wait;
}

uint32_t ClassifyOsVersion(const platform::OsVersion* version, OsGeneration* generation) {
  if (!version || !generation) return kErrOsVersion;
  const uint32_t low16 = version->build & 0xFFFF;
  if (version->platform == platform::kPlatformWin9x) {
    if (version->major == 4 && version->minor == 0) {
      *generation = {kGenerationWin95, low16};
    } else if (version->major == 4 && version->minor == 10) {
      *generation = {low16 == 2222 ? kGenerationWin98Se : kGenerationWin98, low16};
    } else if (version->major == 4 && version->minor == 90) {
      *generation = {kGenerationWinMe, version->build & 0xFF};
    } else {
      *generation = {kGenerationUnknown, version->build};
    }
    return 0;
  }
  if (version->platform == platform::kPlatformNt) {
    const uint32_t code = version->major == 4   ? kGenerationNt4
                          : version->major == 5 ? kGenerationNt5
                                                : kGenerationUnknown;
    *generation = {code, version->build};
    return 0;
  }
  return kErrOsVersion;
}

int MatchReaderName(const ReaderEntry* entries, uint32_t count, const uint8_t* response,
                    uint32_t length) {
  if (!entries || !response || length <= kStatusBytes) return -1;
  const uint32_t name_length = length - kStatusBytes;
  if (name_length >= kNameSize) return -1;  // longer than any section name
  char name[kNameSize] = {};
  for (uint32_t i = 0; i < name_length; ++i)
    name[i] = response[i] == ' ' ? '_' : static_cast<char>(response[i]);
  for (uint32_t row = 0; row < count; ++row) {
    // Same characters and same length; a NUL inside the name never equals a whole row.
    if (SafeStrLen(entries[row].SectionName) == name_length &&
        SafeMemCompare(entries[row].SectionName, name, name_length) == 0) {
      return static_cast<int>(row);
    }
  }
  return -1;
}

int RunInisync(const char* command_line) {
  std::unique_ptr<RunState> run(new RunState{});
  std::vector<char> line;
  for (const char* p = command_line ? command_line : ""; *p != '\0'; ++p)
    line.push_back(*p);
  line.push_back('\0');
  run->no_wait = ScanNoWaitSwitch(line.data());

  OsGeneration generation{};
  if (!QueryOsGeneration(&generation)) return kRunFailed;
  if (!run->no_wait && generation.code == kGenerationNt5) platform::SleepMs(kStartPauseMs);

  SafeMemCopy(run->entries, sizeof run->entries, ReaderEntryTable, sizeof ReaderEntryTable);

  char windows_directory[kPathSize] = {};
  if (!platform::WindowsDirectory(windows_directory, sizeof windows_directory)) return kRunFailed;
  // The library the readers are recorded with: "ctkorvin.dll" where the system's loader finds it
  // (on Windows), the one this process runs on (elsewhere).
  if (!platform::FindLibraryFile(kLibraryFile, reinterpret_cast<const void*>(&CT_init),
                                 run->library_path, sizeof run->library_path)) {
    return kRunFailed;
  }
  if (cfg::Init(0, 1, 0) != 0) return kRunFailed;

  if (!IniFilePath(windows_directory, run->ini_path, sizeof run->ini_path)) return kRunFailed;
  MakeWritable(run->ini_path);

  uint32_t type = cfg::kTypeAscii;
  uint32_t open_result = 0;
  cfg::CfgHandle* handle = nullptr;
  if (cfg::OpenFile(run->ini_path, &type, &open_result, &handle) != 0) return kRunFailed;

  Probe(run->entries);
  // The file is read once and written back once, with every change of the run, while other
  // processes' saves wait; without a batch every value goes to the file on its own.
  const bool batch = ProfileBatchBegin(run->ini_path);
  ReadListed(handle, run->entries);
  ReadCardReaderKeys(handle, run->keys);
  Update(handle, *run);
  if (batch && !ProfileBatchEnd()) {
    ErrLogWrite(1, "CFG", "WriteData", __LINE__, cfg::kErrWrite,
                "WritePrivateProfileString Error: %s", mem::SysErrText(ProfileLastError()));
  }
  return static_cast<int>(cfg::CloseFile(handle));
}

}  // namespace inisync
