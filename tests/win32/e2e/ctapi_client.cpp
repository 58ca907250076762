// SPDX-License-Identifier: BSD-3-Clause
// A CT-API application for the end-to-end runs under Wine: it loads CTKORVIN.dll with
// LoadLibraryA and finds CT_init, CT_data and CT_close by ordinal (4, 3, 2), as home-banking
// programs do, and checks what the readers of the simulator's winscard.dll answer.
//
//   ctapi-client [session]       a session with the processor card (port 1), the 2-wire memory
//                                card (port 20), the insurance card (port 50) and the PIN pad
//                                (port 60) of tests/data/world.txt, once through the twins
//                                (ordinals 5 to 7), printed as a transcript
//   ctapi-client shared-table    two processes and one terminal table: a port that this process
//                                holds is refused to a second one (this program started again),
//                                which gets it once it is closed, or once its holder ended
//   ctapi-client try-port <pn>   CT_init and CT_close of port pn; exit 0 when it opened, 1 when
//                                CT_init answered ERR_INVALID, 2 otherwise
//   ctapi-client hold-port <pn>  CT_init of port pn and an end without CT_close
//
// The last line says "ctapi-client: ... passed" or names what failed; the exit code agrees.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/common/child_process.h"
#include "tools/ctkorvin-cli/transcript.h"

namespace {

using cli::Bytes;
using cli::Target;

using InitCall = int8_t(__stdcall*)(uint16_t, uint16_t);
using DataCall = int8_t(__stdcall*)(uint16_t, uint8_t*, uint8_t*, uint16_t, uint8_t*, uint16_t*,
                                    uint8_t*);
using CloseCall = int8_t(__stdcall*)(uint16_t);

struct CtApi {
  InitCall init;
  DataCall data;
  CloseCall close;
};

constexpr uint16_t kCtn = 1;
constexpr uint8_t kHost = 2;
constexpr int8_t kOk = 0;
constexpr int8_t kErrInvalid = -1;

// The export at `ordinal` as a function of type T (through the generic function type, which
// any function pointer may be cast to and from).
template <typename T>
T ByOrdinal(HMODULE module, int ordinal) {
  return reinterpret_cast<T>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

// The three calls at ordinals init, data and close; false when the DLL or one of them is missing.
bool LoadCtApi(int init, int data, int close, CtApi* api) {
  HMODULE module = LoadLibraryA("CTKORVIN.dll");
  if (module == nullptr) {
    printf("ctapi-client: LoadLibraryA(\"CTKORVIN.dll\") failed with error %lu\n", GetLastError());
    return false;
  }
  *api = CtApi{ByOrdinal<InitCall>(module, init), ByOrdinal<DataCall>(module, data),
               ByOrdinal<CloseCall>(module, close)};
  if (api->init == nullptr || api->data == nullptr || api->close == nullptr) {
    printf("ctapi-client: CTKORVIN.dll lacks an export at ordinals %d, %d, %d\n", init, data,
           close);
    return false;
  }
  return true;
}

Bytes Hex(const char* text) {
  Bytes bytes;
  if (!cli::ParseHex(text, &bytes)) {
    fprintf(stderr, "ctapi-client: bad hex in a step: %s\n", text);
    abort();
  }
  return bytes;
}

Bytes Text(const char* text) {
  return Bytes(text, text + strlen(text));
}

Bytes Join(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// One command and what its answer must hold: the status word, data beginning with `data`, and
// who answered (`from`, the answer's SAD: 1 the terminal, 0 the card; -1: the one addressed).
struct Step {
  Target target;
  Bytes command;
  Bytes status;
  Bytes data;
  int from = -1;
};

struct PortSession {
  const char* title;
  uint16_t port;
  std::vector<Step> steps;
};

const Bytes kOkStatus = Hex("9000");

// The cards of tests/data/world.txt and what they answer.
std::vector<PortSession> Sessions() {
  const Bytes hello = Text("Hello, CT-API!");
  return {
      {"the processor card in \"TREVANO Kelvane Birch 0\"",
       1,
       {
           {Target::kCt, Hex("2013004600"), kOkStatus, Join(Hex("460F"), Text("KORVIKV   04.00"))},
           {Target::kCt, Hex("2012010100"), Hex("9001"), Hex("3B44004B564943")},
           {Target::kCt, Hex("2013018000"), kOkStatus, {}},
           {Target::kIcc, Hex("00A4000C022F01"), kOkStatus, {}},
           {Target::kIcc, Hex("00B0000000"), kOkStatus, hello},
           {Target::kIcc, Hex("00B0000704"), kOkStatus, Text("CT-A")},
           {Target::kIcc, Hex("80CA9F7F00"), kOkStatus, Text("KV-VICC")},
           {Target::kIcc, Hex("00A4000C024F99"), Hex("6A82"), {}},
       }},
      {"the 2-wire memory card in \"TREVANO Kelvane Alder 0\"",
       20,
       {
           {Target::kCt, Hex("2012010100"), kOkStatus, Hex("A2131091")},
           {Target::kIcc, Hex("00A40000023F00"), kOkStatus, {}},
           {Target::kIcc, Hex("00B0002012"), kOkStatus, Text("KORVIN memory card")},
       }},
      {"the health insurance card in \"TREVANO Kelvane Cedar 0\"",
       50,
       {
           {Target::kCt, Hex("2012010100"), kOkStatus, Hex("A2131091")},
           {Target::kIcc, Hex("00A4040006D27600000101"), kOkStatus, {}},
           {Target::kIcc, Hex("00B0000000"), Hex("6282"), Join(Hex("6081"), {0x80})},
       }},
      // PERFORM VERIFICATION: the PIN typed on the PIN pad goes into VERIFY 00 20 00 01 with four
      // BCD bytes; the card answers.
      {"the processor card behind the PIN pad of \"TREVANO Kelvane Maple 0\"",
       60,
       {
           {Target::kCt, Hex("2012010100"), Hex("9001"), {}},
           {Target::kCt, Hex("20180100 0D 520B4006 0020000104FFFFFFFF"), kOkStatus, {}, 0},
       }},
  };
}

const char* CodeName(int8_t code) {
  return cli::ReturnCodeName(code);
}

// Sends one step, prints the exchange and tells whether the answer is the wanted one.
bool RunStep(const CtApi& api, const Step& step) {
  cli::Exchange exchange;
  exchange.target = step.target;
  exchange.command = step.command;
  uint8_t dad = step.target == Target::kCt ? 1 : 0;
  uint8_t sad = kHost;
  uint8_t response[1024];
  uint16_t lenr = sizeof response;
  Bytes command = step.command;
  exchange.code = api.data(kCtn, &dad, &sad, static_cast<uint16_t>(command.size()), command.data(),
                           &lenr, response);
  exchange.answer_sad = sad;
  if (lenr <= sizeof response) exchange.response.assign(response, response + lenr);
  for (const std::string& line : cli::FormatExchange(exchange))
    printf("%s\n", line.c_str());

  const Bytes& answer = exchange.response;
  const bool status_ok = answer.size() >= 2 && Bytes(answer.end() - 2, answer.end()) == step.status;
  const bool data_ok = answer.size() >= step.data.size() + 2 &&
                       std::equal(step.data.begin(), step.data.end(), answer.begin());
  const int from = step.from >= 0 ? step.from : step.target == Target::kCt ? 1 : 0;
  const bool addresses_ok = dad == kHost && sad == from;
  if (exchange.code == kOk && status_ok && data_ok && addresses_ok) return true;
  printf("  FAILED: wanted CT_data OK, status %s%s%s, SAD %d and DAD %d\n",
         cli::HexText(step.status).c_str(), step.data.empty() ? "" : ", data beginning ",
         cli::HexText(step.data).c_str(), from, kHost);
  return false;
}

int Session() {
  CtApi api{};
  if (!LoadCtApi(4, 3, 2, &api)) return 1;
  int failures = 0;
  for (const PortSession& session : Sessions()) {
    printf("\n== Port %u: %s\n", session.port, session.title);
    const int8_t opened = api.init(kCtn, session.port);
    printf("CT_init(ctn %u, port %u): %s\n", kCtn, session.port, CodeName(opened));
    if (opened != kOk) {
      ++failures;
      continue;
    }
    for (const Step& step : session.steps)
      failures += RunStep(api, step) ? 0 : 1;
    const int8_t closed = api.close(kCtn);
    printf("CT_close(ctn %u): %s\n", kCtn, CodeName(closed));
    failures += closed == kOk ? 0 : 1;
  }

  // The twins are the same calls under the library's own names.
  CtApi twins{};
  if (!LoadCtApi(7, 6, 5, &twins)) return 1;
  printf("\n== The twins: CTKORVIKV_init, _data and _close (ordinals 7, 6 and 5), port 1\n");
  const int8_t opened = twins.init(kCtn, 1);
  printf("CTKORVIKV_init(ctn %u, port 1): %s\n", kCtn, CodeName(opened));
  if (opened == kOk) {
    failures += RunStep(twins, Sessions()[0].steps[0]) ? 0 : 1;
    const int8_t closed = twins.close(kCtn);
    printf("CTKORVIKV_close(ctn %u): %s\n", kCtn, CodeName(closed));
    failures += closed == kOk ? 0 : 1;
  } else {
    ++failures;
  }
  // A terminal that is closed is unknown to CT_data and CT_close alike.
  uint8_t dad = 1;
  uint8_t sad = kHost;
  uint8_t command[] = {0x20, 0x13, 0x00, 0x46, 0x00};
  uint8_t response[64];
  uint16_t lenr = sizeof response;
  const int8_t data_after = api.data(kCtn, &dad, &sad, sizeof command, command, &lenr, response);
  const int8_t close_after = api.close(kCtn);
  printf("after the close: CT_data %s, CT_close %s\n", CodeName(data_after), CodeName(close_after));
  failures += data_after == kErrInvalid && close_after == kErrInvalid ? 0 : 1;

  if (failures != 0) {
    printf("\nctapi-client: session: %d step(s) FAILED\n", failures);
    return 1;
  }
  printf("\nctapi-client: session passed\n");
  return 0;
}

int TryPort(uint16_t port) {
  CtApi api{};
  if (!LoadCtApi(4, 3, 2, &api)) return 2;
  const int8_t opened = api.init(kCtn, port);
  printf("  second process: CT_init(ctn %u, port %u): %s\n", kCtn, port, CodeName(opened));
  if (opened == kOk) {
    const int8_t closed = api.close(kCtn);
    printf("  second process: CT_close(ctn %u): %s\n", kCtn, CodeName(closed));
    return closed == kOk ? 0 : 2;
  }
  return opened == kErrInvalid ? 1 : 2;
}

int HoldPort(uint16_t port) {
  CtApi api{};
  if (!LoadCtApi(4, 3, 2, &api)) return 2;
  const int8_t opened = api.init(kCtn, port);
  printf("  second process: CT_init(ctn %u, port %u): %s, and an end without CT_close\n", kCtn,
         port, CodeName(opened));
  return opened == kOk ? 0 : 2;
}

int SharedTable() {
  CtApi api{};
  if (!LoadCtApi(4, 3, 2, &api)) return 1;
  int failures = 0;
  auto expect = [&failures](bool ok, const char* what) {
    printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    failures += ok ? 0 : 1;
  };
  const int8_t opened = api.init(kCtn, 1);
  printf("CT_init(ctn %u, port 1): %s\n", kCtn, CodeName(opened));
  expect(opened == kOk, "this process holds port 1");
  expect(testutil::RunSelf("try-port 1") == 1, "a second process is refused port 1 (ERR_INVALID)");
  expect(testutil::RunSelf("try-port 20") == 0, "and opens another port meanwhile");
  const int8_t closed = api.close(kCtn);
  printf("CT_close(ctn %u): %s\n", kCtn, CodeName(closed));
  expect(closed == kOk && testutil::RunSelf("try-port 1") == 0,
         "once this process closed it, a second process opens port 1");
  expect(testutil::RunSelf("hold-port 1") == 0,
         "a second process takes port 1 and ends without CT_close");
  const int8_t again = api.init(kCtn, 1);
  printf("CT_init(ctn %u, port 1): %s\n", kCtn, CodeName(again));
  expect(again == kOk, "the port of a process that ended is taken back");
  if (again == kOk) api.close(kCtn);
  if (failures != 0) {
    printf("ctapi-client: shared table: %d check(s) FAILED\n", failures);
    return 1;
  }
  printf("ctapi-client: shared table passed\n");
  return 0;
}

bool ParsePort(const char* text, uint16_t* port) {
  char* end = nullptr;
  const unsigned long value = strtoul(text, &end, 10);
  if (*text == '\0' || *end != '\0' || value == 0 || value > 0xFFFF) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // The transcript and the second processes' lines keep their order in a pipe.
  setvbuf(stdout, nullptr, _IONBF, 0);
  const std::string mode = argc >= 2 ? argv[1] : "session";
  uint16_t port = 0;
  if (argc == 1 || (argc == 2 && mode == "session")) return Session();
  if (argc == 2 && mode == "shared-table") return SharedTable();
  if (argc == 3 && mode == "try-port" && ParsePort(argv[2], &port)) return TryPort(port);
  if (argc == 3 && mode == "hold-port" && ParsePort(argv[2], &port)) return HoldPort(port);
  fprintf(stderr,
          "usage: ctapi-client [session | shared-table | try-port <pn> | hold-port <pn>]\n");
  return 2;
}
