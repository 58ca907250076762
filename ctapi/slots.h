// SPDX-License-Identifier: BSD-3-Clause
// The terminal slot table: four TerminalSlot records in the shared segment "KV-CTAPI", one per
// open terminal of any process on the machine, and this process's table from ctn to slot.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ctapi {

constexpr int kSlotCount = 4;
constexpr uint32_t kNoCardHandle = 0xFFFFFFFF;
constexpr uint32_t kNoAddress = 0xFFFFFFFF;
constexpr uint32_t kReaderNameSize = 128;
constexpr uint16_t kPortKeepPowerFlag = 0x200;
constexpr uint8_t kCapDisplay = 0x01;
constexpr uint8_t kCapPinPad = 0x02;
constexpr char kSegmentName[] = "KV-CTAPI";

// The record shared between processes; every offset and width is part of the format.
struct TerminalSlot {
  uint32_t in_use;
  uint32_t port;
  uint32_t context;
  uint32_t card_handle;
  uint32_t reserved_10;
  uint32_t active_protocol;
  // Who claimed the slot, so that the slot of a process that ended without closing its terminal
  // can be taken back: the process number, its start time (low and high word) and the set of
  // process numbers it belongs to. Zero: not recorded, as a table shared with another
  // implementation may leave it; never taken back.
  uint32_t owner_pid;
  uint32_t owner_start_low;
  uint32_t owner_start_high;
  uint32_t owner_namespace;
  uint8_t reserved_28[8];
  char reader_name[kReaderNameSize];
  uint32_t icc_active;
  uint8_t reader_class;
  uint8_t capabilities;
  uint8_t reader_units;
  uint8_t reserved_b7;
  uint32_t direct_connected;
  uint32_t display_mode_set;
  uint32_t memory_card;
  uint8_t memory_card_header[4];
  uint32_t header_first;
  uint32_t header_last;
  uint32_t atr_file_first;
  uint32_t atr_file_last;
  uint32_t dir_file_first;
  uint32_t dir_file_last;
  uint32_t selected_first;
  uint32_t selected_last;
  uint32_t memory_card_type;
  uint32_t memory_size;
  uint32_t insurance_layout;
  uint32_t selected_insurance_data;
  uint32_t display_used;
  uint32_t port_flag;
  uint32_t vendor_option;
  uint32_t vendor_value;
  uint32_t card_refused;
  uint32_t keypad_input;
  uint32_t pin_area_plain;
};

static_assert(sizeof(TerminalSlot) == 276, "TerminalSlot is 276 bytes");
static_assert(offsetof(TerminalSlot, in_use) == 0x000);
static_assert(offsetof(TerminalSlot, port) == 0x004);
static_assert(offsetof(TerminalSlot, context) == 0x008);
static_assert(offsetof(TerminalSlot, card_handle) == 0x00C);
static_assert(offsetof(TerminalSlot, reserved_10) == 0x010);
static_assert(offsetof(TerminalSlot, active_protocol) == 0x014);
static_assert(offsetof(TerminalSlot, owner_pid) == 0x018);
static_assert(offsetof(TerminalSlot, owner_start_low) == 0x01C);
static_assert(offsetof(TerminalSlot, owner_start_high) == 0x020);
static_assert(offsetof(TerminalSlot, owner_namespace) == 0x024);
static_assert(offsetof(TerminalSlot, reserved_28) == 0x028);
static_assert(offsetof(TerminalSlot, reader_name) == 0x030);
static_assert(offsetof(TerminalSlot, icc_active) == 0x0B0);
static_assert(offsetof(TerminalSlot, reader_class) == 0x0B4);
static_assert(offsetof(TerminalSlot, capabilities) == 0x0B5);
static_assert(offsetof(TerminalSlot, reader_units) == 0x0B6);
static_assert(offsetof(TerminalSlot, reserved_b7) == 0x0B7);
static_assert(offsetof(TerminalSlot, direct_connected) == 0x0B8);
static_assert(offsetof(TerminalSlot, display_mode_set) == 0x0BC);
static_assert(offsetof(TerminalSlot, memory_card) == 0x0C0);
static_assert(offsetof(TerminalSlot, memory_card_header) == 0x0C4);
static_assert(offsetof(TerminalSlot, header_first) == 0x0C8);
static_assert(offsetof(TerminalSlot, header_last) == 0x0CC);
static_assert(offsetof(TerminalSlot, atr_file_first) == 0x0D0);
static_assert(offsetof(TerminalSlot, atr_file_last) == 0x0D4);
static_assert(offsetof(TerminalSlot, dir_file_first) == 0x0D8);
static_assert(offsetof(TerminalSlot, dir_file_last) == 0x0DC);
static_assert(offsetof(TerminalSlot, selected_first) == 0x0E0);
static_assert(offsetof(TerminalSlot, selected_last) == 0x0E4);
static_assert(offsetof(TerminalSlot, memory_card_type) == 0x0E8);
static_assert(offsetof(TerminalSlot, memory_size) == 0x0EC);
static_assert(offsetof(TerminalSlot, insurance_layout) == 0x0F0);
static_assert(offsetof(TerminalSlot, selected_insurance_data) == 0x0F4);
static_assert(offsetof(TerminalSlot, display_used) == 0x0F8);
static_assert(offsetof(TerminalSlot, port_flag) == 0x0FC);
static_assert(offsetof(TerminalSlot, vendor_option) == 0x100);
static_assert(offsetof(TerminalSlot, vendor_value) == 0x104);
static_assert(offsetof(TerminalSlot, card_refused) == 0x108);
static_assert(offsetof(TerminalSlot, keypad_input) == 0x10C);
static_assert(offsetof(TerminalSlot, pin_area_plain) == 0x110);

constexpr uint32_t kSegmentPayloadSize = kSlotCount * sizeof(TerminalSlot);
static_assert(kSegmentPayloadSize == 1104);

// One link of this process's ctn table from a ctn to a slot index.
struct CtnEntry {
  uint32_t in_use;
  uint32_t ctn;
  uint32_t slot;
};

constexpr int kNotFound = -1;

// This process's view of the table; null until the segment is attached.
TerminalSlot* SlotTable();
TerminalSlot& Slot(int index);
CtnEntry& CtnEntryAt(int index);
bool IsAttached();

// The first half of CT_init: 0 when the terminal may be opened, else a return code. It attaches
// the table and first frees the slots of processes that ended without closing their terminals.
int8_t AdmitTerminal(uint16_t ctn, uint16_t pn);
void ResetSlot(int index);
void ReleaseCtnEntry(int index);
void ResetCardState(int index);
// The slot index of `ctn` in this process, or kNotFound.
int FindSlotByCtn(uint16_t ctn);
// The ctn entry index of `ctn` in this process, or kNotFound.
int FindCtnEntry(uint16_t ctn);
// 95, 98 (Windows 9x family), 40, 50 (NT family 4 and 5), or 0 for every other system.
uint32_t GetOsClass();

// Claims the first free slot for port `pn` (the keep-power flag 0x200 included) in one step
// against every other process: the port is checked free and the slot taken, recorded with this
// process as its owner. OK with *index set; ERR_INVALID when a slot holds the port by now,
// ERR_MEMORY when no slot is free.
int8_t ClaimFreeSlot(uint16_t pn, int* index);
// Frees a slot of this process (ResetSlot) in one step against every other process.
void ReleaseSlot(int index);

// Writes the error-log record that says why CT_init answers `result` (module "CTAPI"), and
// returns `result`. `cause` is the system's or PC/SC's code behind it, or kNoCause.
constexpr uint32_t kNoCause = 0xFFFFFFFF;
int8_t RefuseInit(int call_site, int8_t result, uint32_t cause, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace ctapi
