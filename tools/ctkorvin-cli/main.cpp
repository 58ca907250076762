// SPDX-License-Identifier: BSD-3-Clause
// ctkorvin-cli: try a card reader by hand through the CT-API, the way an application sees it.
// "list" finds the ports that open and names their readers; "session" opens one port and sends
// the commands of a small script (stdin or -e arguments) to the terminal or the card, printing
// every exchange as a readable transcript; "diagnose" tells what stands between a reader and a
// port. The terminals it opens go through CT_init, CT_data and CT_close of the shared library;
// what it shows of PC/SC, the port map and the terminal table it reads itself (machine.h).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "ctapi/ctapi.h"
#include "tools/ctkorvin-cli/machine.h"
#include "tools/ctkorvin-cli/transcript.h"

namespace {

constexpr char kUsage[] =
    "usage: ctkorvin-cli list [--ctn C]\n"
    "       ctkorvin-cli session --port N [--ctn C] [-e CMD]...\n"
    "       ctkorvin-cli diagnose\n"
    "       ctkorvin-cli --version | --help\n"
    "  list     open every port from 1 to 244 and print the reader name of each that opens;\n"
    "           then the PC/SC readers that no port reaches, with the port-map line for each\n"
    "  session  open port N as terminal C (default 1) and run commands, one per line, from\n"
    "           stdin or from the -e arguments:\n"
    "             ct <hex>    command to the terminal (DAD 1), e.g. ct 20 12 01 01 00\n"
    "             icc <hex>   command to the card (DAD 0), e.g. icc 00 B0 00 00 00\n"
    "             # text      printed as it stands\n"
    "           A line may hold at most 200000 characters.\n"
    "  diagnose the PC/SC service, its readers and their ports, the port map, the terminal\n"
    "           table and its owners, and the SinglePort switch\n"
    "exit status: 0 when every CT-API call returned OK (list: and some port opened), 1 otherwise,\n"
    "             2 on a usage error or a script line that is not understood\n";

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// A command of 65535 bytes written as hex with blanks, and some room for the word before it.
constexpr size_t kMaxLineLength = 200000;
// How much of a line that is not understood is shown again.
constexpr int kShownLength = 60;

constexpr uint16_t kFirstPort = 1;
constexpr uint16_t kLastPort = 244;
constexpr uint8_t kSadHost = CTAPI_AD_HOST;
constexpr uint16_t kResponseCapacity = 4096;
const cli::Bytes kReaderNameCommand = {0x20, 0xFF, 0x00, 0x00, 0x00};

struct Options {
  std::string mode;
  uint16_t ctn = 1;
  long port = -1;  // -1: not given
  std::vector<std::string> commands;
};

bool ParseNumber(const char* text, unsigned long max, unsigned long* out) {
  if (text == nullptr || *text == '\0' || *text == '-') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long value = strtoul(text, &end, 0);
  if (errno != 0 || *end != '\0' || value > max) return false;
  *out = value;
  return true;
}

// A usage error: the problem and where to read more, or, without a problem, the whole usage.
bool Usage(const char* problem) {
  if (problem == nullptr) {
    fputs(kUsage, stderr);
  } else {
    fprintf(stderr, "ctkorvin-cli: %s\nTry 'ctkorvin-cli --help'.\n", problem);
  }
  return false;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  if (argc < 2) return Usage(nullptr);
  options->mode = argv[1];
  if (options->mode != "list" && options->mode != "session" && options->mode != "diagnose") {
    return Usage(("unknown command " + options->mode).c_str());
  }
  for (int i = 2; i < argc; ++i) {
    const std::string name = argv[i];
    const bool known =
        name == "--ctn" || (options->mode == "session" && (name == "--port" || name == "-e"));
    if (!known) return Usage(("unknown option " + name + " of " + options->mode).c_str());
    if (i + 1 >= argc) return Usage((name + " needs a value").c_str());
    const char* value = argv[++i];
    unsigned long number = 0;
    if (name == "--ctn") {
      if (!ParseNumber(value, 0xFFFF, &number)) return Usage("--ctn wants 0 to 65535");
      options->ctn = static_cast<uint16_t>(number);
    } else if (name == "--port") {
      if (!ParseNumber(value, 0xFFFF, &number)) return Usage("--port wants 0 to 65535");
      options->port = static_cast<long>(number);
    } else {
      options->commands.push_back(value);
    }
  }
  if (options->mode == "session" && options->port < 0) return Usage("session needs --port");
  return true;
}

// One CT_data call; the answer as the exchange record of the transcript.
cli::Exchange Send(uint16_t ctn, cli::Target target, const cli::Bytes& command) {
  cli::Exchange exchange;
  exchange.target = target;
  exchange.command = command;
  uint8_t dad = target == cli::Target::kCt ? CTAPI_AD_CT : CTAPI_AD_ICC1;
  uint8_t sad = kSadHost;
  uint16_t lenr = kResponseCapacity;
  std::vector<uint8_t> response(kResponseCapacity);
  cli::Bytes writable = command;  // the CT-API takes the command as writable
  exchange.code = CT_data(ctn, &dad, &sad, static_cast<uint16_t>(writable.size()), writable.data(),
                          &lenr, response.data());
  exchange.answer_sad = sad;
  // A failure that left *lenr at the capacity wrote no answer.
  const bool answered =
      lenr <= kResponseCapacity && !(exchange.code != OK && lenr == kResponseCapacity);
  if (answered) exchange.response.assign(response.begin(), response.begin() + lenr);
  return exchange;
}

void Print(const std::vector<std::string>& lines) {
  for (const std::string& line : lines)
    printf("%s\n", line.c_str());
  fflush(stdout);
}

std::string CodeText(int code) {
  std::string text = cli::ReturnCodeName(code);
  return code == OK ? text : text + " (" + std::to_string(code) + ")";
}

void PrintTo(FILE* stream, const std::vector<std::string>& lines) {
  fflush(stdout);
  for (const std::string& line : lines)
    fprintf(stream, "%s%s\n", stream == stderr ? "ctkorvin-cli: " : "", line.c_str());
  fflush(stream);
}

int List(uint16_t ctn) {
  PrintTo(stderr, cli::PortMapProblemLines());
  std::vector<std::string> reached;
  int found = 0;
  bool failed = false;
  for (uint16_t port = kFirstPort; port <= kLastPort; ++port) {
    if (CT_init(ctn, port) != OK) continue;
    ++found;
    const cli::Exchange exchange = Send(ctn, cli::Target::kCt, kReaderNameCommand);
    const cli::Bytes& answer = exchange.response;
    const bool named = exchange.code == OK && answer.size() >= 2 &&
                       answer[answer.size() - 2] == 0x90 && answer[answer.size() - 1] == 0x00;
    if (named) {
      reached.emplace_back(reinterpret_cast<const char*>(answer.data()), answer.size() - 2);
      printf("port %u: %s\n", port, reached.back().c_str());
    } else {
      printf("port %u: (no reader name: %s, answer %s)\n", port, CodeText(exchange.code).c_str(),
             cli::HexText(answer).c_str());
      failed = failed || exchange.code != OK;
    }
    fflush(stdout);
    const int8_t closed = CT_close(ctn);
    if (closed != OK) {
      fprintf(stderr, "ctkorvin-cli: port %u: CT_close(ctn %u): %s\n", port, ctn,
              CodeText(closed).c_str());
      failed = true;
    }
  }
  PrintTo(stdout, cli::UnreachedReaderLines(reached));
  if (found == 0) {
    fprintf(stderr, "ctkorvin-cli: no port from %u to %u opens\n", kFirstPort, kLastPort);
    return kExitFailed;
  }
  return failed ? kExitFailed : kExitOk;
}

// Runs one script line; false when the line was not understood. An overlong line is refused
// by its length, without being shown again.
bool RunLine(uint16_t ctn, const std::string& text, bool* failed) {
  if (text.size() > kMaxLineLength) {
    fflush(stdout);
    fprintf(stderr, "ctkorvin-cli: a line of %zu characters is longer than the %zu allowed\n",
            text.size(), kMaxLineLength);
    return false;
  }
  const cli::ScriptLine line = cli::ParseScriptLine(text);
  switch (line.kind) {
    case cli::LineKind::kBlank:
      return true;
    case cli::LineKind::kComment:
      printf("%s\n", line.text.c_str());
      fflush(stdout);
      return true;
    case cli::LineKind::kBad:
      fflush(stdout);
      fprintf(stderr, "ctkorvin-cli: not understood: %.*s%s (%s)\n", kShownLength, text.c_str(),
              text.size() > kShownLength ? "..." : "", line.text.c_str());
      return false;
    case cli::LineKind::kCommand:
      break;
  }
  const cli::Exchange exchange = Send(ctn, line.target, line.command);
  Print(cli::FormatExchange(exchange));
  if (exchange.code != OK) *failed = true;
  return true;
}

int Session(const Options& options) {
  // Arguments are checked before the terminal is opened: a typo there is a usage error.
  for (const std::string& command : options.commands) {
    const cli::ScriptLine line = cli::ParseScriptLine(command);
    if (command.size() > kMaxLineLength || line.kind == cli::LineKind::kBad) {
      fprintf(stderr, "ctkorvin-cli: -e '%.*s%s': %s\n", kShownLength, command.c_str(),
              command.size() > kShownLength ? "..." : "",
              line.kind == cli::LineKind::kBad ? line.text.c_str() : "too long");
      return kExitUsage;
    }
  }
  const uint16_t port = static_cast<uint16_t>(options.port);
  const int8_t opened = CT_init(options.ctn, port);
  printf("CT_init(ctn %u, port %u): %s\n", options.ctn, port, CodeText(opened).c_str());
  fflush(stdout);
  if (opened != OK) return kExitFailed;

  bool failed = false;
  bool misunderstood = false;
  if (!options.commands.empty()) {
    for (const std::string& command : options.commands)
      RunLine(options.ctn, command, &failed);
  } else {
    std::string text;
    while (std::getline(std::cin, text)) {
      if (!RunLine(options.ctn, text, &failed)) misunderstood = true;
    }
  }

  const int8_t closed = CT_close(options.ctn);
  printf("CT_close(ctn %u): %s\n", options.ctn, CodeText(closed).c_str());
  fflush(stdout);
  if (misunderstood) return kExitUsage;
  return failed || closed != OK ? kExitFailed : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && argv != nullptr &&
      (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    fputs(kUsage, stdout);
    return kExitOk;
  }
  if (argc >= 2 && argv != nullptr && strcmp(argv[1], "--version") == 0) {
    printf("ctkorvin-cli %s\n", KV_VERSION);
    return kExitOk;
  }
  Options options;
  if (argc < 1 || argv == nullptr || !ParseOptions(argc, argv, &options)) return kExitUsage;
  if (options.mode == "diagnose") {
    PrintTo(stdout, cli::DiagnoseLines());
    return kExitOk;
  }
  return options.mode == "list" ? List(options.ctn) : Session(options);
}
