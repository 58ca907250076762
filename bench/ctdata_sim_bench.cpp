// SPDX-License-Identifier: BSD-3-Clause
// The library's own cost of CT_data, on the reader simulator: each benchmark sends one terminal
// or card command again and again, and then replays, raw, the PC/SC calls that one such CT_data
// made. The counter own_ns is the time per CT_data less the time of its PC/SC calls: what the
// library itself spends (goal: 1 µs or less).
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "ctapi/ctapi.h"
#include "ctapi/slots.h"
#include "pcsc/pcsc.h"
#include "sim/sim.h"
#include "tests/memcard/insurance_card.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr char kProcessorReader[] = "TREVANO Kelvane Birch 0";
constexpr char kMemoryReader[] = "TREVANO Kelvane Alder 0";
constexpr uint16_t kCapacity = 300;

struct Terminal {
  uint16_t port;
  uint8_t dad;
  Bytes command;
  std::vector<Bytes> before;  // commands that bring the card where the measured one works
};

uint8_t g_response[kCapacity];

int8_t Send(uint8_t dad, Bytes command) {
  uint8_t sad = CTAPI_AD_HOST;
  uint16_t lenr = kCapacity;
  return CT_data(1, &dad, &sad, static_cast<uint16_t>(command.size()), command.data(), &lenr,
                 g_response);
}

// Replays the logged PC/SC calls of one CT_data. A handle the logged calls did not make is the
// connection the terminal had when the CT_data began: *current stands for it, and afterwards
// *current is the connection the replay left, as the terminal's would be.
void Replay(const std::vector<sim::Call>& calls, uint32_t* current) {
  std::map<uint32_t, uint32_t> handles;
  uint32_t last_made = 0;
  auto card = [&](uint32_t logged) {
    auto found = handles.find(logged);
    return found == handles.end() ? *current : found->second;
  };
  for (const sim::Call& call : calls) {
    uint8_t out[300];
    uint32_t length = sizeof out;
    uint32_t protocol = 0;
    switch (call.fn) {
      case sim::Fn::kGetStatusChange: {
        pcsc::ReaderState state{};
        state.reader = call.reader.c_str();
        pcsc::SCardGetStatusChangeA(call.context, call.timeout_ms, &state, 1);
        break;
      }
      case sim::Fn::kConnect: {
        uint32_t handle = 0;
        pcsc::SCardConnectA(call.context, call.reader.c_str(), call.share_mode, call.protocols,
                            &handle, &protocol);
        handles[call.card] = handle;
        last_made = handle;
        break;
      }
      case sim::Fn::kReconnect:
        pcsc::SCardReconnect(card(call.card), call.share_mode, call.protocols, call.disposition,
                             &protocol);
        break;
      case sim::Fn::kDisconnect:
        pcsc::SCardDisconnect(card(call.card), call.disposition);
        break;
      case sim::Fn::kTransmit: {
        const pcsc::IoRequest pci{2, sizeof(pcsc::IoRequest)};
        pcsc::SCardTransmit(card(call.card), &pci, call.input.data(),
                            static_cast<uint32_t>(call.input.size()), nullptr, out, &length);
        break;
      }
      case sim::Fn::kGetAttrib:
        pcsc::SCardGetAttrib(card(call.card), call.code, out, &length);
        break;
      case sim::Fn::kControl:
        pcsc::SCardControl(card(call.card), call.code, call.input.data(),
                           static_cast<uint32_t>(call.input.size()), out, sizeof out, &length);
        break;
      default:
        break;
    }
  }
  if (last_made != 0) *current = last_made;
}

void RunCommand(benchmark::State& state, const Terminal& terminal) {
  char prefix[40];
  snprintf(prefix, sizeof prefix, "kvbench.%d.", static_cast<int>(getpid()));
  setenv("CTKORVIN_OBJECT_PREFIX", prefix, 1);
  sim::Reset();
  sim::ReaderSpec reader;
  reader.name = kProcessorReader;
  sim::AddReader(reader);
  reader.name = kMemoryReader;
  sim::AddReader(reader);
  cards::CardSpec processor;
  processor.atr = {0x3B, 0x82, 0x80, 0x01, 0x14, 0x50};
  sim::InsertCard(kProcessorReader, processor);
  sim::InsertCard(kMemoryReader, testcards::MemoryCard(testcards::Build(testcards::InsuranceCard{}),
                                                       cards::CardKind::kTwoWire));
  if (CT_init(1, terminal.port) != OK) {
    state.SkipWithError("CT_init failed");
    return;
  }
  for (const Bytes& command : terminal.before)
    Send(command[0] == 0x20 ? CTAPI_AD_CT : CTAPI_AD_ICC1, command);
  Send(terminal.dad, terminal.command);
  sim::ClearCalls();
  Send(terminal.dad, terminal.command);
  const std::vector<sim::Call> calls = sim::Calls();

  int64_t done = 0;
  const auto start = Clock::now();
  for (auto _ : state) {
    benchmark::DoNotOptimize(Send(terminal.dad, terminal.command));
    if ((++done & 1023) == 0) sim::ClearCalls();
  }
  const double total_ns =
      std::chrono::duration<double, std::nano>(Clock::now() - start).count() / done;

  const int replays = 20000;
  uint32_t current = ctapi::Slot(ctapi::FindSlotByCtn(1)).card_handle;
  const auto replay_start = Clock::now();
  for (int i = 0; i < replays; ++i) {
    Replay(calls, &current);
    if ((i & 1023) == 0) sim::ClearCalls();
  }
  const double pcsc_ns =
      std::chrono::duration<double, std::nano>(Clock::now() - replay_start).count() / replays;
  state.counters["pcsc_calls"] = static_cast<double>(calls.size());
  state.counters["pcsc_ns"] = pcsc_ns;
  state.counters["own_ns"] = total_ns - pcsc_ns;
  CT_close(1);
  // The table and its lock are this run's own: nothing of them stays behind.
  for (const char* name : {"m_KV-CTAPI", "ctkorvin-mappings.lock"})
    shm_unlink((std::string("/") + prefix + name).c_str());
}

const Bytes kRequestIcc = {0x20, 0x12, 0x01, 0x01, 0x00};

void BM_GetStatus(benchmark::State& state) {
  RunCommand(state, {1, CTAPI_AD_CT, {0x20, 0x13, 0x00, 0x46, 0x00}, {}});
}
void BM_VendorReaderName(benchmark::State& state) {
  RunCommand(state, {1, CTAPI_AD_CT, {0x20, 0xFF, 0x00, 0x00, 0x00}, {}});
}
void BM_RequestIccProcessorCard(benchmark::State& state) {
  RunCommand(state, {1, CTAPI_AD_CT, kRequestIcc, {}});
}
void BM_RequestIccMemoryCard(benchmark::State& state) {
  RunCommand(state, {20, CTAPI_AD_CT, kRequestIcc, {}});
}
void BM_ReadBinaryInsuranceCard(benchmark::State& state) {
  RunCommand(state,
             {20,
              CTAPI_AD_ICC1,
              {0x00, 0xB0, 0x00, 0x00, 0x00},
              {kRequestIcc, {0x00, 0xA4, 0x04, 0x00, 0x06, 0xD2, 0x76, 0x00, 0x00, 0x01, 0x01}}});
}

BENCHMARK(BM_GetStatus);
BENCHMARK(BM_VendorReaderName);
BENCHMARK(BM_RequestIccProcessorCard);
BENCHMARK(BM_RequestIccMemoryCard);
BENCHMARK(BM_ReadBinaryInsuranceCard);

}  // namespace

BENCHMARK_MAIN();
