// SPDX-License-Identifier: BSD-3-Clause
// The terminal slot table and this process's ctn table, and the admission check of CT_init.
#include "ctapi/slots.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ctapi/ctapi.h"
#include "ctapi/shared_segment.h"
#include "platform/error.h"
#include "platform/os_version.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "support/errlog.h"

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

constexpr uint32_t kLogTextSize = 512;

// The refusal of a table that cannot be used, with the system's own words for the error.
int8_t RefuseTable(int call_site, uint32_t error, const char* what) {
  char text[kLogTextSize] = "";
  if (ErrLogActive(1)) platform::SystemErrorMessage(error, text, sizeof text);
  return RefuseInit(call_site, ERR_INVALID, error, "the terminal table cannot be used: %s: %s",
                    what, text);
}

// The refusal of a port that a slot holds: whose it is.
int8_t RefusePort(int call_site, uint16_t pn, const TerminalSlot& slot) {
  if (slot.owner_pid == platform::CurrentProcessId()) {
    return RefuseInit(call_site, ERR_INVALID, kNoCause, "port %u is in use by this process", pn);
  }
  if (slot.owner_pid == 0) {
    return RefuseInit(call_site, ERR_INVALID, kNoCause, "port %u is in use by another process", pn);
  }
  return RefuseInit(call_site, ERR_INVALID, kNoCause, "port %u is in use by process %u", pn,
                    slot.owner_pid);
}

// Maps the segment, creating and initialising it when no process holds it. The table lock is
// held, so nobody sees the new table before its size word and its free slots are in place, and
// an open that found nothing is followed by a create that really creates. OK or the refusal.
int8_t Attach() {
  void* payload = nullptr;
  uint32_t size = 0;
  if (GetMem(kSegmentName, 0, nullptr, &payload, &size) != 0) {
    return RefuseTable(__LINE__, GetMemLastSystemError(), "opening it failed");
  }
  bool created = false;
  if (!payload) {
    if (GetMem(kSegmentName, kSegmentPayloadSize, nullptr, &payload, &size) != 0 || !payload) {
      return RefuseTable(__LINE__, GetMemLastSystemError(), "creating it failed");
    }
    created = true;
  }
  // A segment of that name made by something else, too small for the table, is not used.
  if (size < kSegmentPayloadSize) {
    return RefuseInit(__LINE__, ERR_INVALID, kNoCause,
                      "the terminal table has %u bytes, fewer than the %u of four terminals", size,
                      kSegmentPayloadSize);
  }
  g_slots = static_cast<TerminalSlot*>(payload);
  if (created) {
    for (int i = 0; i < kSlotCount; ++i) {
      ResetSlot(i);
      ReleaseCtnEntry(i);
    }
  }
  g_attached = 1;
  return OK;
}

// Frees the slots whose recorded owner has certainly ended. An owner that sees other process
// numbers (a sandboxed application sharing the table) cannot be judged from here. The table lock
// is held.
void FreeAbandonedSlots() {
  const uint32_t self = platform::CurrentProcessId();
  const uint32_t space = platform::ProcessNumberSpace();
  for (int i = 0; i < kSlotCount; ++i) {
    const TerminalSlot& slot = g_slots[i];
    if (slot.in_use == 0 || slot.owner_pid == 0 || slot.owner_pid == self ||
        slot.owner_namespace != space) {
      continue;
    }
    const uint64_t start =
        static_cast<uint64_t>(slot.owner_start_high) << 32 | slot.owner_start_low;
    if (platform::GetProcessState(slot.owner_pid, start) == platform::ProcessState::kEnded) {
      ResetSlot(i);
    }
  }
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
  if (os_class != 98 && os_class != 95 && os_class != 40 && os_class != 50) {
    return RefuseInit(__LINE__, ERR_INVALID, kNoCause,
                      "this version of the system is not supported");
  }
  if (pn == 0) return RefuseInit(__LINE__, ERR_INVALID, kNoCause, "port 0 names no reader");
  platform::ScopedMappingLock lock;
  if (!lock.ok()) return RefuseTable(__LINE__, platform::LastSystemError(), "its lock failed");
  if (!g_attached) {
    const int8_t attached = Attach();
    if (attached != OK) return attached;
  }
  FreeAbandonedSlots();
  for (int i = 0; i < kSlotCount; ++i) {
    // pn as given: a pn with the keep-power flag never equals a stored port.
    if (g_slots[i].port == pn) return RefusePort(__LINE__, pn, g_slots[i]);
  }
  for (const CtnEntry& entry : g_ctn_table) {
    if (entry.in_use == 1 && entry.ctn == ctn) {
      return RefuseInit(__LINE__, ERR_INVALID, kNoCause, "ctn %u is open already", ctn);
    }
  }
  for (int i = 0; i < kSlotCount; ++i) {
    if (g_slots[i].in_use == 0) return OK;
  }
  return RefuseInit(__LINE__, ERR_MEMORY, kNoCause, "all four terminals are in use");
}

// The order of the writes matters to the processes that look at the table, and to the case of
// a process killed half-way: the record is cleared while it is still claimed, then released,
// and only then does it forget its owner, so that a slot is never left claimed by nobody (it
// could never be taken back) and a free slot never holds a port.
void ResetSlot(int index) {
  TerminalSlot& slot = g_slots[index];
  TerminalSlot fresh;
  std::memset(&fresh, 0, sizeof fresh);
  fresh.card_handle = kNoCardHandle;
  ResetAddresses(fresh);
  fresh.in_use = slot.in_use;
  fresh.owner_pid = slot.owner_pid;
  fresh.owner_start_low = slot.owner_start_low;
  fresh.owner_start_high = slot.owner_start_high;
  fresh.owner_namespace = slot.owner_namespace;
  std::memcpy(&slot, &fresh, sizeof slot);
  __atomic_store_n(&slot.in_use, 0u, __ATOMIC_SEQ_CST);
  slot.owner_pid = 0;
  slot.owner_start_low = 0;
  slot.owner_start_high = 0;
  slot.owner_namespace = 0;
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

int8_t ClaimFreeSlot(uint16_t pn, int* index) {
  platform::ScopedMappingLock lock;
  if (!lock.ok()) return RefuseTable(__LINE__, platform::LastSystemError(), "its lock failed");
  for (int i = 0; i < kSlotCount; ++i) {
    if (g_slots[i].port == pn) return RefusePort(__LINE__, pn, g_slots[i]);
  }
  for (int i = 0; i < kSlotCount; ++i) {
    TerminalSlot& slot = g_slots[i];
    if (slot.in_use != 0) continue;
    // A free slot is reset again: a table that another implementation set up may hold free
    // slots that are merely zero. The owner goes in first and the port last, so that a process
    // killed half-way leaves a slot that is free, or claimed by an owner that has ended, and
    // never a port held by nobody.
    ResetSlot(i);
    const uint32_t self = platform::CurrentProcessId();
    const uint64_t start = platform::ProcessStartTime(self);
    slot.owner_pid = self;
    slot.owner_start_low = static_cast<uint32_t>(start);
    slot.owner_start_high = static_cast<uint32_t>(start >> 32);
    slot.owner_namespace = platform::ProcessNumberSpace();
    __atomic_store_n(&slot.in_use, 1u, __ATOMIC_SEQ_CST);
    if (pn & kPortKeepPowerFlag) {
      slot.port = pn - kPortKeepPowerFlag;
      slot.port_flag = 1;
    } else {
      slot.port = pn;
    }
    *index = i;
    return OK;
  }
  return RefuseInit(__LINE__, ERR_MEMORY, kNoCause, "all four terminals are in use");
}

void ReleaseSlot(int index) {
  // Without the lock the slot is still freed: a slot kept claimed would be lost for good.
  platform::ScopedMappingLock lock;
  ResetSlot(index);
}

int8_t RefuseInit(int call_site, int8_t result, uint32_t cause, const char* format, ...) {
  if (!ErrLogActive(1)) return result;
  char text[kLogTextSize];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  ErrLogWrite(1, "CTAPI", "CT_init", call_site, cause, "%s", text);
  return result;
}

}  // namespace ctapi
