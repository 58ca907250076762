// SPDX-License-Identifier: BSD-3-Clause
// The PC/SC seam's backend on Windows: thin forwarding to WinSCard, whose values the seam
// carries. On 32-bit Windows the seam's records are WinSCard's own, field for field, and its
// handles and contexts have the width of the seam's.
#include <stddef.h>
#include <windows.h>
#include <winscard.h>

#include "pcsc/pcsc.h"

namespace pcsc {

static_assert(sizeof(SCARDCONTEXT) == sizeof(Context) && sizeof(SCARDHANDLE) == sizeof(CardHandle),
              "contexts and card handles are 32-bit");
static_assert(sizeof(DWORD) == sizeof(uint32_t) && sizeof(LONG) == sizeof(Result));
static_assert(sizeof(SCARD_READERSTATEA) == sizeof(ReaderState) &&
              offsetof(SCARD_READERSTATEA, szReader) == offsetof(ReaderState, reader) &&
              offsetof(SCARD_READERSTATEA, pvUserData) == offsetof(ReaderState, user_data) &&
              offsetof(SCARD_READERSTATEA, dwCurrentState) ==
                  offsetof(ReaderState, current_state) &&
              offsetof(SCARD_READERSTATEA, dwEventState) == offsetof(ReaderState, event_state) &&
              offsetof(SCARD_READERSTATEA, cbAtr) == offsetof(ReaderState, atr_length) &&
              offsetof(SCARD_READERSTATEA, rgbAtr) == offsetof(ReaderState, atr));
static_assert(sizeof(SCARD_IO_REQUEST) == sizeof(IoRequest) &&
              offsetof(SCARD_IO_REQUEST, dwProtocol) == offsetof(IoRequest, protocol) &&
              offsetof(SCARD_IO_REQUEST, cbPciLength) == offsetof(IoRequest, pci_length));
static_assert(static_cast<Result>(SCARD_E_UNSUPPORTED_FEATURE) == kUnsupportedFeature);

namespace {

Result R(LONG rv) {
  return static_cast<Result>(rv);
}

DWORD* D(uint32_t* value) {
  return reinterpret_cast<DWORD*>(value);
}

}  // namespace

Result SCardEstablishContext(uint32_t scope, Context* context) {
  if (!context) return kInvalidParameter;
  SCARDCONTEXT native = 0;
  const LONG rv = ::SCardEstablishContext(scope, nullptr, nullptr, &native);
  *context = static_cast<Context>(native);
  return R(rv);
}

Result SCardReleaseContext(Context context) {
  return R(::SCardReleaseContext(context));
}

Result SCardListReadersA(Context context, const char* groups, char* readers, uint32_t* length) {
  return R(::SCardListReadersA(context, groups, readers, D(length)));
}

Result SCardFreeMemory(Context context, const void* memory) {
  return R(::SCardFreeMemory(context, memory));
}

Result SCardGetStatusChangeA(Context context, uint32_t timeout_ms, ReaderState* states,
                             uint32_t count) {
  return R(::SCardGetStatusChangeA(context, timeout_ms,
                                   reinterpret_cast<SCARD_READERSTATEA*>(states), count));
}

Result SCardConnectA(Context context, const char* reader, uint32_t share_mode,
                     uint32_t preferred_protocols, CardHandle* card, uint32_t* active_protocol) {
  if (!card) return kInvalidParameter;
  SCARDHANDLE native = 0;
  const LONG rv = ::SCardConnectA(context, reader, share_mode, preferred_protocols, &native,
                                  D(active_protocol));
  *card = static_cast<CardHandle>(native);
  return R(rv);
}

Result SCardReconnect(CardHandle card, uint32_t share_mode, uint32_t preferred_protocols,
                      uint32_t initialization, uint32_t* active_protocol) {
  return R(
      ::SCardReconnect(card, share_mode, preferred_protocols, initialization, D(active_protocol)));
}

Result SCardDisconnect(CardHandle card, uint32_t disposition) {
  return R(::SCardDisconnect(card, disposition));
}

Result SCardTransmit(CardHandle card, const IoRequest* send_pci, const uint8_t* send,
                     uint32_t send_length, IoRequest* receive_pci, uint8_t* receive,
                     uint32_t* receive_length) {
  return R(::SCardTransmit(card, reinterpret_cast<const SCARD_IO_REQUEST*>(send_pci), send,
                           send_length, reinterpret_cast<SCARD_IO_REQUEST*>(receive_pci), receive,
                           D(receive_length)));
}

Result SCardGetAttrib(CardHandle card, uint32_t attribute, uint8_t* value, uint32_t* length) {
  return R(::SCardGetAttrib(card, attribute, value, D(length)));
}

uint32_t PlatformControlCode(uint32_t n) {
  return CtlCode(n);  // WinSCard's SCARD_CTL_CODE
}

Result SCardControl(CardHandle card, uint32_t control_code, const void* input,
                    uint32_t input_length, void* output, uint32_t output_length,
                    uint32_t* returned) {
  DWORD native_returned = 0;
  const LONG rv = ::SCardControl(card, control_code, input, input_length, output, output_length,
                                 &native_returned);
  if (returned) *returned = native_returned;
  return R(rv);
}

}  // namespace pcsc
