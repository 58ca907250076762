// SPDX-License-Identifier: BSD-3-Clause
// kv-pcsc-wait: waits until a pcscd lists the given readers and, optionally, until given readers
// hold a card or are empty. The end-to-end scripts use it instead of sleeping: it reacts to
// pcscd's own change notifications (SCardGetStatusChange) and gives up at an overall time limit.
//
//   kv-pcsc-wait [--timeout-ms N] [--present READER]... [--empty READER]... [READER]...
//
// Exit status: 0 when everything was reached, 1 when the time limit passed first (what was
// missing goes to stderr), 2 on a usage error. The client library finds the daemon through
// PCSCLITE_CSOCK_NAME as usual.
#include <winscard.h>

#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kUsage[] =
    "usage: kv-pcsc-wait [--timeout-ms N] [--present READER]... [--empty READER]... [READER]...\n";
constexpr char kPnpReader[] = "\\\\?PnP?\\Notification";
// Longest single wait, so that a reader that appears between listing and waiting is noticed.
constexpr int64_t kSliceMs = 500;
// Pause between attempts to reach a daemon whose socket is not there yet.
constexpr int64_t kConnectRetryMs = 10;

enum class Condition { kListed, kPresent, kEmpty };

struct Want {
  std::string reader;
  Condition condition;
};

int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void PauseMs(int64_t ms) {
  timespec pause{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  nanosleep(&pause, nullptr);
}

bool ParseArguments(int argc, char** argv, int64_t* timeout_ms, std::vector<Want>* wants) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--timeout-ms" || argument == "--present" || argument == "--empty") {
      if (i + 1 >= argc) return false;
      const char* value = argv[++i];
      if (argument == "--timeout-ms") {
        char* end = nullptr;
        const long long parsed = strtoll(value, &end, 10);
        if (*value == '\0' || *end != '\0' || parsed < 0 || parsed > 3600000) return false;
        *timeout_ms = parsed;
      } else {
        wants->push_back(
            {value, argument == "--present" ? Condition::kPresent : Condition::kEmpty});
      }
    } else if (argument.rfind("--", 0) == 0) {
      return false;
    } else {
      wants->push_back({argument, Condition::kListed});
    }
  }
  return true;
}

// The readers pcscd lists now (none when it lists none).
std::vector<std::string> ListReaders(SCARDCONTEXT context, LONG* result) {
  std::vector<std::string> readers;
  DWORD size = 0;
  *result = SCardListReaders(context, nullptr, nullptr, &size);
  if (*result == SCARD_E_NO_READERS_AVAILABLE) *result = SCARD_S_SUCCESS;
  if (*result != SCARD_S_SUCCESS || size == 0) return readers;
  std::vector<char> buffer(size);
  *result = SCardListReaders(context, nullptr, buffer.data(), &size);
  if (*result == SCARD_E_NO_READERS_AVAILABLE) *result = SCARD_S_SUCCESS;
  if (*result != SCARD_S_SUCCESS) return readers;
  for (size_t at = 0; at < buffer.size() && buffer[at] != '\0';) {
    readers.emplace_back(&buffer[at]);
    at += readers.back().size() + 1;
  }
  return readers;
}

bool Listed(const std::vector<std::string>& readers, const std::string& name) {
  for (const std::string& reader : readers) {
    if (reader == name) return true;
  }
  return false;
}

bool Met(const Want& want, const std::vector<std::string>& readers, DWORD state) {
  if (!Listed(readers, want.reader)) return false;
  switch (want.condition) {
    case Condition::kListed:
      return true;
    case Condition::kPresent:
      return (state & SCARD_STATE_PRESENT) != 0;
    case Condition::kEmpty:
      return (state & SCARD_STATE_EMPTY) != 0;
  }
  return false;
}

void ReportMissing(const std::vector<Want>& wants, const std::vector<std::string>& readers,
                   const std::vector<DWORD>& states) {
  static constexpr const char* kConditionText[] = {"listed", "holding a card", "empty"};
  for (size_t i = 0; i < wants.size(); ++i) {
    if (!Met(wants[i], readers, states[i])) {
      fprintf(stderr, "kv-pcsc-wait: not %s: \"%s\" (state %#lx)\n",
              kConditionText[static_cast<int>(wants[i].condition)], wants[i].reader.c_str(),
              static_cast<unsigned long>(states[i]));
    }
  }
  fprintf(stderr, "kv-pcsc-wait: pcscd lists %zu reader(s)%s\n", readers.size(),
          readers.empty() ? "" : ":");
  for (const std::string& reader : readers)
    fprintf(stderr, "  \"%s\"\n", reader.c_str());
}

// Waits for every wish; 0 when all are met, 1 on time-out or when pcscd fails.
int WaitFor(SCARDCONTEXT context, const std::vector<Want>& wants, int64_t deadline) {
  std::vector<DWORD> states(wants.size(), SCARD_STATE_UNAWARE);
  std::vector<std::string> readers;
  for (;;) {
    LONG result = SCARD_S_SUCCESS;
    readers = ListReaders(context, &result);
    if (result != SCARD_S_SUCCESS) {
      fprintf(stderr, "kv-pcsc-wait: SCardListReaders: %s\n", pcsc_stringify_error(result));
      return 1;
    }
    // Every listed reader with a card condition, then the change notification of the list.
    std::vector<SCARD_READERSTATE> watch;
    std::vector<size_t> watched;  // index into wants of each watch entry
    for (size_t i = 0; i < wants.size(); ++i) {
      if (wants[i].condition == Condition::kListed || !Listed(readers, wants[i].reader)) continue;
      SCARD_READERSTATE entry{};
      entry.szReader = wants[i].reader.c_str();
      entry.dwCurrentState = SCARD_STATE_UNAWARE;
      watch.push_back(entry);
      watched.push_back(i);
    }
    bool known = true;
    if (!watch.empty()) {
      result = SCardGetStatusChange(context, 0, watch.data(), static_cast<DWORD>(watch.size()));
      if (result == SCARD_E_NO_SERVICE || result == SCARD_E_SERVICE_STOPPED) {
        fprintf(stderr, "kv-pcsc-wait: pcscd went away: %s\n", pcsc_stringify_error(result));
        return 1;
      }
      // A reader that went away between listing and asking: look again.
      known = result == SCARD_S_SUCCESS;
      for (size_t k = 0; k < watched.size(); ++k) {
        states[watched[k]] = known ? watch[k].dwEventState : SCARD_STATE_UNAWARE;
      }
    }
    bool all_met = known;
    for (size_t i = 0; i < wants.size(); ++i)
      all_met = all_met && Met(wants[i], readers, states[i]);
    if (all_met) return 0;
    const int64_t left = deadline - NowMs();
    if (left <= 0) {
      fprintf(stderr, "kv-pcsc-wait: time limit reached\n");
      ReportMissing(wants, readers, states);
      return 1;
    }
    // Sleep on pcscd: it answers as soon as a reader comes or goes or a card state changes.
    for (SCARD_READERSTATE& entry : watch) {
      entry.dwCurrentState = known ? entry.dwEventState & ~SCARD_STATE_CHANGED : 0;
    }
    SCARD_READERSTATE pnp{};
    pnp.szReader = kPnpReader;
    pnp.dwCurrentState = static_cast<DWORD>(readers.size() << 16);
    watch.push_back(pnp);
    result = SCardGetStatusChange(context, static_cast<DWORD>(left < kSliceMs ? left : kSliceMs),
                                  watch.data(), static_cast<DWORD>(watch.size()));
    if (result == SCARD_E_NO_SERVICE || result == SCARD_E_SERVICE_STOPPED) {
      fprintf(stderr, "kv-pcsc-wait: pcscd went away: %s\n", pcsc_stringify_error(result));
      return 1;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  int64_t timeout_ms = 10000;
  std::vector<Want> wants;
  if (argc < 1 || argv == nullptr || !ParseArguments(argc, argv, &timeout_ms, &wants)) {
    fputs(kUsage, stderr);
    return 2;
  }
  const int64_t deadline = NowMs() + timeout_ms;
  // Right after its start pcscd may not have its socket yet: try again until the deadline.
  SCARDCONTEXT context = 0;
  for (;;) {
    const LONG result = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
    if (result == SCARD_S_SUCCESS) break;
    if (NowMs() >= deadline) {
      const char* socket = getenv("PCSCLITE_CSOCK_NAME");
      fprintf(stderr, "kv-pcsc-wait: no pcscd at %s: %s\n", socket ? socket : "(default socket)",
              pcsc_stringify_error(result));
      return 1;
    }
    PauseMs(kConnectRetryMs);
  }
  const int status = WaitFor(context, wants, deadline);
  SCardReleaseContext(context);
  return status;
}
