// SPDX-License-Identifier: BSD-3-Clause
// Card models shared by the reader simulator and kv-vicc (the virtual card for a real PC/SC
// daemon), so that both kinds of test talk to the same cards.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace cards {

using Bytes = std::vector<uint8_t>;

// Processor cards answer ISO 7816-4 commands; the three synchronous memory-card families answer
// the reader's storage-card commands (class FF), as a PC/SC reader with storage-card support
// serves them on the card's behalf.
enum class CardKind { kProcessor, kTwoWire, kThreeWire, kI2c };

// The answer to reset a processor card has unless its spec names another. It has interface bytes
// (TD1, TD2: T=0 and T=1), as every processor card that the library tells apart from a memory
// card does.
inline const Bytes kDefaultAtr = {0x3B, 0x82, 0x80, 0x01, 0x14, 0x50};

struct CardSpec {
  CardKind kind = CardKind::kProcessor;
  // Answer to reset of a processor card. A memory card's answer to reset is what the reader
  // reports for it, made at power-on: 3B 04 and its first four memory bytes (2- and 3-wire
  // cards) or 3B 04 49 32 43 2E ("I2C."); this field is not used for them.
  Bytes atr = kDefaultAtr;
  uint32_t protocols = 0x3;  // 1 = T=0, 2 = T=1, 3 = both
  // Scripted answers: a command APDU that is a key here gets the mapped response (data and
  // SW1 SW2). Everything else goes to the card's small file system or, for a memory card, to
  // its storage-card commands.
  std::map<Bytes, Bytes> script;
  // Answers replayed in order before anything else is asked: the n-th command the card receives
  // (counted over the card's life, resets included) gets replies[n - 1], whatever it is. Once
  // they are used up, the card answers as above. A fuzz input plays the card through this.
  std::vector<Bytes> replies;
  // Transparent elementary files below the master file (3F00), by file identifier, with their
  // contents at insertion. UPDATE BINARY changes the live card, never this spec.
  std::map<uint16_t, Bytes> files;

  // ---- Processor cards with a PIN ----
  // The PIN that VERIFY (00 20 00 P2 Lc PIN) and CHANGE REFERENCE DATA (00 24 00 P2 Lc OLD NEW)
  // compare with, byte for byte as the command carries it (e.g. BCD 12 34 FF FF); the card has
  // one PIN, whatever P2 names. Empty: the card has no PIN, both commands answer 6A 88. (For
  // memory cards this field is their code, below.)
  Bytes pin;
  // Tries of the PIN counter; pin_tries_left at insertion, -1 meaning all of them. A wrong PIN
  // answers 63 Cx with x tries left; none left answers 69 83; a right one restores all tries.
  uint8_t pin_tries = 3;
  int pin_tries_left = -1;

  // ---- Memory cards ----
  // Contents from address 0 at insertion; the rest of the memory reads FF. Writes change the
  // live card, never this spec.
  Bytes memory;
  // Size in bytes; 0 is the family's own: 256 (2-wire), 1024 (3-wire), 256 (I2C). Other values
  // are taken within 128..65536.
  uint32_t memory_size = 0;
  // The code is `pin` above: 3 bytes (2-wire) or 2 bytes (3-wire); empty means all FF (the
  // transport code).
  // Error counter at insertion; -1 means all tries left: 7 (2-wire: 3 bits, 7 = 3 tries,
  // 3 = 2, 1 = 1, 0 = blocked) or 0xFF (3-wire: one set bit per try left, 8 tries, cleared from
  // the least significant bit on; 0x00 = blocked). The 3-wire counter lives at memory_size - 3.
  int error_counter = -1;
  // 2-wire: protection bits over the first 32 bytes, bit n for address n (bit n % 8 of
  // protection byte n / 8); 1 = the byte can still be changed, 0 = protected for good.
  uint32_t protection = 0xFFFFFFFF;
  // 3-wire: the card has no code; the last three bytes (counter and code area) are plain memory.
  bool pin_area_plain = false;
  // I2C: address width in bytes (1 or 2) the card understands.
  uint8_t address_width = 1;
  // I2C: writes to address 0 are acknowledged (90 00) but leave the byte as it was.
  bool first_byte_fixed = false;
};

// A card in a reader: the live state of one card (selected file, memory, power).
class Card {
 public:
  virtual ~Card() = default;
  virtual const CardSpec& spec() const = 0;
  // The answer to reset as the reader reports it. For a memory card it is made from the memory
  // at power-on (construction and Reset), so writes show in it only after the next reset.
  virtual const Bytes& Atr() const { return spec().atr; }
  // Power-on and reset: back to the state after an answer to reset.
  virtual void Reset() = 0;
  // One command APDU in, one response (data and SW1 SW2) out.
  virtual Bytes Process(const Bytes& apdu) = 0;
};

std::unique_ptr<Card> MakeCard(const CardSpec& spec);

}  // namespace cards
