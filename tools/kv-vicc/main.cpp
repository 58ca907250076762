// SPDX-License-Identifier: BSD-3-Clause
// kv-vicc: a virtual card for the vsmartcard vpcd reader driver, so that a real pcscd serves the
// same card models (sim/cards) as the in-process reader simulator. A Linux-only test tool, not
// part of the library, so it speaks POSIX sockets directly.
//
// The vpcd link: vpcd listens on a TCP port per slot, kv-vicc connects and answers the frames
// vpcd sends (frames.h).
//
// --insurance-card fills a memory card with a valid image in the health-insurance-card layout,
// made by the tests' own generator (tests/memcard/insurance_card.h), so that the end-to-end
// tests and the demo read the very card the unit tests check.
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "sim/cards/card.h"
#include "tests/memcard/insurance_card.h"
#include "tools/kv-vicc/frames.h"

namespace {

using cards::Bytes;
using vicc::Outcome;

constexpr char kUsage[] =
    "usage: kv-vicc --port N [--host HOST] [--atr HEX] [--protocols N] [--script CMD=RSP]...\n"
    "               [--file FID=HEX]... [--retry-ms N] [--verbose]\n"
    "               [--memory 2wire|3wire|3wire-nopin|i2c [--memory-data HEX] [--size N]\n"
    "                [--pin HEX] [--error-counter N] [--protection N] [--addr-width 1|2]\n"
    "                [--fixed-first-byte] [--insurance-card]]\n"
    "  --port N          vpcd port of the slot (vpcd slot s of a reader listens on its port + s)\n"
    "  --host HOST       where vpcd runs (default 127.0.0.1)\n"
    "  --atr HEX         answer to reset (default 3B8280011450)\n"
    "  --protocols N     1 = T=0, 2 = T=1, 3 = both (default 3)\n"
    "  --script CMD=RSP  answer the command APDU CMD with RSP (data and SW1 SW2); repeatable\n"
    "  --file FID=HEX    transparent elementary file FID (4 hex digits) below 3F00; repeatable\n"
    "  --retry-ms N      how long to keep trying to (re)connect to vpcd (default 10000)\n"
    "  --verbose         log every control byte and APDU on stderr\n"
    "A memory card instead of a processor card (its ATR is made from its memory):\n"
    "  --memory FAMILY   2wire, 3wire (with a code), 3wire-nopin (no code) or i2c\n"
    "  --memory-data HEX contents from address 0 (the rest reads FF)\n"
    "  --size N          memory size in bytes, 128 to 65536 (default 256; 3-wire 1024)\n"
    "  --pin HEX         the code: 3 bytes (2wire) or 2 bytes (3wire); default all FF\n"
    "  --error-counter N error counter (default 7 on 2wire, 0xFF on 3wire: all tries left)\n"
    "  --protection N    2wire protection bits, bit n for address n, 1 = writable (default all)\n"
    "  --addr-width N    i2c address width in bytes, 1 or 2 (default 1)\n"
    "  --fixed-first-byte i2c: writes to address 0 are acknowledged but change nothing\n"
    "  --insurance-card  contents: a valid health-insurance-card image (256 bytes) with the\n"
    "                    family's header A2, 92 or 82 13 10 91; instead of --memory-data\n";

constexpr int kFirstBackoffMs = 10;
constexpr int kMaxBackoffMs = 250;

struct Options {
  std::string host = "127.0.0.1";
  uint16_t port = 0;
  uint32_t retry_ms = 10000;
  bool verbose = false;
  cards::CardSpec spec;
};

bool ParseHex(const char* text, Bytes* out) {
  if (text == nullptr || out == nullptr) return false;
  out->clear();
  int high = -1;
  for (const char* p = text; *p != '\0'; ++p) {
    const char c = *p;
    if (c == ' ' || c == ':') continue;
    int nibble = -1;
    if (c >= '0' && c <= '9') nibble = c - '0';
    if (c >= 'a' && c <= 'f') nibble = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') nibble = c - 'A' + 10;
    if (nibble < 0) return false;
    if (high < 0) {
      high = nibble;
    } else {
      out->push_back(static_cast<uint8_t>(high << 4 | nibble));
      high = -1;
    }
  }
  return high < 0;
}

bool ParseUnsigned(const char* text, unsigned long max, unsigned long* out) {
  if (text == nullptr || out == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long value = strtoul(text, &end, 0);
  if (errno != 0 || *end != '\0' || value > max || text[0] == '-') return false;
  *out = value;
  return true;
}

// "LEFT=RIGHT" with both sides in hex.
bool ParseHexPair(const char* text, Bytes* left, Bytes* right) {
  if (text == nullptr) return false;
  const char* equals = strchr(text, '=');
  if (equals == nullptr) return false;
  const std::string first(text, static_cast<size_t>(equals - text));
  return ParseHex(first.c_str(), left) && ParseHex(equals + 1, right) && !left->empty();
}

// The memory-card families of --memory; header_byte is the first header byte (H1) of the
// family's insurance-card image.
struct MemoryFamily {
  const char* name;
  cards::CardKind kind;
  bool pin_area_plain;
  uint8_t header_byte;
};
constexpr MemoryFamily kMemoryFamilies[] = {
    {"2wire", cards::CardKind::kTwoWire, false, 0xA2},
    {"3wire", cards::CardKind::kThreeWire, false, 0x92},
    {"3wire-nopin", cards::CardKind::kThreeWire, true, 0x92},
    {"i2c", cards::CardKind::kI2c, false, 0x82},
};

const MemoryFamily* FindMemoryFamily(const char* text) {
  for (const MemoryFamily& family : kMemoryFamilies) {
    if (strcmp(text, family.name) == 0) return &family;
  }
  return nullptr;
}

// The generator's default card with the family's header byte.
Bytes InsuranceImage(const MemoryFamily& family) {
  testcards::InsuranceCard card;
  card.header[0] = family.header_byte;
  return testcards::Build(card);
}

// The memory-card options only make sense together with --memory, --insurance-card replaces
// --memory-data, and the code must have the family's length.
bool CheckMemoryOptions(const cards::CardSpec& spec, bool memory_options, bool insurance_card,
                        bool memory_data) {
  if (spec.kind == cards::CardKind::kProcessor) {
    if (memory_options) fprintf(stderr, "kv-vicc: memory-card options need --memory\n");
    return !memory_options;
  }
  if (insurance_card && memory_data) {
    fprintf(stderr, "kv-vicc: --insurance-card and --memory-data exclude each other\n");
    return false;
  }
  const size_t code_length = spec.kind == cards::CardKind::kTwoWire ? 3 : 2;
  if (!spec.pin.empty() && spec.pin.size() != code_length) {
    fprintf(stderr, "kv-vicc: --pin needs %zu bytes for this card\n", code_length);
    return false;
  }
  return true;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  bool memory_options = false;
  bool insurance_card = false;
  bool memory_data = false;
  const MemoryFamily* family = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--verbose") {
      options->verbose = true;
      continue;
    }
    if (name == "--fixed-first-byte") {
      options->spec.first_byte_fixed = true;
      memory_options = true;
      continue;
    }
    if (name == "--insurance-card") {
      insurance_card = true;
      memory_options = true;
      continue;
    }
    if (i + 1 >= argc) {
      fprintf(stderr, "kv-vicc: %s needs a value\n", name.c_str());
      return false;
    }
    const char* value = argv[++i];
    unsigned long number = 0;
    Bytes left;
    Bytes right;
    bool ok = true;
    if (name == "--port") {
      ok = ParseUnsigned(value, 0xFFFF, &number) && number != 0;
      options->port = static_cast<uint16_t>(number);
    } else if (name == "--host") {
      ok = *value != '\0';
      options->host = value;
    } else if (name == "--atr") {
      ok = ParseHex(value, &left) && left.size() >= 2 && left.size() <= 33;
      options->spec.atr = left;
    } else if (name == "--protocols") {
      ok = ParseUnsigned(value, 3, &number) && number != 0;
      options->spec.protocols = static_cast<uint32_t>(number);
    } else if (name == "--script") {
      ok = ParseHexPair(value, &left, &right) && right.size() >= 2;
      options->spec.script[left] = right;
    } else if (name == "--file") {
      ok = ParseHexPair(value, &left, &right) && left.size() == 2;
      if (ok) options->spec.files[static_cast<uint16_t>(left[0] << 8 | left[1])] = right;
    } else if (name == "--retry-ms") {
      ok = ParseUnsigned(value, 600000, &number);
      options->retry_ms = static_cast<uint32_t>(number);
    } else if (name == "--memory") {
      family = FindMemoryFamily(value);
      ok = family != nullptr;
      if (ok) {
        options->spec.kind = family->kind;
        options->spec.pin_area_plain = family->pin_area_plain;
      }
    } else if (name == "--memory-data") {
      ok = ParseHex(value, &left) && left.size() <= 65536;
      options->spec.memory = left;
      memory_options = true;
      memory_data = true;
    } else if (name == "--size") {
      ok = ParseUnsigned(value, 65536, &number) && number >= 128;
      options->spec.memory_size = static_cast<uint32_t>(number);
      memory_options = true;
    } else if (name == "--pin") {
      ok = ParseHex(value, &left) && !left.empty();
      options->spec.pin = left;
      memory_options = true;
    } else if (name == "--error-counter") {
      ok = ParseUnsigned(value, 0xFF, &number);
      options->spec.error_counter = static_cast<int>(number);
      memory_options = true;
    } else if (name == "--protection") {
      ok = ParseUnsigned(value, 0xFFFFFFFF, &number);
      options->spec.protection = static_cast<uint32_t>(number);
      memory_options = true;
    } else if (name == "--addr-width") {
      ok = ParseUnsigned(value, 2, &number) && number != 0;
      options->spec.address_width = static_cast<uint8_t>(number);
      memory_options = true;
    } else {
      fprintf(stderr, "kv-vicc: unknown option %s\n", name.c_str());
      return false;
    }
    if (!ok) {
      fprintf(stderr, "kv-vicc: bad value for %s: %s\n", name.c_str(), value);
      return false;
    }
  }
  if (options->port == 0) {
    fprintf(stderr, "kv-vicc: --port is required\n");
    return false;
  }
  if (!CheckMemoryOptions(options->spec, memory_options, insurance_card, memory_data)) return false;
  if (insurance_card && family != nullptr) options->spec.memory = InsuranceImage(*family);
  return true;
}

int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits until fd is ready for `events` (fd < 0: just waits) or a termination signal arrives on
// signal_fd; timeout_ms < 0 waits without limit.
Outcome WaitFor(int fd, short events, int signal_fd, int timeout_ms) {
  pollfd fds[2] = {{signal_fd, POLLIN, 0}, {fd, events, 0}};
  for (;;) {
    const int ready = poll(fds, fd >= 0 ? 2 : 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Outcome::kError;
    if (ready == 0) return Outcome::kTimeout;
    if (fds[0].revents != 0) return Outcome::kSignal;
    return Outcome::kDone;
  }
}

// Reads exactly `length` bytes. TCP_QUICKACK is switched on before every receive (the kernel
// drops it again on its own): vpcd writes the length and the payload separately, and with a
// delayed ACK here its Nagle algorithm would hold the payload back for some 40 ms.
Outcome ReadExact(int fd, int signal_fd, uint8_t* buffer, size_t length) {
  size_t done = 0;
  while (done < length) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    const Outcome waited = WaitFor(fd, POLLIN, signal_fd, -1);
    if (waited != Outcome::kDone) return waited;
    const ssize_t got = recv(fd, buffer + done, length - done, 0);
    if (got == 0) return Outcome::kClosed;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return errno == ECONNRESET ? Outcome::kClosed : Outcome::kError;
    }
    done += static_cast<size_t>(got);
  }
  return Outcome::kDone;
}

// One frame in one write, so that the length never waits for an ACK on its own.
Outcome SendFrame(int fd, const Bytes& frame) {
  size_t done = 0;
  while (done < frame.size()) {
    const ssize_t sent = send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0) return errno == EPIPE || errno == ECONNRESET ? Outcome::kClosed : Outcome::kError;
    done += static_cast<size_t>(sent);
  }
  return Outcome::kDone;
}

// One connection attempt to every address of the host; the socket or -1.
int ConnectOnce(const Options& options, int signal_fd, int timeout_ms, bool* signalled) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* addresses = nullptr;
  const std::string port = std::to_string(options.port);
  const int resolved = getaddrinfo(options.host.c_str(), port.c_str(), &hints, &addresses);
  if (resolved != 0) {
    fprintf(stderr, "kv-vicc: %s: %s\n", options.host.c_str(), gai_strerror(resolved));
    return -1;
  }
  int connected = -1;
  for (addrinfo* a = addresses; a != nullptr && connected < 0 && !*signalled; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) continue;
    int error = 0;
    if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      error = errno;
      if (error == EINPROGRESS) {
        const Outcome waited = WaitFor(fd, POLLOUT, signal_fd, timeout_ms);
        *signalled = waited == Outcome::kSignal;
        socklen_t size = sizeof error;
        if (waited != Outcome::kDone || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
          error = ETIMEDOUT;
        }
      }
    }
    if (error == 0) {
      // Blocking from here on: every receive is preceded by a poll, and sends may then block.
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      const int on = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      connected = fd;
    } else {
      close(fd);
    }
  }
  freeaddrinfo(addresses);
  return connected;
}

// Tries to connect for up to retry_ms, backing off between attempts; the socket, or -1 when the
// time is up or a termination signal arrived (then *signalled is set).
int Connect(const Options& options, int signal_fd, bool* signalled) {
  const int64_t deadline = NowMs() + options.retry_ms;
  int backoff_ms = kFirstBackoffMs;
  for (;;) {
    const int64_t left = deadline - NowMs();
    const int fd =
        ConnectOnce(options, signal_fd, left > 0 ? static_cast<int>(left) : 0, signalled);
    if (fd >= 0 || *signalled) return fd;
    const int64_t remaining = deadline - NowMs();
    if (remaining <= 0) return -1;
    const int pause = static_cast<int>(remaining < backoff_ms ? remaining : backoff_ms);
    if (WaitFor(-1, 0, signal_fd, pause) == Outcome::kSignal) {
      *signalled = true;
      return -1;
    }
    backoff_ms = backoff_ms * 2 > kMaxBackoffMs ? kMaxBackoffMs : backoff_ms * 2;
  }
}

// The connection to vpcd as the frames' link.
class SocketLink : public vicc::Link {
 public:
  SocketLink(int fd, int signal_fd) : fd_(fd), signal_fd_(signal_fd) {}
  Outcome Read(uint8_t* buffer, size_t length) override {
    return ReadExact(fd_, signal_fd_, buffer, length);
  }
  Outcome Send(const Bytes& frame) override { return SendFrame(fd_, frame); }

 private:
  int fd_;
  int signal_fd_;
};

// SIGTERM, SIGINT and SIGHUP arrive on a descriptor, so that every wait can end on them.
int OpenSignalFd() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
  signal(SIGPIPE, SIG_IGN);
  return signalfd(-1, &set, SFD_CLOEXEC);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (argc < 1 || argv == nullptr || !ParseOptions(argc, argv, &options)) {
    fputs(kUsage, stderr);
    return 2;
  }
  std::unique_ptr<cards::Card> card = cards::MakeCard(options.spec);
  const int signal_fd = OpenSignalFd();
  if (card == nullptr || signal_fd < 0) {
    fprintf(stderr, "kv-vicc: cannot set up the card or the signal handling\n");
    return 1;
  }
  int status = 0;
  for (;;) {
    bool signalled = false;
    const int fd = Connect(options, signal_fd, &signalled);
    if (signalled) break;
    if (fd < 0) {
      fprintf(stderr, "kv-vicc: no vpcd at %s port %u within %u ms\n", options.host.c_str(),
              options.port, options.retry_ms);
      status = 1;
      break;
    }
    if (options.verbose) {
      fprintf(stderr, "kv-vicc: connected to %s port %u\n", options.host.c_str(), options.port);
    }
    // A new connection is a card freshly inserted.
    card->Reset();
    SocketLink link(fd, signal_fd);
    const Outcome outcome = vicc::Serve(link, *card, options.verbose);
    close(fd);
    if (outcome == Outcome::kSignal) break;
    if (outcome == Outcome::kError) {
      fprintf(stderr, "kv-vicc: link to vpcd failed: %s\n", strerror(errno));
    } else if (options.verbose) {
      fprintf(stderr, "kv-vicc: vpcd closed the connection, reconnecting\n");
    }
  }
  close(signal_fd);
  return status;
}
