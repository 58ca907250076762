// SPDX-License-Identifier: BSD-3-Clause
// The one PC/SC seam of the library. These are the calls the library makes into the smart-card
// resource manager, with fixed-width types and the values of WinSCard: result codes, state bits,
// attribute ids and control codes travel through unchanged. A backend is chosen at link time:
// pcsc-lite on Linux, WinSCard on Windows, the in-process reader simulator in tests.
#pragma once

#include <cstdint>

namespace pcsc {

using Context = uint32_t;
using CardHandle = uint32_t;
using Result = uint32_t;

constexpr uint32_t kInfinite = 0xFFFFFFFF;
// With a length of kAutoAllocate the resource manager allocates the answer; the caller frees it
// with SCardFreeMemory.
constexpr uint32_t kAutoAllocate = 0xFFFFFFFF;
constexpr uint32_t kMaxAtrSize = 36;

// Results.
constexpr Result kSuccess = 0x00000000;
constexpr Result kInternalError = 0x80100001;
constexpr Result kInvalidHandle = 0x80100003;
constexpr Result kInvalidParameter = 0x80100004;
constexpr Result kNoMemory = 0x80100006;
constexpr Result kInsufficientBuffer = 0x80100008;
constexpr Result kUnknownReader = 0x80100009;
constexpr Result kTimeout = 0x8010000A;
constexpr Result kSharingViolation = 0x8010000B;
constexpr Result kNoSmartcard = 0x8010000C;
constexpr Result kProtoMismatch = 0x8010000F;
constexpr Result kNotReady = 0x80100010;
constexpr Result kInvalidValue = 0x80100011;
constexpr Result kCommError = 0x80100013;
constexpr Result kReaderUnavailable = 0x80100017;
constexpr Result kNoService = 0x8010001D;
// WinSCard's value; pcsc-lite reports an unsupported feature as 0x8010001F (WinSCard's
// "unexpected error"), which its backend translates.
constexpr Result kUnsupportedFeature = 0x80100022;
constexpr Result kNoReadersAvailable = 0x8010002E;
constexpr Result kUnresponsiveCard = 0x80100066;
constexpr Result kUnpoweredCard = 0x80100067;
constexpr Result kCardWasReset = 0x80100068;
constexpr Result kRemovedCard = 0x80100069;
// The platform's own code for a buffer that is too small (ERROR_INSUFFICIENT_BUFFER).
constexpr Result kPlatformBufferTooSmall = 0x0000007A;

// Scope, share modes, protocols, dispositions.
constexpr uint32_t kScopeUser = 0;
constexpr uint32_t kShareExclusive = 1;
constexpr uint32_t kShareShared = 2;
constexpr uint32_t kShareDirect = 3;
constexpr uint32_t kProtocolUndefined = 0;
constexpr uint32_t kProtocolT0 = 1;
constexpr uint32_t kProtocolT1 = 2;
constexpr uint32_t kProtocolRaw = 0x10000;
constexpr uint32_t kLeaveCard = 0;
constexpr uint32_t kResetCard = 1;
constexpr uint32_t kUnpowerCard = 2;
constexpr uint32_t kEjectCard = 3;

// Reader state bits of SCardGetStatusChangeA.
constexpr uint32_t kStateUnaware = 0x0000;
constexpr uint32_t kStateIgnore = 0x0001;
constexpr uint32_t kStateChanged = 0x0002;
constexpr uint32_t kStateUnknown = 0x0004;
constexpr uint32_t kStateUnavailable = 0x0008;
constexpr uint32_t kStateEmpty = 0x0010;
constexpr uint32_t kStatePresent = 0x0020;
constexpr uint32_t kStateAtrMatch = 0x0040;
constexpr uint32_t kStateExclusive = 0x0080;
constexpr uint32_t kStateInUse = 0x0100;
constexpr uint32_t kStateMute = 0x0200;
constexpr uint32_t kStateUnpowered = 0x0400;

// Attribute ids.
constexpr uint32_t kAttrCurrentProtocolType = 0x00080201;
constexpr uint32_t kAttrAtrString = 0x00090303;
constexpr uint32_t kAttrMaxLength = 264;  // the longest attribute buffer pcsc-lite accepts

// Control codes of the reader maker's driver: SCARD_CTL_CODE(n) = 0x00310000 + 4 * n.
constexpr uint32_t CtlCode(uint32_t n) {
  return 0x00310000u + 4u * n;
}
constexpr uint32_t kCtlReadKey = CtlCode(3026);            // 0x00312F48
constexpr uint32_t kCtlKeypadInput = CtlCode(3027);        // 0x00312F4C
constexpr uint32_t kCtlShowText = CtlCode(3028);           // 0x00312F50
constexpr uint32_t kCtlPrepareDisplay = CtlCode(3036);     // 0x00312F70
constexpr uint32_t kCtlBeforeDirectClose = CtlCode(4080);  // 0x00313FC0
static_assert(kCtlReadKey == 0x00312F48 && kCtlKeypadInput == 0x00312F4C &&
              kCtlShowText == 0x00312F50 && kCtlPrepareDisplay == 0x00312F70 &&
              kCtlBeforeDirectClose == 0x00313FC0);

// The platform's own control codes (the SCARD_CTL_CODE of its PC/SC headers), which the reader
// drivers use for the features of PC/SC part 10: pcsc-lite 0x42000000 + n, WinSCard
// 0x00310000 + 4 * n (the form of CtlCode above). Each backend defines it; the simulator answers
// as pcsc-lite does.
uint32_t PlatformControlCode(uint32_t n);
// PC/SC part 10: the request that lists a reader's features (CM_IOCTL_GET_FEATURE_REQUEST).
constexpr uint32_t kFeatureRequestFunction = 3400;

struct ReaderState {
  const char* reader;
  void* user_data;
  uint32_t current_state;
  uint32_t event_state;
  uint32_t atr_length;
  uint8_t atr[kMaxAtrSize];
};

// The protocol control information in front of a transmitted command.
struct IoRequest {
  uint32_t protocol;
  uint32_t pci_length;
};

Result SCardEstablishContext(uint32_t scope, Context* context);
Result SCardReleaseContext(Context context);
// Lists the readers as a multi-string (names ended by NUL, the list by an empty name). With
// *length == kAutoAllocate, *(char**)readers receives a list to free with SCardFreeMemory.
Result SCardListReadersA(Context context, const char* groups, char* readers, uint32_t* length);
Result SCardFreeMemory(Context context, const void* memory);
Result SCardGetStatusChangeA(Context context, uint32_t timeout_ms, ReaderState* states,
                             uint32_t count);
Result SCardConnectA(Context context, const char* reader, uint32_t share_mode,
                     uint32_t preferred_protocols, CardHandle* card, uint32_t* active_protocol);
Result SCardReconnect(CardHandle card, uint32_t share_mode, uint32_t preferred_protocols,
                      uint32_t initialization, uint32_t* active_protocol);
Result SCardDisconnect(CardHandle card, uint32_t disposition);
Result SCardTransmit(CardHandle card, const IoRequest* send_pci, const uint8_t* send,
                     uint32_t send_length, IoRequest* receive_pci, uint8_t* receive,
                     uint32_t* receive_length);
Result SCardGetAttrib(CardHandle card, uint32_t attribute, uint8_t* value, uint32_t* length);
Result SCardControl(CardHandle card, uint32_t control_code, const void* input,
                    uint32_t input_length, void* output, uint32_t output_length,
                    uint32_t* returned);

}  // namespace pcsc
