// SPDX-License-Identifier: BSD-3-Clause
// The PC/SC seam over pcsc-lite. pcsc-lite speaks the WinSCard interface with a few differences,
// and this file adapts exactly those: reader names (pcsc-lite's " XX YY" ending becomes an
// instance number), the attributes some drivers do not serve, a transmit that succeeds with no
// answer, the raw protocol's value, and the 64-bit DWORD/LONG of its interface. Everything else
// is handed through unchanged, except that a status query for a reader that a fresh reader list
// does not hold is answered as pcsc-lite answers it, without a round trip to the daemon.
//
// Control codes: pcsc-lite takes the code as given, so the reader maker's codes (0x00312F48 and
// so on) travel literally. The platform control codes of the PC/SC part 10 features are
// pcsc-lite's own SCARD_CTL_CODE(n) = 0x42000000 + n (PlatformControlCode).
#include "pcsc/pcsc.h"

#include <PCSC/reader.h>
#include <PCSC/winscard.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "pcsc/pcsclite/names.h"
#include "platform/clock.h"
#include "support/strings.h"

namespace pcsc {

namespace {

static_assert(kAttrAtrString == SCARD_ATTR_ATR_STRING);
static_assert(kAttrCurrentProtocolType == SCARD_ATTR_CURRENT_PROTOCOL_TYPE);
static_assert(kAttrMaxLength == MAX_BUFFER_SIZE);
static_assert(kProtocolT0 == SCARD_PROTOCOL_T0 && kProtocolT1 == SCARD_PROTOCOL_T1);
static_assert(kShareExclusive == SCARD_SHARE_EXCLUSIVE && kShareShared == SCARD_SHARE_SHARED &&
              kShareDirect == SCARD_SHARE_DIRECT);
static_assert(kLeaveCard == SCARD_LEAVE_CARD && kResetCard == SCARD_RESET_CARD &&
              kUnpowerCard == SCARD_UNPOWER_CARD && kEjectCard == SCARD_EJECT_CARD);
static_assert(kStateUnpowered == SCARD_STATE_UNPOWERED && kStatePresent == SCARD_STATE_PRESENT);

// pcsc-lite hands out contexts and handles below 2^31; a value above that was never ours.
constexpr long kMaxHandle = 0x7FFFFFFF;
// pcsc-lite keeps reader names below MAX_READERNAME bytes; a copy of one fits here.
constexpr size_t kNameCapacity = 2 * MAX_READERNAME;
// More reader states than pcsc-lite can watch at once, with room for the notification entry.
constexpr uint32_t kMaxStates = 4 * PCSCLITE_MAX_READERS_CONTEXTS;
constexpr char kPnpNotification[] = "\\\\?PnP?\\Notification";

// The reader list between calls, so that a connect to a known name costs no listing. A list
// read in the last kFreshMs milliseconds is taken as the readers there are now: a terminal open
// then lists no readers again, and a name missing from it is unknown without asking pcsc-lite
// (a series of opens, one a port, asks once, not once an open).
constexpr uint64_t kFreshMs = 50;

struct NameCache {
  std::mutex lock;
  names::ReaderList readers;
  bool read = false;
  uint64_t read_at_ms = 0;
};

NameCache& Names() {
  static NameCache cache;
  return cache;
}

// Blocks this file allocated for the caller; SCardFreeMemory releases them, and hands every
// other pointer to pcsc-lite.
struct Allocations {
  std::mutex lock;
  std::vector<void*> blocks;
};

Allocations& Blocks() {
  static Allocations allocations;
  return allocations;
}

// pcsc-lite's codes are WinSCard's, except that it reports an unsupported feature with
// 0x8010001F (one value for that and for an unexpected error); callers test for WinSCard's.
Result ToResult(LONG rv) {
  if (rv == SCARD_E_UNSUPPORTED_FEATURE) return kUnsupportedFeature;
  return static_cast<Result>(static_cast<unsigned long>(rv));
}

bool FitsHandle(long value) {
  return value >= 0 && value <= kMaxHandle;
}

bool FitsHandle(uint32_t value) {
  return value <= static_cast<uint32_t>(kMaxHandle);
}

// WinSCard's raw protocol is 0x10000, pcsc-lite's is 4; T=0 and T=1 agree.
DWORD ProtocolsToLite(uint32_t protocols) {
  DWORD lite = protocols & ~kProtocolRaw;
  if (protocols & kProtocolRaw) lite |= SCARD_PROTOCOL_RAW;
  return lite;
}

uint32_t ProtocolsFromLite(DWORD lite) {
  uint32_t protocols = static_cast<uint32_t>(lite & ~static_cast<DWORD>(SCARD_PROTOCOL_RAW));
  if (lite & SCARD_PROTOCOL_RAW) protocols |= kProtocolRaw;
  return protocols;
}

// A copy of `size` bytes that SCardFreeMemory will recognise; nullptr without memory.
void* AllocateTracked(const void* bytes, size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) return nullptr;
  std::memcpy(block, bytes, size);
  Allocations& blocks = Blocks();
  std::lock_guard<std::mutex> guard(blocks.lock);
  try {
    blocks.blocks.push_back(block);
  } catch (const std::bad_alloc&) {
    std::free(block);
    return nullptr;
  }
  return block;
}

bool ReleaseTracked(const void* memory) {
  Allocations& blocks = Blocks();
  std::lock_guard<std::mutex> guard(blocks.lock);
  auto found = std::find(blocks.blocks.begin(), blocks.blocks.end(), memory);
  if (found == blocks.blocks.end()) return false;
  std::free(*found);
  blocks.blocks.erase(found);
  return true;
}

// Hands `size` bytes to the caller in the WinSCard way: *length == kAutoAllocate makes `out` a
// pointer to a pointer that receives an allocated copy, a null `out` asks only for the length,
// otherwise `out` holds *length bytes.
Result Deliver(const void* bytes, uint32_t size, void* out, uint32_t* length) {
  if (*length == kAutoAllocate) {
    if (out == nullptr) return kInvalidParameter;
    void* block = AllocateTracked(bytes, size);
    if (block == nullptr) return kNoMemory;
    *static_cast<void**>(out) = block;
  } else if (out != nullptr) {
    if (*length < size) {
      *length = size;
      return kInsufficientBuffer;
    }
    std::memcpy(out, bytes, size);
  }
  *length = size;
  return kSuccess;
}

// pcsc-lite's reader list with the presented names.
LONG ListNative(SCARDCONTEXT context, const char* groups, names::ReaderList* readers) {
  char* multi = nullptr;
  DWORD size = SCARD_AUTOALLOCATE;
  LONG rv = ::SCardListReaders(context, groups, reinterpret_cast<LPSTR>(&multi), &size);
  if (rv == SCARD_E_NO_READERS_AVAILABLE) {
    readers->clear();
    return rv;
  }
  if (rv != SCARD_S_SUCCESS) return rv;
  try {
    *readers = names::Present(multi, size);
  } catch (const std::bad_alloc&) {
    rv = SCARD_E_NO_MEMORY;
  }
  ::SCardFreeMemory(context, multi);
  return rv;
}

void StoreNames(names::ReaderList* readers) {
  NameCache& cache = Names();
  std::lock_guard<std::mutex> guard(cache.lock);
  cache.readers.swap(*readers);
  cache.read = true;
  cache.read_at_ms = platform::MonotonicMs();
}

bool NamesFresh() {
  NameCache& cache = Names();
  std::lock_guard<std::mutex> guard(cache.lock);
  return cache.read && platform::MonotonicMs() - cache.read_at_ms < kFreshMs;
}

// Reads the reader list anew; a failure keeps the list we had and answers false.
bool RefreshNames(SCARDCONTEXT context) {
  names::ReaderList readers;
  LONG rv = ListNative(context, nullptr, &readers);
  if (rv != SCARD_S_SUCCESS && rv != SCARD_E_NO_READERS_AVAILABLE) return false;
  StoreNames(&readers);
  return true;
}

// Copies the pcsc-lite name of a presented name into `buffer`; false when the list has none.
bool FindNative(const char* presented, char* buffer, size_t capacity) {
  NameCache& cache = Names();
  std::lock_guard<std::mutex> guard(cache.lock);
  const std::string* native = names::ToNative(cache.readers, presented);
  if (native == nullptr || native->size() >= capacity) return false;
  SafeStrCopy(buffer, static_cast<uint32_t>(capacity), native->c_str());
  return true;
}

// True when `name` is pcsc-lite's own name of a reader in the list we keep.
bool IsNativeName(const char* name) {
  NameCache& cache = Names();
  std::lock_guard<std::mutex> guard(cache.lock);
  for (const names::Reader& reader : cache.readers) {
    if (reader.native == name) return true;
  }
  return false;
}

// The name to hand pcsc-lite for `presented`: from the list we keep, or from a fresh list when
// the name is not in it, or the name itself so that pcsc-lite answers it as unknown.
const char* NativeName(SCARDCONTEXT context, const char* presented, char* buffer, size_t capacity) {
  if (FindNative(presented, buffer, capacity)) return buffer;
  RefreshNames(context);
  if (FindNative(presented, buffer, capacity)) return buffer;
  return presented;
}

// SCARD_ATTR_CURRENT_PROTOCOL_TYPE as WinSCard gives it: 4 bytes, little-endian.
void PutProtocolAttribute(uint32_t protocol, uint8_t* out) {
  for (int i = 0; i < 4; ++i)
    out[i] = static_cast<uint8_t>(protocol >> (8 * i));
}

// The attribute from SCardStatus, for drivers that do not serve it themselves.
LONG AttributeFromStatus(SCARDHANDLE card, uint32_t attribute, uint8_t* buffer, DWORD* size) {
  DWORD name_length = 0;
  DWORD state = 0;
  DWORD protocol = 0;
  uint8_t atr[MAX_ATR_SIZE] = {};
  DWORD atr_length = sizeof atr;
  LONG rv = ::SCardStatus(card, nullptr, &name_length, &state, &protocol, atr, &atr_length);
  if (rv != SCARD_S_SUCCESS) return rv;
  if (attribute == kAttrCurrentProtocolType) {
    PutProtocolAttribute(ProtocolsFromLite(protocol), buffer);
    *size = 4;
    return SCARD_S_SUCCESS;
  }
  // Without an answer to reset there is nothing to report either.
  if (atr_length == 0 || atr_length > sizeof atr) return SCARD_E_UNSUPPORTED_FEATURE;
  std::memcpy(buffer, atr, atr_length);
  *size = atr_length;
  return SCARD_S_SUCCESS;
}

// A driver may answer the protocol in 1 to 8 bytes and with pcsc-lite's raw value.
void NormaliseProtocolAttribute(uint8_t* buffer, DWORD* size) {
  if (*size == 0 || *size > 8) return;
  uint64_t value = 0;
  for (DWORD i = 0; i < *size; ++i)
    value |= static_cast<uint64_t>(buffer[i]) << (8 * i);
  PutProtocolAttribute(ProtocolsFromLite(static_cast<DWORD>(value)), buffer);
  *size = 4;
}

// The reader states in pcsc-lite's layout, with the names pcsc-lite knows.
struct LiteStates {
  SCARD_READERSTATE states[kMaxStates];
  char names[kMaxStates][kNameCapacity];
};

// Returns false when a reader to watch is not in a fresh list: pcsc-lite answers
// SCARD_E_UNKNOWN_READER for it (before it looks at any other reader and leaving every state as
// it was), and so does the caller, without asking pcsc-lite again.
bool CopyIn(SCARDCONTEXT context, const ReaderState* in, uint32_t count, LiteStates* lite) {
  bool fresh = NamesFresh();
  bool refreshed = fresh;
  bool all_known = true;
  for (uint32_t i = 0; i < count; ++i) {
    SCARD_READERSTATE& out = lite->states[i];
    const char* name = in[i].reader;
    if (SafeStrCompare(name, kPnpNotification) != 0) {
      if (FindNative(name, lite->names[i], kNameCapacity)) {
        name = lite->names[i];
      } else {
        if (!refreshed) {
          // One fresh list serves every name of this call.
          refreshed = true;
          fresh = RefreshNames(context);
          if (FindNative(name, lite->names[i], kNameCapacity)) name = lite->names[i];
        }
        // A reader set to be ignored is not looked up by pcsc-lite either.
        if (name == in[i].reader && fresh && !(in[i].current_state & kStateIgnore) &&
            !IsNativeName(name)) {
          all_known = false;
        }
      }
    }
    out.szReader = name;
    out.pvUserData = in[i].user_data;
    out.dwCurrentState = in[i].current_state;
    out.dwEventState = in[i].event_state;
    out.cbAtr = std::min<uint32_t>(in[i].atr_length, MAX_ATR_SIZE);
    std::memcpy(out.rgbAtr, in[i].atr, out.cbAtr);
  }
  return all_known;
}

void CopyOut(const LiteStates& lite, ReaderState* out, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const SCARD_READERSTATE& in = lite.states[i];
    out[i].event_state = static_cast<uint32_t>(in.dwEventState);
    out[i].atr_length = static_cast<uint32_t>(std::min<DWORD>(in.cbAtr, MAX_ATR_SIZE));
    std::memcpy(out[i].atr, in.rgbAtr, out[i].atr_length);
  }
}

// The protocol control information in pcsc-lite's layout: its own records for the protocols it
// has them for, `local` for anything else.
const SCARD_IO_REQUEST* LitePci(const IoRequest& pci, SCARD_IO_REQUEST* local) {
  switch (pci.protocol) {
    case kProtocolT0:
      return SCARD_PCI_T0;
    case kProtocolT1:
      return SCARD_PCI_T1;
    case kProtocolRaw:
      return SCARD_PCI_RAW;
    default:
      local->dwProtocol = ProtocolsToLite(pci.protocol);
      local->cbPciLength = sizeof(SCARD_IO_REQUEST);
      return local;
  }
}

}  // namespace

Result SCardEstablishContext(uint32_t scope, Context* context) {
  if (context == nullptr) return kInvalidParameter;
  SCARDCONTEXT lite = 0;
  LONG rv = ::SCardEstablishContext(scope, nullptr, nullptr, &lite);
  if (rv != SCARD_S_SUCCESS) return ToResult(rv);
  if (!FitsHandle(lite)) {
    ::SCardReleaseContext(lite);
    return kInternalError;
  }
  // A terminal is being opened: the readers may have changed since the last time.
  if (!NamesFresh()) RefreshNames(lite);
  *context = static_cast<Context>(lite);
  return kSuccess;
}

Result SCardReleaseContext(Context context) {
  if (!FitsHandle(context)) return kInvalidHandle;
  return ToResult(::SCardReleaseContext(static_cast<SCARDCONTEXT>(context)));
}

Result SCardListReadersA(Context context, const char* groups, char* readers, uint32_t* length) {
  if (length == nullptr) return kInvalidParameter;
  if (*length == kAutoAllocate && readers == nullptr) return kInvalidParameter;
  if (!FitsHandle(context)) return kInvalidHandle;
  // pcsc-lite puts every reader in every group, so the list always numbers all readers.
  names::ReaderList list;
  LONG rv = ListNative(static_cast<SCARDCONTEXT>(context), groups, &list);
  if (rv == SCARD_E_NO_READERS_AVAILABLE) StoreNames(&list);
  if (rv != SCARD_S_SUCCESS) return ToResult(rv);
  std::string multi;
  try {
    multi = names::PresentedMultiString(list);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  StoreNames(&list);
  return Deliver(multi.data(), static_cast<uint32_t>(multi.size()), readers, length);
}

Result SCardFreeMemory(Context context, const void* memory) {
  if (ReleaseTracked(memory)) return kSuccess;
  if (!FitsHandle(context)) return kInvalidHandle;
  return ToResult(::SCardFreeMemory(static_cast<SCARDCONTEXT>(context), memory));
}

Result SCardGetStatusChangeA(Context context, uint32_t timeout_ms, ReaderState* states,
                             uint32_t count) {
  if (states == nullptr && count > 0) return kInvalidParameter;
  if (count > kMaxStates) return kInvalidParameter;
  for (uint32_t i = 0; i < count; ++i) {
    if (states[i].reader == nullptr) return kInvalidValue;
  }
  if (!FitsHandle(context)) return kInvalidHandle;
  const SCARDCONTEXT lite_context = static_cast<SCARDCONTEXT>(context);
  LiteStates lite;
  if (!CopyIn(lite_context, states, count, &lite)) return kUnknownReader;
  LONG rv =
      ::SCardGetStatusChange(lite_context, timeout_ms, count > 0 ? lite.states : nullptr, count);
  // A time-out still tells the states as they are.
  if (rv == SCARD_S_SUCCESS || rv == SCARD_E_TIMEOUT) CopyOut(lite, states, count);
  return ToResult(rv);
}

Result SCardConnectA(Context context, const char* reader, uint32_t share_mode,
                     uint32_t preferred_protocols, CardHandle* card, uint32_t* active_protocol) {
  if (reader == nullptr || card == nullptr || active_protocol == nullptr) {
    return kInvalidParameter;
  }
  if (!FitsHandle(context)) return kInvalidHandle;
  const SCARDCONTEXT lite_context = static_cast<SCARDCONTEXT>(context);
  char buffer[kNameCapacity];
  const char* native = NativeName(lite_context, reader, buffer, sizeof buffer);
  SCARDHANDLE handle = 0;
  DWORD protocol = 0;
  LONG rv = ::SCardConnect(lite_context, native, share_mode, ProtocolsToLite(preferred_protocols),
                           &handle, &protocol);
  if (rv != SCARD_S_SUCCESS) return ToResult(rv);
  if (!FitsHandle(handle)) {
    ::SCardDisconnect(handle, SCARD_LEAVE_CARD);
    return kInternalError;
  }
  *card = static_cast<CardHandle>(handle);
  *active_protocol = ProtocolsFromLite(protocol);
  return kSuccess;
}

Result SCardReconnect(CardHandle card, uint32_t share_mode, uint32_t preferred_protocols,
                      uint32_t initialization, uint32_t* active_protocol) {
  if (active_protocol == nullptr) return kInvalidParameter;
  if (!FitsHandle(card)) return kInvalidHandle;
  DWORD protocol = 0;
  LONG rv = ::SCardReconnect(static_cast<SCARDHANDLE>(card), share_mode,
                             ProtocolsToLite(preferred_protocols), initialization, &protocol);
  if (rv == SCARD_S_SUCCESS) *active_protocol = ProtocolsFromLite(protocol);
  return ToResult(rv);
}

Result SCardDisconnect(CardHandle card, uint32_t disposition) {
  if (!FitsHandle(card)) return kInvalidHandle;
  return ToResult(::SCardDisconnect(static_cast<SCARDHANDLE>(card), disposition));
}

Result SCardTransmit(CardHandle card, const IoRequest* send_pci, const uint8_t* send,
                     uint32_t send_length, IoRequest* receive_pci, uint8_t* receive,
                     uint32_t* receive_length) {
  if (send_pci == nullptr || send == nullptr || receive == nullptr || receive_length == nullptr) {
    return kInvalidParameter;
  }
  if (!FitsHandle(card)) return kInvalidHandle;
  SCARD_IO_REQUEST local_send = {};
  SCARD_IO_REQUEST lite_receive = {};
  if (receive_pci != nullptr) {
    lite_receive.dwProtocol = ProtocolsToLite(receive_pci->protocol);
    lite_receive.cbPciLength = sizeof(SCARD_IO_REQUEST);
  }
  DWORD length = *receive_length;
  LONG rv = ::SCardTransmit(static_cast<SCARDHANDLE>(card), LitePci(*send_pci, &local_send), send,
                            send_length, receive_pci != nullptr ? &lite_receive : nullptr, receive,
                            &length);
  // On a buffer too small pcsc-lite tells the length it needed; otherwise what it wrote.
  *receive_length = static_cast<uint32_t>(length);
  if (rv != SCARD_S_SUCCESS) return ToResult(rv);
  if (receive_pci != nullptr) {
    receive_pci->protocol = ProtocolsFromLite(lite_receive.dwProtocol);
    receive_pci->pci_length = sizeof(IoRequest);
  }
  // Success without a single byte: the card went away in the middle of the command.
  if (length == 0) return kRemovedCard;
  return kSuccess;
}

Result SCardGetAttrib(CardHandle card, uint32_t attribute, uint8_t* value, uint32_t* length) {
  if (length == nullptr) return kInvalidParameter;
  if (*length == kAutoAllocate && value == nullptr) return kInvalidParameter;
  if (!FitsHandle(card)) return kInvalidHandle;
  const SCARDHANDLE lite_card = static_cast<SCARDHANDLE>(card);
  // pcsc-lite refuses buffers above kAttrMaxLength bytes, so we always ask with that many and
  // answer the caller's buffer form ourselves.
  uint8_t buffer[kAttrMaxLength] = {};
  DWORD size = sizeof buffer;
  LONG rv = ::SCardGetAttrib(lite_card, attribute, buffer, &size);
  if (rv == SCARD_E_UNSUPPORTED_FEATURE &&
      (attribute == kAttrAtrString || attribute == kAttrCurrentProtocolType)) {
    size = sizeof buffer;
    rv = AttributeFromStatus(lite_card, attribute, buffer, &size);
  } else if (rv == SCARD_S_SUCCESS && attribute == kAttrCurrentProtocolType) {
    NormaliseProtocolAttribute(buffer, &size);
  }
  if (rv == SCARD_E_INSUFFICIENT_BUFFER) {
    *length = static_cast<uint32_t>(size);
    return kInsufficientBuffer;
  }
  if (rv != SCARD_S_SUCCESS) return ToResult(rv);
  if (size > sizeof buffer) return kInternalError;
  return Deliver(buffer, static_cast<uint32_t>(size), value, length);
}

uint32_t PlatformControlCode(uint32_t n) {
  return static_cast<uint32_t>(SCARD_CTL_CODE(n));
}

Result SCardControl(CardHandle card, uint32_t control_code, const void* input,
                    uint32_t input_length, void* output, uint32_t output_length,
                    uint32_t* returned) {
  if ((input == nullptr && input_length > 0) || (output == nullptr && output_length > 0)) {
    return kInvalidParameter;
  }
  if (!FitsHandle(card)) return kInvalidHandle;
  DWORD lite_returned = 0;
  LONG rv = ::SCardControl(static_cast<SCARDHANDLE>(card), control_code, input, input_length,
                           output, output_length, &lite_returned);
  if (returned != nullptr) *returned = static_cast<uint32_t>(lite_returned);
  return ToResult(rv);
}

}  // namespace pcsc
