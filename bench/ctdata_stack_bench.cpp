// SPDX-License-Identifier: BSD-3-Clause
// CT_data to a card on the real stack (pcscd, the vpcd reader, a kv-vicc card) against the
// PC/SC calls the library makes for it, made raw: the reader's state (1 ms), the protocol the
// card runs (from its status where the driver lacks the attribute, as the pcsc-lite backend
// does), a reconnect that leaves the card as it is, and the transmission. Both run in turns in the
// same iterations, so that the daemon's changing pace weighs on both alike; the counter ratio is
// CT_data's time over the raw calls' (goal: 1.05 or less). Run it inside the stack:
// bench/stack-bench.sh.
#include <PCSC/reader.h>
#include <PCSC/winscard.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "ctapi/ctapi.h"

namespace {

using Clock = std::chrono::steady_clock;

// READ BINARY of 16 bytes of the selected file; the card answers with data and 90 00.
uint8_t g_command[] = {0x00, 0xB0, 0x00, 0x00, 0x10};

void BM_CtDataAgainstRawPcsc(benchmark::State& state) {
  const char* reader_env = getenv("KV_BENCH_READER");  // pcsc-lite's name, "NAME 00 00"
  const std::string reader = reader_env ? reader_env : "TREVANO Kelvane Birch 00 00";
  uint8_t response[300];
  uint8_t dad = CTAPI_AD_ICC1, sad = CTAPI_AD_HOST;
  uint16_t lenr = sizeof response;
  uint8_t power[] = {0x20, 0x12, 0x01, 0x01, 0x00};
  uint8_t select[] = {0x00, 0xA4, 0x02, 0x00, 0x02, 0x2F, 0x01};
  if (CT_init(1, 1) != OK) {
    state.SkipWithError("CT_init(1, 1) failed: is the stack up?");
    return;
  }
  dad = CTAPI_AD_CT;
  CT_data(1, &dad, &sad, sizeof power, power, &lenr, response);
  dad = CTAPI_AD_ICC1, sad = CTAPI_AD_HOST, lenr = sizeof response;
  CT_data(1, &dad, &sad, sizeof select, select, &lenr, response);

  SCARDCONTEXT context = 0;
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS ||
      SCardConnect(context, reader.c_str(), SCARD_SHARE_SHARED,
                   SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol) != SCARD_S_SUCCESS) {
    state.SkipWithError("raw connection failed");
    CT_close(1);
    return;
  }
  auto library = [&] {
    dad = CTAPI_AD_ICC1, sad = CTAPI_AD_HOST, lenr = sizeof response;
    benchmark::DoNotOptimize(CT_data(1, &dad, &sad, sizeof g_command, g_command, &lenr, response));
  };
  auto raw = [&] {
    SCARD_READERSTATE reader_state{};
    reader_state.szReader = reader.c_str();
    reader_state.dwCurrentState = SCARD_STATE_UNAWARE;
    SCardGetStatusChange(context, 1, &reader_state, 1);
    // The protocol the card runs; a driver without the attribute is asked for the card's status.
    uint8_t attribute[8];
    DWORD attribute_length = sizeof attribute;
    if (SCardGetAttrib(card, SCARD_ATTR_CURRENT_PROTOCOL_TYPE, attribute, &attribute_length) !=
        SCARD_S_SUCCESS) {
      char name[200];
      DWORD name_length = sizeof name, card_state = 0, atr_length = sizeof attribute;
      SCardStatus(card, name, &name_length, &card_state, &protocol, attribute, &atr_length);
    }
    SCardReconnect(card, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                   SCARD_LEAVE_CARD, &protocol);
    const SCARD_IO_REQUEST* pci = protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
    DWORD received = sizeof response;
    // Over T=0 the library sends a case-2 command without its Le 00; here Le is 16, sent whole.
    SCardTransmit(card, pci, g_command, sizeof g_command, nullptr, response, &received);
  };
  // The two take turns in which goes first, so that neither always meets the daemon idle.
  double library_ns = 0, raw_ns = 0;
  bool library_first = true;
  for (auto _ : state) {
    for (int turn = 0; turn < 2; ++turn) {
      const bool library_now = (turn == 0) == library_first;
      const auto start = Clock::now();
      library_now ? library() : raw();
      const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
      (library_now ? library_ns : raw_ns) += ns;
    }
    library_first = !library_first;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["ctdata_us"] = library_ns / n / 1000;
  state.counters["raw_us"] = raw_ns / n / 1000;
  state.counters["ratio"] = raw_ns > 0 ? library_ns / raw_ns : 0;
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  SCardReleaseContext(context);
  CT_close(1);
}

BENCHMARK(BM_CtDataAgainstRawPcsc)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
