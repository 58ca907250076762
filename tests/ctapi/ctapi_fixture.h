// SPDX-License-Identifier: BSD-3-Clause
// The ground every CT-API test stands on: a fresh simulator, a private registry and error log,
// and the default system version. Each test runs in a process of its own, so the process's
// terminal table starts empty, and its terminal table segment is its own (isolation.cpp).
// Also the exchanges the tests make: CT_data and a terminal-command handler called directly,
// both with a guarded response buffer, and the commands the simulated cards received.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "ctapi/command.h"
#include "ctapi/ctapi.h"
#include "ctapi/slots.h"
#include "sim/sim.h"
#include "tests/common/test_util.h"

namespace ctapitest {

using Bytes = std::vector<uint8_t>;

// One exchange as the caller sees it: the return code, the response, and the addresses and the
// response length as the call left them.
struct Exchange {
  int8_t code;
  Bytes response;
  uint8_t sad;
  uint8_t dad;
  uint16_t lenr;
};

// Bytes of 0xEE behind the capacity of every response buffer: nothing may write them.
constexpr size_t kGuardBytes = 8;

inline void ExpectGuardIntact(const Bytes& buffer, uint16_t capacity) {
  for (size_t i = capacity; i < buffer.size(); ++i)
    EXPECT_EQ(buffer[i], 0xEE) << "written beyond the capacity at " << i;
}

// CT_data of terminal `ctn` with `command` to `dad` from `sad`, a response of `capacity` bytes.
inline Exchange CtData(uint16_t ctn, uint8_t dad, const Bytes& command, uint16_t capacity = 258,
                       uint8_t sad = ctapi::kAddressHost) {
  Exchange out{};
  Bytes buffer(capacity + kGuardBytes, 0xEE);
  out.sad = sad;
  out.dad = dad;
  out.lenr = capacity;
  Bytes writable =
      command;  // the CT-API takes the command as writable; the library never writes it
  out.code = CT_data(ctn, &out.dad, &out.sad, static_cast<uint16_t>(writable.size()),
                     writable.data(), &out.lenr, buffer.data());
  EXPECT_EQ(writable, command) << "the library wrote to the command";
  ExpectGuardIntact(buffer, capacity);
  out.response.assign(buffer.begin(), buffer.begin() + (out.lenr <= capacity ? out.lenr : 0));
  return out;
}

// Calls `handler` for the terminal in `slot` with the parsed `command` from `sad` and a response
// of `capacity` bytes. Every reply comes from the terminal to the caller.
inline Exchange CallHandler(ctapi::TerminalHandler handler, int slot, const Bytes& command,
                            uint16_t capacity = 64, uint8_t sad = ctapi::kAddressHost) {
  ctapi::CommandApdu parsed;
  EXPECT_EQ(ctapi::ParseCommandApdu(static_cast<uint16_t>(command.size()), command.data(), &parsed),
            0);
  Exchange out{};
  Bytes buffer(capacity + kGuardBytes, 0xEE);
  out.sad = sad;
  out.dad = ctapi::kAddressCt;
  out.lenr = capacity;
  out.code = handler(slot, &out.sad, &out.dad, &out.lenr, buffer.data(), parsed);
  ExpectGuardIntact(buffer, capacity);
  EXPECT_LE(out.lenr, capacity);
  out.response.assign(buffer.begin(), buffer.begin() + std::min(out.lenr, capacity));
  EXPECT_EQ(out.sad, ctapi::kAddressCt);
  EXPECT_EQ(out.dad, sad);
  return out;
}

// The commands the cards received, as the simulator logged them.
inline std::vector<Bytes> TransmittedApdus() {
  std::vector<Bytes> sent;
  for (const sim::Call& call : sim::Calls()) {
    if (call.fn == sim::Fn::kTransmit) sent.push_back(call.input);
  }
  return sent;
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts)
    joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

inline Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// A processor card with answer-to-reset `atr`.
inline cards::CardSpec CardWithAtr(const Bytes& atr, uint32_t protocols = 3) {
  cards::CardSpec card;
  card.atr = atr;
  card.protocols = protocols;
  return card;
}

class CtapiTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }

  // Adds readers named as PC/SC lists them; `display` and `pin_pad` apply to all of them.
  void AddReaders(std::initializer_list<const char*> names, bool display = false) {
    for (const char* name : names) {
      sim::ReaderSpec reader;
      reader.name = name;
      reader.display = display;
      reader.keypad = display;
      sim::AddReader(reader);
    }
  }

  // Sets the registry value SinglePort of the CT-API key.
  void SetSinglePort(const std::string& text) {
    std::string key =
        registry_.path() + "/HKEY_LOCAL_MACHINE/System/CurrentControlSet/Control/Kelvane/CT-API";
    testutil::MakeFolders(key);
    testutil::WriteFile(key + "/SinglePort", text);
  }

  // Opens terminal 1 on `reader` (port `pn`); `display` as for AddReaders.
  void Open(const char* reader, uint16_t pn, bool display = false) {
    AddReaders({reader}, display);
    ASSERT_EQ(CT_init(1, pn), OK);
  }
  // Opens terminal 1 on `reader` (port `pn`) with `card` in it.
  void Open(const char* reader, uint16_t pn, const cards::CardSpec& card) {
    AddReaders({reader});
    sim::InsertCard(reader, card);
    ASSERT_EQ(CT_init(1, pn), OK);
  }

  ctapi::TerminalSlot& SlotAt(int index) { return ctapi::SlotTable()[index]; }

  testutil::TempDir registry_;
  testutil::TempDir logs_;
  std::string log_ = logs_.File("err.log");
  testutil::ScopedEnv registry_env_{"CTKORVIN_REGISTRY", registry_.path().c_str()};
  testutil::ScopedEnv log_env_{"ERRLFILE", log_.c_str()};
  testutil::ScopedEnv os_env_{"CTKORVIN_OSVERSION", nullptr};
};

// For tests that call the handlers of terminal 1 directly.
class TerminalOneTest : public CtapiTest {
 protected:
  // Give the slot back, as an application would, so that CT_close runs after every handler test.
  void TearDown() override {
    if (ctapi::IsAttached()) CT_close(1);
  }

  // The slot of terminal 1: another process may hold the first ones.
  int index() { return ctapi::FindSlotByCtn(1); }
  ctapi::TerminalSlot& slot() { return SlotAt(index()); }
};

}  // namespace ctapitest
