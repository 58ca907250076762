// The terminal slot table and this process's ctn table, and the admission check of CT_init.
#include "ctapi/slots.h"

#include <cstring>

#include "ctapi/ctapi.h"
#include "ctapi/shared_segment.h"
#include "platform/os_version.h"

namespace ctapi {
namespace {

// Per process: whether the segment is mapped, where, and which ctn uses which slot.
uint32_t g_attached = 0;
TerminalSlot* g_slots = nullptr;
CtnEntry g_ctn_table[kSlotCount] = {};

void ResetAddresses(TerminalSlot& slot) {
  slot.header_first = kNoAddress;
  slot.header_last = kNoAddress;
  slot.atr_file_first = kNoAddress;
  slot.atr_file_last = kNoAddress;
  slot.dir_file_first = kNoAddress;
  slot.dir_file_last = kNoAddress;
  slot.selected_first = kNoAddress;
  slot.selected_last = kNoAddress;
}

// Maps the segment, creating and initialising it when no process holds it.
bool Attach() {
  void* payload = nullptr;
  uint32_t size = 0;
  if (GetMem(kSegmentName, 0, nullptr, &payload, &size) != 0) return false;
  bool created = false;
  if (!payload) {
    if (GetMem(kSegmentName, kSegmentPayloadSize, nullptr, &payload, &size) != 0 || !payload) {
      return false;
    }
    created = true;
  }
  // A segment of that name made by something else, too small for the table, is not used.
  if (size < kSegmentPayloadSize) return false;
  g_slots = static_cast<TerminalSlot*>(payload);
  if (created) {
    for (int i = 0; i < kSlotCount; ++i) {
      ResetSlot(i);
      ReleaseCtnEntry(i);
    }
  }
  g_attached = 1;
  return true;
}

}  // namespace

TerminalSlot* SlotTable() {
  return g_attached ? g_slots : nullptr;
}
TerminalSlot& Slot(int index) {
  return g_slots[index];
}
CtnEntry& CtnEntryAt(int index) {
  return g_ctn_table[index];
}
bool IsAttached() {
  return g_attached != 0;
}

uint32_t GetOsClass() {
  platform::OsVersion version{};
  if (!platform::GetOsVersion(&version)) return 0;
  if (version.platform == platform::kPlatformWin9x) return version.minor != 0 ? 98 : 95;
  if (version.platform == platform::kPlatformNt) {
    if (version.major == 5) return 50;
    if (version.major == 4) return 40;
  }
  return 0;
}

int8_t AdmitTerminal(uint16_t ctn, uint16_t pn) {
  const uint32_t os_class = GetOsClass();
  if (os_class != 98 && os_class != 95 && os_class != 40 && os_class != 50) return ERR_INVALID;
  if (pn == 0) return ERR_INVALID;
  if (!g_attached && !Attach()) return ERR_INVALID;
  for (int i = 0; i < kSlotCount; ++i) {
    // pn as given: a pn with the keep-power flag never equals a stored port.
    if (g_slots[i].port == pn) return ERR_INVALID;
  }
  for (const CtnEntry& entry : g_ctn_table) {
    if (entry.in_use == 1 && entry.ctn == ctn) return ERR_INVALID;
  }
  for (int i = 0; i < kSlotCount; ++i) {
    if (g_slots[i].in_use == 0) return OK;
  }
  return ERR_MEMORY;
}

void ResetSlot(int index) {
  TerminalSlot& slot = g_slots[index];
  std::memset(&slot, 0, sizeof slot);
  slot.card_handle = kNoCardHandle;
  ResetAddresses(slot);
}

void ReleaseCtnEntry(int index) {
  g_ctn_table[index] = CtnEntry{0, 0, 0};
}

void ResetCardState(int index) {
  TerminalSlot& slot = g_slots[index];
  slot.icc_active = 0;
  slot.memory_card = 0;
  ResetAddresses(slot);
}

int FindCtnEntry(uint16_t ctn) {
  for (int i = 0; i < kSlotCount; ++i) {
    if (g_ctn_table[i].in_use == 1 && g_ctn_table[i].ctn == ctn) return i;
  }
  return kNotFound;
}

int FindSlotByCtn(uint16_t ctn) {
  int entry = FindCtnEntry(ctn);
  return entry == kNotFound ? kNotFound : static_cast<int>(g_ctn_table[entry].slot);
}

int ClaimFreeSlot() {
  for (int i = 0; i < kSlotCount; ++i) {
    uint32_t expected = 0;
    if (__atomic_compare_exchange_n(&g_slots[i].in_use, &expected, 1u, false, __ATOMIC_SEQ_CST,
                                    __ATOMIC_SEQ_CST)) {
      return i;
    }
  }
  return kNotFound;
}

}  // namespace ctapi
