// Card models shared by the reader simulator and kv-vicc (the virtual card for a real PC/SC
// daemon), so that both kinds of test talk to the same cards.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace cards {

using Bytes = std::vector<uint8_t>;

enum class CardKind { kProcessor };  // memory cards follow

struct CardSpec {
  CardKind kind = CardKind::kProcessor;
  Bytes atr = {0x3B, 0x02, 0x14, 0x50};  // answer to reset
  uint32_t protocols = 0x3;              // 1 = T=0, 2 = T=1, 3 = both
  // Scripted answers: a command APDU that is a key here gets the mapped response (data and
  // SW1 SW2). Everything else goes to the card's small file system.
  std::map<Bytes, Bytes> script;
  // Transparent elementary files below the master file (3F00), by file identifier, with their
  // contents at insertion. UPDATE BINARY changes the live card, never this spec.
  std::map<uint16_t, Bytes> files;
};

// A card in a reader: the live state of one card (selected file, memory, power).
class Card {
 public:
  virtual ~Card() = default;
  virtual const CardSpec& spec() const = 0;
  // Power-on and reset: back to the state after an answer to reset.
  virtual void Reset() = 0;
  // One command APDU in, one response (data and SW1 SW2) out.
  virtual Bytes Process(const Bytes& apdu) = 0;
};

std::unique_ptr<Card> MakeCard(const CardSpec& spec);

}  // namespace cards
