// SPDX-License-Identifier: BSD-3-Clause
// A simulated machine described in a small text file: its readers and the cards in them. The
// simulator's winscard.dll (sim/winscard) reads one at first use, and tests that run a whole
// program over the simulator read the same file, so that both runs see the same readers.
//
// One item a line; blank lines and lines starting with '#' are ignored:
//
//   reader "<PC/SC name>" [display] [keypad] [pinpad]
//   card processor [atr=HEX] [protocols=1|2|3] [file=FID:HEX]... [script=CMD:RSP]... [pin=HEX]
//   card 2wire|3wire|i2c [memory=HEX] [size=N] [pin=HEX]
//   card insurance
//   pin-entries <digits>|cancel|timeout...
//
// A card line puts a card into the reader of the line before it (one card a reader); a
// pin-entries line queues what the user types on that reader's PIN pad (sim::QueuePinEntries),
// one entry a secure PIN entry, in order. HEX is
// hex digits without blanks; FID is four hex digits; a script entry answers the command CMD with
// RSP (data and SW1 SW2). "insurance" is a 2-wire card holding a valid health-insurance-card
// image (the tests' generator, tests/memcard/insurance_card.h).
#pragma once

#include <string>
#include <vector>

#include "sim/cards/card.h"
#include "sim/sim.h"

namespace sim {

struct WorldReader {
  ReaderSpec spec;
  bool has_card = false;
  cards::CardSpec card;
  std::vector<PinEntry> pin_entries;
};

using World = std::vector<WorldReader>;

// Reads a description; on a mistake returns false with *error naming the line ("line 3: ...").
bool ParseWorld(const std::string& text, World* world, std::string* error);
// The same for the file at `path`; a file that cannot be read is a mistake too.
bool ReadWorldFile(const std::string& path, World* world, std::string* error);
// Attaches the readers to the simulator in their order, each with its card and PIN-pad entries.
void AddWorld(const World& world);

}  // namespace sim
