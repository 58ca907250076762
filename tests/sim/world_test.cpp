// SPDX-License-Identifier: BSD-3-Clause
// The text form of a simulated machine: readers with their flags, cards of every kind with their
// keys, and the mistakes a hand-written file makes, each named with its line.
#include "sim/world.h"

#include <gtest/gtest.h>

#include <string>

#include "pcsc/pcsc.h"

namespace {

using cards::Bytes;
using cards::CardKind;

TEST(WorldTest, ReadersAndTheirCards) {
  const std::string text =
      "# a comment\r\n"
      "\n"
      "reader \"TREVANO Kelvane Birch 0\" display keypad pinpad\r\n"
      "  card processor atr=3B0201 protocols=1 file=2F01:4142 script=80CA:9000 pin=1234\n"
      "pin-entries 1234 cancel\n"
      "pin-entries timeout\n"
      "reader \"TREVANO Kelvane Alder 0\"\n"
      "card 2wire memory=A2131091 size=128 pin=FFFFFF\n"
      "reader \"Another reader\"\n"
      "card insurance\n"
      "reader \"Empty reader\"\n";
  sim::World world;
  std::string error;
  ASSERT_TRUE(sim::ParseWorld(text, &world, &error)) << error;
  ASSERT_EQ(world.size(), 4u);

  EXPECT_EQ(world[0].spec.name, "TREVANO Kelvane Birch 0");
  EXPECT_TRUE(world[0].spec.display && world[0].spec.keypad && world[0].spec.pin_pad);
  ASSERT_TRUE(world[0].has_card);
  const cards::CardSpec& processor = world[0].card;
  EXPECT_EQ(processor.kind, CardKind::kProcessor);
  EXPECT_EQ(processor.atr, (Bytes{0x3B, 0x02, 0x01}));
  EXPECT_EQ(processor.protocols, 1u);
  EXPECT_EQ(processor.files.at(0x2F01), (Bytes{0x41, 0x42}));
  EXPECT_EQ(processor.script.at(Bytes{0x80, 0xCA}), (Bytes{0x90, 0x00}));
  EXPECT_EQ(processor.pin, (Bytes{0x12, 0x34}));
  ASSERT_EQ(world[0].pin_entries.size(), 3u);
  EXPECT_EQ(world[0].pin_entries[0].digits, "1234");
  EXPECT_EQ(world[0].pin_entries[1].kind, sim::PinEntry::Kind::kCancel);
  EXPECT_EQ(world[0].pin_entries[2].kind, sim::PinEntry::Kind::kTimeout);

  EXPECT_FALSE(world[1].spec.display || world[1].spec.keypad || world[1].spec.pin_pad);
  EXPECT_EQ(world[1].card.kind, CardKind::kTwoWire);
  EXPECT_EQ(world[1].card.memory, (Bytes{0xA2, 0x13, 0x10, 0x91}));
  EXPECT_EQ(world[1].card.memory_size, 128u);

  EXPECT_EQ(world[2].card.kind, CardKind::kTwoWire);
  ASSERT_EQ(world[2].card.memory.size(), 256u);  // the generator's insurance-card image
  EXPECT_EQ(Bytes(world[2].card.memory.begin(), world[2].card.memory.begin() + 4),
            (Bytes{0xA2, 0x13, 0x10, 0x91}));
  EXPECT_FALSE(world[3].has_card);

  // Attached, the simulator lists the readers in their order, with their cards.
  sim::Reset();
  sim::AddWorld(world);
  pcsc::Context context = 0;
  ASSERT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context), pcsc::kSuccess);
  char names[256] = {};
  uint32_t length = sizeof names;
  ASSERT_EQ(pcsc::SCardListReadersA(context, nullptr, names, &length), pcsc::kSuccess);
  // The names, each ended by NUL, and the list ended by the literal's own NUL.
  const char kNames[] =
      "TREVANO Kelvane Birch 0\0TREVANO Kelvane Alder 0\0Another reader\0Empty reader\0";
  EXPECT_EQ(std::string(names, length), std::string(kNames, sizeof kNames));
  pcsc::ReaderState states[2] = {{"TREVANO Kelvane Birch 0", nullptr, 0, 0, 0, {}},
                                 {"Empty reader", nullptr, 0, 0, 0, {}}};
  ASSERT_EQ(pcsc::SCardGetStatusChangeA(context, 0, states, 2), pcsc::kSuccess);
  EXPECT_NE(states[0].event_state & pcsc::kStatePresent, 0u);
  EXPECT_NE(states[1].event_state & pcsc::kStateEmpty, 0u);
  pcsc::SCardReleaseContext(context);
}

TEST(WorldTest, MistakesNameTheirLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"readers \"A\"", "line 1: unknown item \"readers\""},
      {"reader A", "line 1: reader needs a name in quotes"},
      {"reader \"A", "line 1: reader needs a name in quotes"},
      {"reader \"\"", "line 1: reader needs a name in quotes"},
      {"reader \"A\" display\nreader \"A\"", "line 2: reader \"A\" comes twice"},
      {"reader \"A\" touchscreen", "line 1: unknown reader flag \"touchscreen\""},
      {"# none yet\ncard processor", "line 2: a card needs a reader line before it"},
      {"reader \"A\"\ncard processor\ncard 2wire", "line 3: reader \"A\" has a card already"},
      {"reader \"A\"\ncard", "line 2: card needs a kind"},
      {"reader \"A\"\ncard magnetic", "line 2: unknown card kind \"magnetic\""},
      {"reader \"A\"\ncard insurance memory=00", "line 2: an insurance card takes no keys"},
      {"reader \"A\"\ncard processor atr", "line 2: \"atr\" is not key=value"},
      {"reader \"A\"\ncard processor atr=3B", "line 2: atr needs 2 to 33 bytes in hex"},
      {"reader \"A\"\ncard processor atr=3B0", "line 2: atr needs 2 to 33 bytes in hex"},
      {"reader \"A\"\ncard processor atr=3BXY", "line 2: atr needs 2 to 33 bytes in hex"},
      {"reader \"A\"\ncard processor protocols=4",
       "line 2: protocols is 1 (T=0), 2 (T=1) or 3 (both)"},
      {"reader \"A\"\ncard processor file=2F:41", "line 2: file needs FID:HEX"},
      {"reader \"A\"\ncard processor script=80CA:90",
       "line 2: script needs CMD:RSP with SW1 SW2 in RSP"},
      {"reader \"A\"\ncard processor memory=00", "line 2: unknown key \"memory\" for this card"},
      {"reader \"A\"\ncard 2wire atr=3B00", "line 2: unknown key \"atr\" for this card"},
      {"reader \"A\"\ncard 3wire size=127", "line 2: size is 128 to 65536"},
      {"reader \"A\"\ncard i2c size=-1", "line 2: size is 128 to 65536"},
      {"reader \"A\"\ncard i2c pin=", "line 2: pin needs hex digits"},
      {"pin-entries 1234", "line 1: PIN-pad entries need a reader line before them"},
      {"reader \"A\"\npin-entries", "line 2: pin-entries needs digits, cancel or timeout"},
      {"reader \"A\"\npin-entries 12a4", "line 2: \"12a4\" is no PIN-pad entry"},
  };
  for (const Case& c : cases) {
    sim::World world(1);
    std::string error;
    EXPECT_FALSE(sim::ParseWorld(c.text, &world, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_TRUE(world.empty()) << c.text;
  }
  sim::World world;
  std::string error;
  EXPECT_FALSE(sim::ReadWorldFile("/no/such/world.txt", &world, &error));
  EXPECT_EQ(error, "cannot read /no/such/world.txt");
  EXPECT_FALSE(sim::ParseWorld("", nullptr, &error));
}

}  // namespace
