// SPDX-License-Identifier: BSD-3-Clause
// winscard.dll over the reader simulator: the WinSCard calls that CTKORVIN.dll, memlink.dll and
// pinlink.dll import, with WinSCard's signatures, carried out by the simulator of this process.
// It stands in for the PC/SC service in the end-to-end runs under Wine, where all three DLLs of
// a process bind this one copy and so see the same readers.
//
// The machine comes from the file that KV_SIM_WORLD names (sim/world.h), read at the first call.
// Without the variable, or with a file that cannot be read, the resource manager does not run:
// every context answers SCARD_E_NO_SERVICE, and the reason is written to stderr once.
//
// The simulator answers the functions of PC/SC part 10 under pcsc-lite's control codes; a
// WinSCard client asks in WinSCard's form (SCARD_CTL_CODE). The calls are translated both ways
// here: the request, and the control codes in the feature list the reader answers.
//
// The simulator's clock is virtual and per process: a status-change wait returns at once with
// its result. The library's own clock runs for real, so sessions keep cards in their readers.
// WinSCard's protocol control records are defined here, not imported (windows.h brings
// winscard.h too).
#define WINSCARDDATA

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>
#include <winscard.h>

#include <mutex>
#include <string>

#include "pcsc/pcsc.h"
#include "sim/sim.h"
#include "sim/world.h"

const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardRawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};

namespace {

static_assert(sizeof(SCARDCONTEXT) == sizeof(pcsc::Context) &&
                  sizeof(SCARDHANDLE) == sizeof(pcsc::CardHandle) &&
                  sizeof(DWORD) == sizeof(uint32_t) && sizeof(LONG) == sizeof(pcsc::Result),
              "contexts, handles, lengths and results are 32-bit");
static_assert(sizeof(SCARD_READERSTATEA) == sizeof(pcsc::ReaderState) &&
              offsetof(SCARD_READERSTATEA, dwEventState) ==
                  offsetof(pcsc::ReaderState, event_state) &&
              offsetof(SCARD_READERSTATEA, rgbAtr) == offsetof(pcsc::ReaderState, atr));
static_assert(sizeof(SCARD_IO_REQUEST) == sizeof(pcsc::IoRequest));

constexpr char kWorldVariable[] = "KV_SIM_WORLD";

// The functions of PC/SC part 10 (the feature request 3400, the features from 3500 on).
constexpr uint32_t kPart10First = 3400;
constexpr uint32_t kPart10Last = 3599;

// The machine of the world file, built once at the first call of any export.
void SetUpOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    sim::Reset();
    const char* path = getenv(kWorldVariable);
    std::string error = "KV_SIM_WORLD names no world file";
    sim::World world;
    if (path != nullptr && *path != '\0' && sim::ReadWorldFile(path, &world, &error)) {
      sim::AddWorld(world);
      return;
    }
    fprintf(stderr, "winscard (simulator): %s; no PC/SC service\n", error.c_str());
    fflush(stderr);
    sim::SetServiceRunning(false);
  });
}

LONG R(pcsc::Result result) {
  return static_cast<LONG>(result);
}

uint32_t* U(DWORD* value) {
  return reinterpret_cast<uint32_t*>(value);
}

// WinSCard's SCARD_CTL_CODE(n) of a part-10 function as the simulator knows it; other codes
// (the reader maker's own) are the same on both sides.
uint32_t ToSimulatorCode(uint32_t code) {
  const uint32_t base = pcsc::CtlCode(0);
  if (code < pcsc::CtlCode(kPart10First) || code > pcsc::CtlCode(kPart10Last) ||
      (code - base) % 4 != 0) {
    return code;
  }
  return pcsc::PlatformControlCode((code - base) / 4);
}

uint32_t ToWinScardCode(uint32_t code) {
  const uint32_t base = pcsc::PlatformControlCode(0);
  if (code < pcsc::PlatformControlCode(kPart10First) ||
      code > pcsc::PlatformControlCode(kPart10Last)) {
    return code;
  }
  return pcsc::CtlCode(code - base);
}

// The feature list (tag, length, control code in four bytes, most significant first) with its
// codes in WinSCard's form.
void FeatureListToWinScard(uint8_t* list, uint32_t length) {
  for (uint32_t at = 0; at + 2 <= length;) {
    const uint32_t value_length = list[at + 1];
    if (length - at - 2 < value_length) break;
    if (value_length == 4) {
      uint8_t* value = list + at + 2;
      const uint32_t code = ToWinScardCode(static_cast<uint32_t>(value[0]) << 24 |
                                           static_cast<uint32_t>(value[1]) << 16 |
                                           static_cast<uint32_t>(value[2]) << 8 | value[3]);
      for (int i = 0; i < 4; ++i)
        value[i] = static_cast<uint8_t>(code >> (24 - 8 * i));
    }
    at += 2 + value_length;
  }
}

}  // namespace

LONG WINAPI SCardEstablishContext(DWORD dwScope, LPCVOID, LPCVOID, LPSCARDCONTEXT phContext) {
  SetUpOnce();
  if (phContext == nullptr) return R(pcsc::kInvalidParameter);
  pcsc::Context context = 0;
  const pcsc::Result result = pcsc::SCardEstablishContext(dwScope, &context);
  *phContext = context;
  return R(result);
}

LONG WINAPI SCardReleaseContext(SCARDCONTEXT hContext) {
  SetUpOnce();
  return R(pcsc::SCardReleaseContext(hContext));
}

LONG WINAPI SCardListReadersA(SCARDCONTEXT hContext, LPCSTR mszGroups, LPSTR mszReaders,
                              LPDWORD pcchReaders) {
  SetUpOnce();
  return R(pcsc::SCardListReadersA(hContext, mszGroups, mszReaders, U(pcchReaders)));
}

LONG WINAPI SCardFreeMemory(SCARDCONTEXT hContext, LPCVOID pvMem) {
  SetUpOnce();
  return R(pcsc::SCardFreeMemory(hContext, pvMem));
}

LONG WINAPI SCardGetStatusChangeA(SCARDCONTEXT hContext, DWORD dwTimeout,
                                  LPSCARD_READERSTATEA rgReaderStates, DWORD cReaders) {
  SetUpOnce();
  return R(pcsc::SCardGetStatusChangeA(
      hContext, dwTimeout, reinterpret_cast<pcsc::ReaderState*>(rgReaderStates), cReaders));
}

LONG WINAPI SCardConnectA(SCARDCONTEXT hContext, LPCSTR szReader, DWORD dwShareMode,
                          DWORD dwPreferredProtocols, LPSCARDHANDLE phCard,
                          LPDWORD pdwActiveProtocol) {
  SetUpOnce();
  if (phCard == nullptr) return R(pcsc::kInvalidParameter);
  pcsc::CardHandle card = 0;
  const pcsc::Result result = pcsc::SCardConnectA(
      hContext, szReader, dwShareMode, dwPreferredProtocols, &card, U(pdwActiveProtocol));
  *phCard = card;
  return R(result);
}

LONG WINAPI SCardReconnect(SCARDHANDLE hCard, DWORD dwShareMode, DWORD dwPreferredProtocols,
                           DWORD dwInitialization, LPDWORD pdwActiveProtocol) {
  SetUpOnce();
  return R(pcsc::SCardReconnect(hCard, dwShareMode, dwPreferredProtocols, dwInitialization,
                                U(pdwActiveProtocol)));
}

LONG WINAPI SCardDisconnect(SCARDHANDLE hCard, DWORD dwDisposition) {
  SetUpOnce();
  return R(pcsc::SCardDisconnect(hCard, dwDisposition));
}

LONG WINAPI SCardTransmit(SCARDHANDLE hCard, LPCSCARD_IO_REQUEST pioSendPci, LPCBYTE pbSendBuffer,
                          DWORD cbSendLength, LPSCARD_IO_REQUEST pioRecvPci, LPBYTE pbRecvBuffer,
                          LPDWORD pcbRecvLength) {
  SetUpOnce();
  return R(pcsc::SCardTransmit(
      hCard, reinterpret_cast<const pcsc::IoRequest*>(pioSendPci), pbSendBuffer, cbSendLength,
      reinterpret_cast<pcsc::IoRequest*>(pioRecvPci), pbRecvBuffer, U(pcbRecvLength)));
}

LONG WINAPI SCardGetAttrib(SCARDHANDLE hCard, DWORD dwAttrId, LPBYTE pbAttr, LPDWORD pcbAttrLen) {
  SetUpOnce();
  return R(pcsc::SCardGetAttrib(hCard, dwAttrId, pbAttr, U(pcbAttrLen)));
}

LONG WINAPI SCardControl(SCARDHANDLE hCard, DWORD dwControlCode, LPCVOID lpInBuffer,
                         DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                         LPDWORD lpBytesReturned) {
  SetUpOnce();
  const pcsc::Result result =
      pcsc::SCardControl(hCard, ToSimulatorCode(dwControlCode), lpInBuffer, nInBufferSize,
                         lpOutBuffer, nOutBufferSize, U(lpBytesReturned));
  const bool feature_request = dwControlCode == pcsc::CtlCode(pcsc::kFeatureRequestFunction);
  if (result == pcsc::kSuccess && feature_request && lpOutBuffer != nullptr &&
      lpBytesReturned != nullptr && *lpBytesReturned <= nOutBufferSize) {
    FeatureListToWinScard(static_cast<uint8_t*>(lpOutBuffer), *lpBytesReturned);
  }
  return R(result);
}
