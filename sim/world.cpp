// SPDX-License-Identifier: BSD-3-Clause
// The text form of a simulated machine (world.h): a line reader that builds reader and card
// specs, and the step that hands them to the simulator.
#include "sim/world.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/memcard/insurance_card.h"

namespace sim {

namespace {

using cards::Bytes;
using cards::CardKind;

struct CardKindName {
  const char* name;
  CardKind kind;
  bool insurance;  // the generator's insurance-card image, no further keys
};

constexpr CardKindName kCardKinds[] = {
    {"processor", CardKind::kProcessor, false}, {"2wire", CardKind::kTwoWire, false},
    {"3wire", CardKind::kThreeWire, false},     {"i2c", CardKind::kI2c, false},
    {"insurance", CardKind::kTwoWire, true},
};

bool ParseHex(const std::string& text, Bytes* out) {
  if (text.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    int byte = 0;
    for (size_t k = i; k < i + 2; ++k) {
      const char c = text[k];
      int nibble = -1;
      if (c >= '0' && c <= '9') nibble = c - '0';
      if (c >= 'a' && c <= 'f') nibble = c - 'a' + 10;
      if (c >= 'A' && c <= 'F') nibble = c - 'A' + 10;
      if (nibble < 0) return false;
      byte = byte << 4 | nibble;
    }
    out->push_back(static_cast<uint8_t>(byte));
  }
  return true;
}

bool ParseNumber(const std::string& text, unsigned long min, unsigned long max,
                 unsigned long* out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  const unsigned long value = strtoul(text.c_str(), &end, 10);
  if (*end != '\0' || value < min || value > max) return false;
  *out = value;
  return true;
}

// "LEFT:RIGHT", both in hex, LEFT not empty.
bool ParseHexPair(const std::string& text, Bytes* left, Bytes* right) {
  const size_t colon = text.find(':');
  return colon != std::string::npos && ParseHex(text.substr(0, colon), left) && !left->empty() &&
         ParseHex(text.substr(colon + 1), right);
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  return std::vector<std::string>(std::istream_iterator<std::string>(in),
                                  std::istream_iterator<std::string>());
}

// One key=value of a card line into `card`; an empty answer when it fits, else what is wrong.
std::string ApplyCardKey(const std::string& key, const std::string& value, cards::CardSpec* card) {
  const bool processor = card->kind == CardKind::kProcessor;
  Bytes left;
  Bytes right;
  unsigned long number = 0;
  if (key == "pin") {
    if (!ParseHex(value, &left) || left.empty()) return "pin needs hex digits";
    card->pin = left;
  } else if (processor && key == "atr") {
    if (!ParseHex(value, &left) || left.size() < 2 || left.size() > 33) {
      return "atr needs 2 to 33 bytes in hex";
    }
    card->atr = left;
  } else if (processor && key == "protocols") {
    if (!ParseNumber(value, 1, 3, &number)) return "protocols is 1 (T=0), 2 (T=1) or 3 (both)";
    card->protocols = static_cast<uint32_t>(number);
  } else if (processor && key == "file") {
    if (!ParseHexPair(value, &left, &right) || left.size() != 2) return "file needs FID:HEX";
    card->files[static_cast<uint16_t>(left[0] << 8 | left[1])] = right;
  } else if (processor && key == "script") {
    if (!ParseHexPair(value, &left, &right) || right.size() < 2) {
      return "script needs CMD:RSP with SW1 SW2 in RSP";
    }
    card->script[left] = right;
  } else if (!processor && key == "memory") {
    if (!ParseHex(value, &left) || left.size() > 65536) return "memory needs up to 65536 bytes";
    card->memory = left;
  } else if (!processor && key == "size") {
    if (!ParseNumber(value, 128, 65536, &number)) return "size is 128 to 65536";
    card->memory_size = static_cast<uint32_t>(number);
  } else {
    return "unknown key \"" + key + "\" for this card";
  }
  return "";
}

// The words after "card"; an empty answer when they make a card, else what is wrong.
std::string ParseCard(const std::vector<std::string>& words, cards::CardSpec* card) {
  if (words.size() < 2) return "card needs a kind";
  const CardKindName* kind = nullptr;
  for (const CardKindName& entry : kCardKinds) {
    if (words[1] == entry.name) kind = &entry;
  }
  if (kind == nullptr) return "unknown card kind \"" + words[1] + "\"";
  card->kind = kind->kind;
  if (kind->insurance) {
    if (words.size() > 2) return "an insurance card takes no keys";
    card->memory = testcards::Build(testcards::InsuranceCard{});
    return "";
  }
  for (size_t i = 2; i < words.size(); ++i) {
    const size_t equals = words[i].find('=');
    if (equals == std::string::npos) return "\"" + words[i] + "\" is not key=value";
    const std::string problem =
        ApplyCardKey(words[i].substr(0, equals), words[i].substr(equals + 1), card);
    if (!problem.empty()) return problem;
  }
  return "";
}

// The words after "pin-entries" onto `entries`; an empty answer when each is one, else what is
// wrong.
std::string ParsePinEntries(const std::vector<std::string>& words, std::vector<PinEntry>* entries) {
  if (words.size() < 2) return "pin-entries needs digits, cancel or timeout";
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "cancel") {
      entries->push_back(PinCancel());
    } else if (word == "timeout") {
      entries->push_back(PinTimeout());
    } else if (word.find_first_not_of("0123456789") == std::string::npos) {
      entries->push_back(PinDigits(word));
    } else {
      return "\"" + word + "\" is no PIN-pad entry";
    }
  }
  return "";
}

// The rest of a reader line: "<name>" and its flags.
std::string ParseReader(const std::string& rest, const World& world, ReaderSpec* reader) {
  const size_t open = rest.find_first_not_of(" \t");
  if (open == std::string::npos || rest[open] != '"') return "reader needs a name in quotes";
  const size_t close = rest.find('"', open + 1);
  if (close == std::string::npos || close == open + 1) return "reader needs a name in quotes";
  reader->name = rest.substr(open + 1, close - open - 1);
  for (const WorldReader& known : world) {
    if (known.spec.name == reader->name) return "reader \"" + reader->name + "\" comes twice";
  }
  for (const std::string& flag : Words(rest.substr(close + 1))) {
    if (flag == "display") {
      reader->display = true;
    } else if (flag == "keypad") {
      reader->keypad = true;
    } else if (flag == "pinpad") {
      reader->pin_pad = true;
    } else {
      return "unknown reader flag \"" + flag + "\"";
    }
  }
  return "";
}

}  // namespace

bool ParseWorld(const std::string& text, World* world, std::string* error) {
  if (world == nullptr || error == nullptr) return false;
  world->clear();
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> words = Words(line);
    std::string problem;
    if (words.empty() || words[0][0] == '#') continue;
    if (words[0] == "reader") {
      WorldReader reader;
      problem = ParseReader(line.substr(line.find("reader") + 6), *world, &reader.spec);
      if (problem.empty()) world->push_back(reader);
    } else if (words[0] == "card") {
      if (world->empty()) {
        problem = "a card needs a reader line before it";
      } else if (world->back().has_card) {
        problem = "reader \"" + world->back().spec.name + "\" has a card already";
      } else {
        problem = ParseCard(words, &world->back().card);
        world->back().has_card = problem.empty();
      }
    } else if (words[0] == "pin-entries") {
      problem = world->empty() ? "PIN-pad entries need a reader line before them"
                               : ParsePinEntries(words, &world->back().pin_entries);
    } else {
      problem = "unknown item \"" + words[0] + "\"";
    }
    if (!problem.empty()) {
      *error = "line " + std::to_string(number) + ": " + problem;
      world->clear();
      return false;
    }
  }
  return true;
}

bool ReadWorldFile(const std::string& path, World* world, std::string* error) {
  if (world == nullptr || error == nullptr) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!ParseWorld(text, world, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

void AddWorld(const World& world) {
  for (const WorldReader& reader : world) {
    AddReader(reader.spec);
    if (reader.has_card) InsertCard(reader.spec.name, reader.card);
    if (!reader.pin_entries.empty()) QueuePinEntries(reader.spec.name, reader.pin_entries);
  }
}

}  // namespace sim
