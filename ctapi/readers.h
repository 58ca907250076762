// SPDX-License-Identifier: BSD-3-Clause
// Reader naming: how a port number becomes a PC/SC reader name, the second name some readers
// also register under, the table of known readers and their capabilities, the count of known
// readers attached, and the SinglePort switch.
#pragma once

#include <cstdint>

#include "ctapi/slots.h"

namespace ctapi {

constexpr uint32_t kBuiltNameSize = 100;

struct ReaderRow {
  const char* name;  // always ends in " 0"; the empty name ends the table
  uint8_t capabilities;
  uint8_t reader_class;
  uint8_t reader_units;
  uint8_t keypad_input;
};

// The known readers, in the order the table search tries them, ended by a row with "".
extern const ReaderRow kReaderTable[];

void BuildReaderName(uint32_t port, char* name, uint32_t size);
// Whether the port falls in the range of a known reader family (otherwise its name is the
// placeholder of an unknown reader, and only the port map can give it a reader).
bool IsFamilyPort(uint32_t port);
// The short name of ports 220-234; any other port leaves `name` unchanged.
void BuildAlternateReaderName(uint32_t port, char* name, uint32_t size);
void LookupReaderAttributes(TerminalSlot& slot, const char* reader_name);
// The known readers attached; counting stops at `limit` (who asks whether there is exactly one
// need not probe every reader).
uint32_t CountKnownReaders(uint32_t context, uint32_t limit = 0xFFFFFFFF);
// The names of the readers PC/SC lists, joined by ", " into `out` (cut to fit, always
// terminated); "" when it lists none.
void ListReaderNames(uint32_t context, char* out, uint32_t size);
bool IsSinglePortMode();
// The first reader PC/SC lists whose name starts with `prefix` and that is available; its name
// goes to `name`. False when there is none.
bool FindReaderByPrefix(uint32_t context, const char* prefix, char* name, uint32_t size);
// Whether the reader offers PIN entry on its PIN pad (PC/SC part 10, verify PIN direct), asked
// over a direct connection that is closed again at once.
bool ReaderReportsPinPad(uint32_t context, const char* name);
// One status query of 1 ms: true when the reader reports itself empty or with a card.
// *event_state receives the reported state.
bool ProbeReader(uint32_t context, const char* name, uint32_t* event_state);
// A "TREVANO Kelvane Cypress" reader that reports itself changed and unavailable (0x0A in the
// low four bits of its state) is attached all the same.
bool IsUnavailableCypress(const char* name, uint32_t event_state);

}  // namespace ctapi
