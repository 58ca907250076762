// SPDX-License-Identifier: BSD-3-Clause
// Reader naming and the reader table.
#include "ctapi/readers.h"

#include "pcsc/features.h"
#include "pcsc/pcsc.h"
#include "platform/registry.h"
#include "support/strings.h"

namespace ctapi {
namespace {

struct PortRange {
  uint32_t first;
  uint32_t last;
  const char* prefix;
};

constexpr PortRange kPortRanges[] = {
    {1, 19, "TREVANO Kelvane Birch "},
    {20, 29, "TREVANO Kelvane Alder "},
    {30, 34, "TREVANO Kelvane Cypress "},
    {35, 39, "TREVANO Kelvane Spruce "},
    {40, 44, "TREVANO Kelvane Fir "},
    {45, 49, "TREVANO Kelvane Larch "},
    {50, 59, "TREVANO Kelvane Cedar "},
    {60, 69, "TREVANO Kelvane Maple "},
    {70, 74, "TREVANO Kelvane Oak "},
    {75, 79, "TREVANO Kelvane Pine "},
    {80, 84, "TREVANO Kelvane Rowan "},
    {85, 89, "TREVANO Kelvane Aspen "},
    {100, 109, "TREVANO Kelvane Elm "},
    {110, 119, "TREVANO Kelvane Hazel "},
    {120, 129, "TREVANO Kelvane Willow "},
    {130, 134, "TREVANO Kelvane Yew "},
    {135, 139, "TREVANO Kelvane Beech "},
    {150, 154, "Cherry SmartBoard XX44 "},
    {155, 159, "Cherry SmartTerminal XX44 "},
    {160, 164, "TREVANO Kelvane Juniper "},
    {165, 169, "TREVANO Kelvane Poplar "},
    {170, 174, "TREVANO Kelvane Laurel "},
    {175, 179, "USB CCID Smart Card Reader "},
    {180, 184, "PC-Card Smart Card Reader "},
    {185, 189, "Serial Smart Card Reader "},
    {200, 209, "O2Micro PCMCIA Reader "},
    {210, 219, "Vuzoded Divudaz USB Smartcard Reader "},
    {220, 224, "Vuzoded Divudaz Computers SmartCard-Reader Keyboard USB 2A "},
    {225, 229, "Vuzoded Divudaz Computers SmartCard-Reader USB 2A "},
    {230, 234, "Vuzoded Divudaz Computers SmartCard-Reader USB 2C "},
    {240, 241, "SchlumbergerSema Reflex PinPad "},
    {242, 243, "Oberthur Card Systems OCR 145 "},
};

constexpr PortRange kAlternateRanges[] = {
    {220, 224, "FSC SCR Keyboard USB 2A "},
    {225, 229, "FSC SCR USB 2A "},
    {230, 234, "FSC SCR USB 2C "},
};

constexpr char kUnknownReader[] = "Unknown reader";
constexpr uint32_t kFeatureListSize = 256;

struct VendorPrefix {
  const char* prefix;
  uint32_t length;
};

constexpr VendorPrefix kVendorPrefixes[] = {
    {"Halvoro", 7},          {"TREVANO", 7}, {"USB CCID", 8}, {"PC-Card", 7}, {"Serial", 6},
    {"Vuzoded Divudaz", 15}, {"FSC", 3},     {"Cherry", 6},   {"O2Micro", 7},
};

constexpr char kRegistryKey[] = "System\\CurrentControlSet\\Control\\Kelvane\\CT-API";
constexpr char kCypressPrefix[] = "TREVANO Kelvane Cypress";

// Writes prefix + (port - first) when `port` falls in one of `ranges`; false otherwise.
template <size_t N>
bool NameFromRanges(const PortRange (&ranges)[N], uint32_t port, char* name, uint32_t size) {
  for (const PortRange& range : ranges) {
    if (port >= range.first && port <= range.last) {
      char index[5];
      SafeIntToStr(port - range.first, index, sizeof index, 10);
      SafeStrCopy(name, size, range.prefix);
      SafeStrAppend(name, size, index);
      return true;
    }
  }
  return false;
}

bool HasVendorPrefix(const char* name) {
  for (const VendorPrefix& vendor : kVendorPrefixes) {
    if (SafeStrCompareN(name, vendor.prefix, vendor.length) == 0) return true;
  }
  return false;
}

// The reader list of PC/SC (to be given back with SCardFreeMemory), or null when there is none.
char* ListedReaders(uint32_t context, uint32_t* length) {
  char* readers = nullptr;
  *length = pcsc::kAutoAllocate;
  if (pcsc::SCardListReadersA(context, nullptr, reinterpret_cast<char*>(&readers), length) !=
      pcsc::kSuccess) {
    return nullptr;
  }
  return readers;
}

}  // namespace

const ReaderRow kReaderTable[] = {
    {"Halvoro Kelvane 0", 0, 0, 1, 0},
    {"Halvoro KelvaneUSB 0", 0, 0, 1, 0},
    {"Halvoro KelvaneMobile 0", 0, 0, 1, 0},
    {"TREVANO Kelvane Alder 0", 0, 0, 1, 0},
    {"TREVANO Kelvane Birch 0", 0, 0, 1, 0},
    {"TREVANO Kelvane Cedar 0", 0, 0, 1, 0},
    {"TREVANO Kelvane Elm 0", 0, 0, 1, 0},
    {"TREVANO Kelvane Fir 0", 0, 0, 1, 0},
    {"TREVANO Kelvane Hazel 0", 0, 0, 1, 0},
    {"TREVANO Kelvane Yew 0", 0, 0, 1, 0},
    {"TREVANO Kelvane Willow 0", 0, 0, 1, 0},
    {"TREVANO Kelvane Cypress 0", 3, 0, 1, 1},
    {"TREVANO Kelvane Spruce 0", 3, 0, 1, 1},
    {"TREVANO Kelvane Maple 0", 2, 0, 1, 0},
    {"TREVANO Kelvane Oak 0", 2, 0, 1, 0},
    {"TREVANO Kelvane Pine 0", 2, 0, 1, 1},
    {"TREVANO Kelvane Rowan 0", 0, 0, 1, 0},
    {"TREVANO Kelvane Aspen 0", 0, 0, 1, 0},
    {"TREVANO Kelvane Larch 0", 0, 0, 1, 0},
    {"TREVANO Kelvane Juniper 0", 2, 0, 1, 0},
    {"TREVANO Kelvane Poplar 0", 0, 0, 1, 0},
    {"Serial Smart Card Reader 0", 0, 0, 1, 0},
    {"TREVANO Kelvane Laurel 0", 0, 0, 1, 0},
    {"PC-Card Smart Card Reader 0", 0, 0, 1, 0},
    {"USB CCID Smart Card Reader 0", 0, 0, 1, 0},
    {"O2Micro PCMCIA Reader 0", 0, 0, 1, 0},
    {"Vuzoded Divudaz USB Smartcard Reader 0", 0, 0, 1, 0},
    {"Vuzoded Divudaz Computers SmartCard-Reader Keyboard USB 2A 0", 2, 0, 1, 0},
    {"Vuzoded Divudaz Computers SmartCard-Reader USB 2A 0", 0, 0, 1, 0},
    {"Vuzoded Divudaz Computers SmartCard-Reader USB 2C 0", 2, 0, 1, 0},
    {"FSC SCR Keyboard USB 2A 0", 2, 0, 1, 0},
    {"FSC SCR USB 2A 0", 0, 0, 1, 0},
    {"FSC SCR USB 2C 0", 2, 0, 1, 0},
    {"Cherry SmartBoard XX44 0", 2, 0, 1, 0},
    {"Cherry SmartTerminal XX44 0", 0, 0, 1, 0},
    {"TREVANO Kelvane Beech 0", 0, 0, 1, 0},
    {"", 0, 0, 0, 0},
};

void BuildReaderName(uint32_t port, char* name, uint32_t size) {
  if (!NameFromRanges(kPortRanges, port, name, size)) SafeStrCopy(name, size, kUnknownReader);
}

bool IsFamilyPort(uint32_t port) {
  for (const PortRange& range : kPortRanges) {
    if (port >= range.first && port <= range.last) return true;
  }
  return false;
}

void BuildAlternateReaderName(uint32_t port, char* name, uint32_t size) {
  NameFromRanges(kAlternateRanges, port, name, size);
}

void LookupReaderAttributes(TerminalSlot& slot, const char* reader_name) {
  for (const ReaderRow* row = kReaderTable; row->name[0] != '\0'; ++row) {
    // The row's name without its trailing " 0" is a prefix of the reader's name.
    if (SafeStrCompareN(reader_name, row->name, SafeStrLen(row->name) - 2) == 0) {
      slot.capabilities = row->capabilities;
      slot.reader_class = row->reader_class;
      slot.reader_units = row->reader_units;
      slot.keypad_input = row->keypad_input;
      return;
    }
  }
  slot.capabilities = 0;
  slot.reader_class = 0;
  slot.reader_units = 1;
  slot.keypad_input = 0;
}

bool ProbeReader(uint32_t context, const char* name, uint32_t* event_state) {
  pcsc::ReaderState state{};
  state.reader = name;
  state.current_state = pcsc::kStateUnaware;
  state.event_state = 0;
  pcsc::Result result = pcsc::SCardGetStatusChangeA(context, 1, &state, 1);
  if (event_state) *event_state = state.event_state;
  return result == pcsc::kSuccess &&
         (state.event_state & (pcsc::kStateEmpty | pcsc::kStatePresent)) != 0;
}

bool IsUnavailableCypress(const char* name, uint32_t event_state) {
  return SafeStrCompareN(name, kCypressPrefix, sizeof kCypressPrefix - 1) == 0 &&
         (event_state & 0x0F) == (pcsc::kStateChanged | pcsc::kStateUnavailable);
}

uint32_t CountKnownReaders(uint32_t context, uint32_t limit) {
  uint32_t length = 0;
  char* readers = ListedReaders(context, &length);
  if (!readers) return 0;
  uint32_t count = 0;
  for (uint32_t at = 0; at < length && readers[at] != '\0' && count < limit;
       at += SafeStrLen(readers + at) + 1) {
    const char* name = readers + at;
    if (!HasVendorPrefix(name)) continue;
    uint32_t event_state = 0;
    if (ProbeReader(context, name, &event_state) || IsUnavailableCypress(name, event_state)) {
      ++count;
    }
  }
  pcsc::SCardFreeMemory(context, readers);
  return count;
}

void ListReaderNames(uint32_t context, char* out, uint32_t size) {
  SafeStrCopy(out, size, "");
  uint32_t length = 0;
  char* readers = ListedReaders(context, &length);
  if (!readers) return;
  for (uint32_t at = 0; at < length && readers[at] != '\0'; at += SafeStrLen(readers + at) + 1) {
    if (at > 0) SafeStrAppend(out, size, ", ");
    SafeStrAppend(out, size, readers + at);
  }
  pcsc::SCardFreeMemory(context, readers);
}

bool FindReaderByPrefix(uint32_t context, const char* prefix, char* name, uint32_t size) {
  uint32_t length = 0;
  char* readers = ListedReaders(context, &length);
  if (!readers) return false;
  bool found = false;
  const uint32_t prefix_length = SafeStrLen(prefix);
  for (uint32_t at = 0; at < length && readers[at] != '\0' && !found;
       at += SafeStrLen(readers + at) + 1) {
    uint32_t event_state = 0;
    if (SafeStrCompareN(readers + at, prefix, prefix_length) == 0 &&
        ProbeReader(context, readers + at, &event_state)) {
      SafeStrCopy(name, size, readers + at);
      found = true;
    }
  }
  pcsc::SCardFreeMemory(context, readers);
  return found;
}

bool ReaderReportsPinPad(uint32_t context, const char* name) {
  uint32_t card = 0;
  uint32_t protocol = 0;
  if (pcsc::SCardConnectA(context, name, pcsc::kShareDirect, pcsc::kProtocolUndefined, &card,
                          &protocol) != pcsc::kSuccess) {
    return false;
  }
  uint8_t list[kFeatureListSize];
  uint32_t returned = 0;
  const bool listed =
      pcsc::SCardControl(card, pcsc::PlatformControlCode(pcsc::kFeatureRequestFunction), nullptr, 0,
                         list, sizeof list, &returned) == pcsc::kSuccess;
  pcsc::SCardDisconnect(card, pcsc::kLeaveCard);
  if (returned > sizeof list) returned = sizeof list;
  return listed && pcsc::FeatureControlCode(list, returned, pcsc::kFeatureVerifyPinDirect) != 0;
}

bool IsSinglePortMode() {
  uint32_t value = 0;
  return platform::RegistryReadU32(kRegistryKey, "SinglePort", &value) ==
             platform::RegistryResult::kOk &&
         value == 1;
}

}  // namespace ctapi
