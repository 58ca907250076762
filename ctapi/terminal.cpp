// SPDX-License-Identifier: BSD-3-Clause
// Opening and closing a terminal. Opening makes no card connection: the first command that
// needs the card makes it. Closing drops the card connection, gives back a display that the
// library wrote to, releases the context and frees the slot.
#include "ctapi/terminal.h"

#include "ctapi/ctapi.h"
#include "ctapi/port_map.h"
#include "ctapi/readers.h"
#include "ctapi/result.h"
#include "ctapi/slots.h"
#include "pcsc/pcsc.h"
#include "platform/clock.h"
#include "support/errlog.h"
#include "support/strings.h"

namespace ctapi {
namespace {

constexpr uint32_t kLogTextSize = 512;

// Gives everything of a failed open back; the result of the open is then -1.
int8_t FailOpen(int slot, int entry) {
  TerminalSlot& s = Slot(slot);
  if (s.context != 0) pcsc::SCardReleaseContext(s.context);
  ReleaseSlot(slot);
  ReleaseCtnEntry(entry);
  return ERR_INVALID;
}

void SetReaderName(TerminalSlot& slot, const char* name) {
  SafeStrCopy(slot.reader_name, kReaderNameSize, name);
}

// The last resort when the port's own name is not attached: exactly one known reader is, and
// the terminal takes it under the first table name that answers.
bool SearchReaderTable(TerminalSlot& slot, int index, uint16_t pn) {
  // The cheap conditions first; the count asks PC/SC about every known reader, up to two.
  if (index != 0 || (IsSinglePortMode() && pn != 1) || CountKnownReaders(slot.context, 2) != 1) {
    return false;
  }
  for (const ReaderRow* row = kReaderTable; row->name[0] != '\0'; ++row) {
    SetReaderName(slot, row->name);
    uint32_t event_state = 0;
    if (ProbeReader(slot.context, row->name, &event_state) ||
        IsUnavailableCypress(row->name, event_state)) {
      LookupReaderAttributes(slot, row->name);
      return true;
    }
  }
  return false;
}

// A reader that the port map gives this port: it has what the map's flags say, and a PIN pad also
// when it reports one through PC/SC part 10.
bool OpenMappedReader(TerminalSlot& slot) {
  PortMapping mapping;
  char name[kReaderNameSize];
  if (!FindPortMapping(slot.port, &mapping) ||
      !FindReaderByPrefix(slot.context, mapping.prefix, name, sizeof name)) {
    return false;
  }
  SetReaderName(slot, name);
  slot.capabilities = mapping.capabilities;
  if (!(slot.capabilities & kCapPinPad) && ReaderReportsPinPad(slot.context, name)) {
    slot.capabilities |= kCapPinPad;
  }
  slot.reader_class = 0;
  slot.reader_units = 1;
  slot.keypad_input = 0;
  return true;
}

// Switches the reader's display back to its own use, over the card connection when a card
// answers, else over a direct one.
void GiveBackDisplay(TerminalSlot& slot) {
  uint32_t protocol = 0;
  bool direct = false;
  pcsc::Result result =
      pcsc::SCardConnectA(slot.context, slot.reader_name, pcsc::kShareShared,
                          pcsc::kProtocolT0 | pcsc::kProtocolT1, &slot.card_handle, &protocol);
  if (result != pcsc::kSuccess) {
    result = pcsc::SCardConnectA(slot.context, slot.reader_name, pcsc::kShareDirect,
                                 pcsc::kProtocolUndefined, &slot.card_handle, &protocol);
    direct = result == pcsc::kSuccess;
  }
  const uint8_t give_back = 0x00;
  uint32_t returned = 0;
  pcsc::SCardControl(slot.card_handle, pcsc::kCtlPrepareDisplay, &give_back, 1, nullptr, 0,
                     &returned);
  if (result == pcsc::kSuccess) {
    if (direct) {
      pcsc::SCardControl(slot.card_handle, pcsc::kCtlBeforeDirectClose, nullptr, 0, nullptr, 0,
                         &returned);
    }
    pcsc::SCardDisconnect(slot.card_handle, pcsc::kLeaveCard);
    platform::SleepMs(kDisplayGiveBackPauseMs);
  }
}

}  // namespace

int8_t OpenTerminal(uint16_t ctn, uint16_t pn) {
  int index = kNotFound;
  const int8_t claimed = ClaimFreeSlot(pn, &index);
  if (claimed != OK) return claimed;  // taken by another process since the admission
  TerminalSlot& slot = Slot(index);
  int entry = 0;
  while (entry < kSlotCount && CtnEntryAt(entry).in_use != 0)
    ++entry;
  if (entry == kSlotCount) {  // cannot happen while ctn entries and slots pair up
    ReleaseSlot(index);
    return ERR_MEMORY;
  }
  CtnEntryAt(entry) = CtnEntry{1, ctn, static_cast<uint32_t>(index)};

  uint32_t context = 0;
  const pcsc::Result established = pcsc::SCardEstablishContext(pcsc::kScopeUser, &context);
  if (established != pcsc::kSuccess) {
    RefuseInit(__LINE__, ERR_INVALID, established,
               "no PC/SC service: establishing a context failed (0x%08X)", established);
    return FailOpen(index, entry);
  }
  slot.context = context;

  char name[kBuiltNameSize];
  BuildReaderName(slot.port, name, sizeof name);
  SetReaderName(slot, name);
  uint32_t event_state = 0;
  bool available = ProbeReader(context, name, &event_state);
  if (!available) {
    BuildAlternateReaderName(slot.port, name, sizeof name);
    SetReaderName(slot, name);
    available = ProbeReader(context, name, &event_state);
  }
  if (available) {
    LookupReaderAttributes(slot, name);
    return OK;
  }
  if (SearchReaderTable(slot, index, pn) || OpenMappedReader(slot)) return OK;
  if (ErrLogActive(1)) {
    BuildReaderName(slot.port, name, sizeof name);
    char offered[kLogTextSize];
    ListReaderNames(context, offered, sizeof offered);
    RefuseInit(__LINE__, ERR_INVALID, kNoCause,
               "no reader \"%s\" for port %u; PC/SC offers: %s; a line \"%u = READER NAME\" in "
               "%s gives a reader this port",
               name, pn, offered[0] ? offered : "no reader", slot.port, PortMapPath());
  }
  return FailOpen(index, entry);
}

int8_t CloseTerminal(uint16_t ctn) {
  if (!IsAttached()) return ERR_INVALID;
  const int entry = FindCtnEntry(ctn);
  if (entry == kNotFound) return ERR_INVALID;
  const int index = static_cast<int>(CtnEntryAt(entry).slot);
  TerminalSlot& slot = Slot(index);

  if (slot.card_handle != kNoCardHandle) pcsc::SCardDisconnect(slot.card_handle, pcsc::kResetCard);
  if ((slot.capabilities & kCapDisplay) && slot.display_used == 1) GiveBackDisplay(slot);
  const int8_t code = MapSCardResult(pcsc::SCardReleaseContext(slot.context), nullptr);
  ReleaseSlot(index);
  ReleaseCtnEntry(entry);
  return code;
}

}  // namespace ctapi
