// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target for CT_data as a whole on the reader simulator. The input chooses the reader, the
// card in it with everything the card holds and answers, the keys and PIN entries typed, the
// PC/SC failures, and then a sequence of CT_data calls with their addresses, response capacity
// and command bytes. Every call is checked, not only for crashes:
// - nothing is written past the capacity (the response is a heap block with guard bytes behind
//   the capacity, poisoned for ASan where it runs), and *lenr comes back no larger than it;
// - no byte past lenc is read (the command is a heap copy of exactly lenc bytes) and the command
//   is left as it was;
// - the return code is 0, -1, -2 or -11, and the reply goes back to the caller from the terminal
//   or the card;
// - an OK answer of the terminal ends in a status word, so it has at least two bytes;
// - closing the terminal gives back every context, connection and allocation of PC/SC.
// A violation aborts. Each input runs on a fresh simulator and opens and closes terminal 1 in
// this process; no state outlives an input.
//
// Input layout (reads past the end give zeros):
//   reader      index into kReaders
//   flags       bit 7: the reader's display, keypad, PIN pad are bits 0..2 rather than the
//               reader's own; bit 3: open the port with the keep-power flag
//   card        bits 0..2: 0 none, 1 processor, 2 2-wire, 3 3-wire, 4 I2C (5..7 none);
//               bit 4: the card arrives at (byte) * 250 ms; bit 5: it leaves at (byte) * 250 ms
//   processor:  atr (n), protocols, pin (n), tries left, file id (2), file contents (n)
//   memory:     size code, memory contents (N), code (n), error counter, protection (4), bits
//               (0: 3-wire without code, 1: I2C two-byte addresses, 2: I2C first byte fixed)
//   replies     count, then count answers (n): the card's answers to its first commands
//   keys (n), PIN entries: count, then per entry kind (0 digits (n), 1 cancel, 2 time-out)
//   faults      count, then per fault: function, nth call, result index
//   calls       until the input ends, at most kMaxCalls: control byte, [raw dad], [raw sad],
//               [null pointer choice], [clock advance], capacity, lenc, command bytes
// (n) is a length byte and as many bytes; (N) a two-byte length and as many bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ctapi/ctapi.h"
#include "ctapi/slots.h"
#include "pcsc/pcsc.h"
#include "sim/sim.h"

#if defined(__SANITIZE_ADDRESS__)
#define KV_FUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_FUZZ_ASAN 1
#endif
#endif
#ifdef KV_FUZZ_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMaxCalls = 24;
constexpr size_t kGuardBytes = 16;
constexpr uint8_t kGuard = 0xEE;
constexpr uint16_t kCtn = 1;
constexpr uint64_t kEventStepMs = 250;
constexpr uint64_t kAdvanceStepMs = 100;

// Reads the input front to back; past its end every read gives zeros and no bytes.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t Byte() { return empty() ? 0 : data_[at_++]; }
  uint16_t U16() {
    const uint16_t high = Byte();
    return static_cast<uint16_t>(high << 8 | Byte());
  }
  Bytes Take(size_t count) {
    const size_t n = count < size_ - at_ ? count : size_ - at_;
    Bytes taken(data_ + at_, data_ + at_ + n);
    at_ += n;
    return taken;
  }
  Bytes Counted() { return Take(Byte()); }
  Bytes LongCounted() { return Take(U16()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

struct ReaderChoice {
  const char* name;
  uint16_t port;
  bool display;
  bool keypad;
  bool pin_pad;
};

// Readers of every kind the library tells apart: plain, display with keypad and PIN pad, PIN pad
// alone, PIN pad with keypad input, the O2Micro alias, the Vuzoded family (I2C probing), a name
// found under the port's second name, and one found only through the reader table.
constexpr ReaderChoice kReaders[] = {
    {"TREVANO Kelvane Birch 0", 1, false, false, false},
    {"TREVANO Kelvane Cypress 0", 30, true, true, true},
    {"TREVANO Kelvane Maple 0", 60, false, false, true},
    {"TREVANO Kelvane Pine 0", 75, false, true, true},
    {"O2Micro PCMCIA Reader 0", 200, false, false, false},
    {"Vuzoded Divudaz USB Smartcard Reader 0", 210, false, false, false},
    {"FSC SCR USB 2C 0", 230, false, false, true},
    {"Cherry SmartBoard XX44 0", 5, false, false, true},
};

constexpr uint32_t kMemorySizes[] = {0, 128, 256, 512, 1024, 2048, 4096, 8192};

constexpr pcsc::Result kFaultResults[] = {
    pcsc::kNoSmartcard,       pcsc::kRemovedCard,        pcsc::kInsufficientBuffer,
    pcsc::kTimeout,           pcsc::kSharingViolation,   pcsc::kCardWasReset,
    pcsc::kReaderUnavailable, pcsc::kInvalidHandle,      pcsc::kPlatformBufferTooSmall,
    pcsc::kCommError,         pcsc::kUnsupportedFeature, pcsc::kNoService,
};
constexpr uint8_t kFunctionCount = static_cast<uint8_t>(sim::Fn::kControl) + 1;

[[noreturn]] void Violation(const char* what, size_t call) {
  fprintf(stderr, "ctdata_fuzz: call %zu: %s\n", call, what);
  abort();
}

void Check(bool holds, const char* what, size_t call) {
  if (!holds) Violation(what, call);
}

// CTDATA_FUZZ_TRACE=1 prints every call and its answer, to see what an input does.
bool Tracing() {
  static const bool tracing = getenv("CTDATA_FUZZ_TRACE") != nullptr;
  return tracing;
}

// Runs once per process, before the first terminal is opened: the registry is one that does not
// exist and nothing is logged, so that no file of the machine steers or records a run. The
// terminal table is the process's own (isolation.cpp, linked in, names it).
void SetUpProcess() {
  static const bool done = [] {
    setenv("CTKORVIN_REGISTRY", "/nonexistent/ctdata_fuzz", 1);
    unsetenv("ERRLFILE");
    unsetenv("CTKORVIN_OSVERSION");
    if (!getenv("CTKORVIN_OBJECT_PREFIX")) {
      fprintf(stderr, "ctdata_fuzz: CTKORVIN_OBJECT_PREFIX is not set\n");
      abort();
    }
    return true;
  }();
  (void)done;
}

cards::CardSpec ProcessorCard(Input& in) {
  cards::CardSpec card;
  card.kind = cards::CardKind::kProcessor;
  card.atr = in.Counted();
  card.protocols = in.Byte() & 0x03;
  card.pin = in.Counted();
  const uint8_t tries = in.Byte();
  card.pin_tries_left = tries == 0xFF ? -1 : tries;
  const uint16_t fid = in.U16();
  Bytes contents = in.Counted();
  if (fid != 0) card.files[fid] = std::move(contents);
  return card;
}

cards::CardSpec MemoryCard(Input& in, cards::CardKind kind) {
  cards::CardSpec card;
  card.kind = kind;
  card.memory_size = kMemorySizes[in.Byte() % (sizeof kMemorySizes / sizeof kMemorySizes[0])];
  card.memory = in.LongCounted();
  card.pin = in.Counted();
  const uint8_t counter = in.Byte();
  card.error_counter = counter == 0xFF ? -1 : counter;
  card.protection = static_cast<uint32_t>(in.U16()) << 16 | in.U16();
  const uint8_t bits = in.Byte();
  card.pin_area_plain = (bits & 0x01) != 0;
  card.address_width = (bits & 0x02) ? 2 : 1;
  card.first_byte_fixed = (bits & 0x04) != 0;
  return card;
}

// The reader, the card that is in it or comes later, and the keys and PIN entries typed on it.
void SetUpReader(Input& in, const ReaderChoice& reader, uint8_t flags) {
  sim::ReaderSpec spec;
  spec.name = reader.name;
  spec.display = (flags & 0x80) ? (flags & 0x01) != 0 : reader.display;
  spec.keypad = (flags & 0x80) ? (flags & 0x02) != 0 : reader.keypad;
  spec.pin_pad = (flags & 0x80) ? (flags & 0x04) != 0 : reader.pin_pad;
  sim::AddReader(spec);

  const uint8_t card_byte = in.Byte();
  const uint8_t kind = card_byte & 0x07;
  if (kind >= 1 && kind <= 4) {
    cards::CardSpec card = kind == 1   ? ProcessorCard(in)
                           : kind == 2 ? MemoryCard(in, cards::CardKind::kTwoWire)
                           : kind == 3 ? MemoryCard(in, cards::CardKind::kThreeWire)
                                       : MemoryCard(in, cards::CardKind::kI2c);
    const uint8_t replies = in.Byte() % 17;
    for (uint8_t i = 0; i < replies; ++i)
      card.replies.push_back(in.Counted());
    if (card_byte & 0x10) {
      sim::InsertCardAt(spec.name, card, in.Byte() * kEventStepMs);
    } else {
      sim::InsertCard(spec.name, card);
    }
    if (card_byte & 0x20) sim::RemoveCardAt(spec.name, in.Byte() * kEventStepMs);
  }

  sim::QueueKeys(spec.name, in.Counted());
  std::vector<sim::PinEntry> entries;
  const uint8_t count = in.Byte() % 7;
  for (uint8_t i = 0; i < count; ++i) {
    const uint8_t kind_byte = in.Byte() % 3;
    if (kind_byte == 1) {
      entries.push_back(sim::PinCancel());
    } else if (kind_byte == 2) {
      entries.push_back(sim::PinTimeout());
    } else {
      std::string digits;
      for (uint8_t b : in.Counted())
        digits.push_back(static_cast<char>('0' + b % 10));
      entries.push_back(sim::PinDigits(digits));
    }
  }
  sim::QueuePinEntries(spec.name, entries);
}

// PC/SC failures from here on; true when any was asked for.
bool InjectFaults(Input& in) {
  const uint8_t count = in.Byte() % 4;
  for (uint8_t i = 0; i < count; ++i) {
    const sim::Fn fn = static_cast<sim::Fn>(in.Byte() % kFunctionCount);
    const uint8_t nth = in.Byte();
    const pcsc::Result result =
        kFaultResults[in.Byte() % (sizeof kFaultResults / sizeof kFaultResults[0])];
    sim::FailCall(fn, nth, result);
  }
  return count != 0;
}

void Poison(uint8_t* at, size_t size) {
#ifdef KV_FUZZ_ASAN
  ASAN_POISON_MEMORY_REGION(at, size);
#else
  (void)at;
  (void)size;
#endif
}

void Unpoison(uint8_t* at, size_t size) {
#ifdef KV_FUZZ_ASAN
  ASAN_UNPOISON_MEMORY_REGION(at, size);
#else
  (void)at;
  (void)size;
#endif
}

// One CT_data call as the input describes it, with every property checked afterwards.
void OneCall(Input& in, size_t call, uint16_t port) {
  const uint8_t control = in.Byte();
  const uint8_t dad_choice = control & 0x03;
  const uint8_t sad_choice = (control >> 2) & 0x03;
  uint8_t dad = dad_choice == 0 ? 0 : dad_choice == 2 ? in.Byte() : 1;
  uint8_t sad = sad_choice == 1 ? 5 : sad_choice == 2 ? in.Byte() : 2;
  const uint16_t ctn = (control & 0x10) ? 2 : kCtn;
  const uint8_t missing = (control & 0x20) ? in.Byte() % 5 + 1 : 0;  // which pointer is null
  if (control & 0x40) sim::AdvanceMs(in.Byte() * kAdvanceStepMs);
  if (control & 0x80) {
    CT_close(kCtn);
    CT_init(kCtn, port);
  }
  const uint8_t capacity_byte = in.Byte();
  const uint16_t capacity = capacity_byte == 0xFF   ? in.U16()
                            : capacity_byte == 0xFE ? 258
                                                    : capacity_byte;
  const uint8_t lenc_byte = in.Byte();
  const Bytes command_bytes = in.Take(lenc_byte == 0xFF ? in.U16() : lenc_byte);
  const uint16_t lenc = static_cast<uint16_t>(command_bytes.size());

  // Exactly lenc bytes, so that a read past them is caught.
  uint8_t* command = new uint8_t[lenc];
  if (lenc != 0) std::memcpy(command, command_bytes.data(), lenc);
  uint8_t* response = new uint8_t[capacity + kGuardBytes];
  std::memset(response, kGuard, capacity + kGuardBytes);
  Poison(response + capacity, kGuardBytes);

  const uint8_t sad_in = sad;
  uint16_t lenr = capacity;
  const int8_t code = CT_data(ctn, missing == 1 ? nullptr : &dad, missing == 2 ? nullptr : &sad,
                              lenc, missing == 3 ? nullptr : command,
                              missing == 4 ? nullptr : &lenr, missing == 5 ? nullptr : response);

  Unpoison(response + capacity, kGuardBytes);
  for (size_t i = 0; i < kGuardBytes; ++i)
    Check(response[capacity + i] == kGuard, "written past the capacity", call);
  Check(lenc == 0 || std::memcmp(command, command_bytes.data(), lenc) == 0,
        "the command was changed", call);
  Check(code == OK || code == ERR_INVALID || code == CTKORVIN_ERR_PCSC || code == ERR_MEMORY,
        "a return code outside 0, -1, -2, -11", call);
  if (missing != 4) Check(lenr <= capacity, "*lenr above the capacity", call);
  if (missing != 1 && missing != 2 && missing != 4) {
    Check(dad == sad_in, "the reply does not go back to the caller", call);
    // The card answers commands to it and, through the PIN pad, PIN commands to the terminal.
    Check(sad == 1 || sad == 0, "the reply comes from neither the terminal nor the card", call);
    if (code == OK && sad == 1 && missing == 0) {
      Check(lenr >= 2, "an answer of the terminal without status word", call);
    }
  }
  if (Tracing()) {
    fprintf(stderr, "%2zu dad %u sad %u lenc %u cap %u:", call, dad, sad, lenc, capacity);
    for (uint16_t i = 0; i < lenc && i < 16; ++i)
      fprintf(stderr, " %02X", command[i]);
    fprintf(stderr, " -> code %d lenr %u:", code, lenr);
    for (uint16_t i = 0; missing == 0 && i < lenr && i < 24; ++i)
      fprintf(stderr, " %02X", response[i]);
    fprintf(stderr, "\n");
  }
  delete[] response;
  delete[] command;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SetUpProcess();
  sim::Reset();
  Check(ctapi::FindSlotByCtn(kCtn) == ctapi::kNotFound || !ctapi::IsAttached(),
        "a terminal outlived the previous input", 0);
  Input in(data, size);
  const ReaderChoice& reader = kReaders[in.Byte() % (sizeof kReaders / sizeof kReaders[0])];
  const uint8_t flags = in.Byte();
  const uint16_t port = static_cast<uint16_t>(reader.port | ((flags & 0x08) ? 0x200 : 0));
  SetUpReader(in, reader, flags);
  if (CT_init(kCtn, port) != OK) return 0;
  const bool faults = InjectFaults(in);
  for (size_t call = 1; call <= kMaxCalls && !in.empty(); ++call)
    OneCall(in, call, port);
  const int8_t closed = CT_close(kCtn);
  if (!faults && closed == OK) {
    Check(sim::OpenContexts() == 0 && sim::OpenConnections() == 0 && sim::OpenAllocations() == 0,
          "closing left PC/SC resources open", kMaxCalls + 1);
  }
  sim::Reset();
  return 0;
}
