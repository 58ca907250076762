// SPDX-License-Identifier: BSD-3-Clause
// ctkorvin-cli on the real stack of the CT_data case (see ct_data_test.cpp for its ports): the
// ports it lists, the transcript of a session and its exit status; and its own answers without a
// resource manager.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct CliRun {
  int status = -1;  // exit status, -1 when the program did not exit normally
  std::string output;
  std::string errors;
};

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<size_t>(got));
  close(fd);
  return text;
}

// Runs ctkorvin-cli with `arguments` and `input` on stdin, and collects what it prints on stdout
// and on stderr.
CliRun RunCli(const std::vector<std::string>& arguments, const std::string& input = "") {
  CliRun run;
  const char* program = getenv("KV_CTKORVIN_CLI");
  if (program == nullptr) {
    ADD_FAILURE() << "KV_CTKORVIN_CLI is not set: run through ctest -R e2e";
    return run;
  }
  // The input is written to a file first, so that a long one cannot block the two pipes.
  char input_path[] = "/tmp/kvcli.XXXXXX";
  const int input_fd = mkstemp(input_path);
  int out[2], err[2];
  if (input_fd < 0 || pipe(out) != 0 || pipe(err) != 0) {
    ADD_FAILURE() << "mkstemp or pipe";
    return run;
  }
  unlink(input_path);
  if (write(input_fd, input.data(), input.size()) != static_cast<ssize_t>(input.size()) ||
      lseek(input_fd, 0, SEEK_SET) != 0) {
    ADD_FAILURE() << "writing the input";
  }
  const pid_t child = fork();
  if (child == 0) {
    dup2(input_fd, STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    for (int fd : {input_fd, out[0], out[1], err[0], err[1]})
      close(fd);
    std::vector<char*> argv = {const_cast<char*>(program)};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program, argv.data());
    _exit(127);
  }
  close(input_fd);
  close(out[1]);
  close(err[1]);
  run.output = ReadAll(out[0]);  // stderr stays below the size of a pipe
  run.errors = ReadAll(err[0]);
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
  }
  return run;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CtDataCliTest, ListNamesEveryPortThatOpens) {
  const CliRun run = RunCli({"list"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output,
            "port 1: TREVANO Kelvane Birch 0\n"
            "port 2: TREVANO Kelvane Birch 1\n"
            "port 20: TREVANO Kelvane Alder 0\n"
            "port 21: TREVANO Kelvane Alder 1\n"
            "port 50: TREVANO Kelvane Cedar 0\n"
            "port 51: TREVANO Kelvane Cedar 1\n");
}

TEST(CtDataCliTest, SessionShowsTheMemoryCardsHeader) {
  const CliRun run =
      RunCli({"session", "--port", "20", "-e", "# power it", "-e", "ct 20 12 01 01 00"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(Contains(run.output, "CT_init(ctn 1, port 20): OK\n# power it\n")) << run.output;
  EXPECT_TRUE(Contains(run.output,
                       "from CT   A2 13 10 91 90 00\n"
                       "          memory card header A2 13 10 91 (2-wire)\n"
                       "          status 90 00: memory card powered\n"))
      << run.output;
  EXPECT_TRUE(Contains(run.output, "CT_close(ctn 1): OK\n")) << run.output;
}

// The insurance card read through its application: the data object comes out field by field.
TEST(CtDataCliTest, SessionDecodesTheInsuranceData) {
  const CliRun run = RunCli({"session", "--port", "50", "-e", "ct 20 12 01 01 00", "-e",
                             "icc 00 A4 04 00 06 D2 76 00 00 01 01", "-e", "icc 00 B0 00 00 00"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(Contains(run.output, "to ICC    SELECT FILE D27600000101\n")) << run.output;
  EXPECT_TRUE(Contains(run.output,
                       "          insurance data (object 60, 128 bytes):\n"
                       "            insurer           \"AOK Niedersachsen\"\n"
                       "            insurer number    1051309\n"))
      << run.output;
  EXPECT_TRUE(Contains(run.output,
                       "            birth date        12.08.1964\n"
                       "            street            \"Heidestra\xC3\x9F"
                       "e 17\"\n"))
      << run.output;
  EXPECT_TRUE(Contains(run.output,
                       "            valid until       12/26\n"
                       "            checksum          "))
      << run.output;
  EXPECT_TRUE(Contains(run.output,
                       " (matches)\n"
                       "          status 62 82: warning: end of file reached before Le bytes\n"))
      << run.output;
}

// A status word that reports an error is an answer like any other; the exit status counts the
// CT-API return codes only.
TEST(CtDataCliTest, ErrorStatusWordsAreNotFailures) {
  const CliRun run = RunCli({"session", "--port", "21", "--ctn", "7", "-e", "icc 00 B0 00 00 00"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(Contains(run.output, "CT_init(ctn 7, port 21): OK\n")) << run.output;
  EXPECT_TRUE(Contains(run.output, "from CT   64 A1\n          status 64 A1: no card\n"))
      << run.output;
}

TEST(CtDataCliTest, PortThatDoesNotOpenFails) {
  const CliRun run = RunCli({"session", "--port", "90", "-e", "ct 20 13 00 46 00"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "CT_init(ctn 1, port 90): ERR_INVALID (-1)\n");
}

TEST(CtDataCliTest, MalformedCommandIsAUsageError) {
  const CliRun run = RunCli({"session", "--port", "1", "-e", "ct 2 0"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.output, "");  // refused before the port is opened
}

TEST(CtDataCliTest, AnOverlongLineIsRefusedByItsLength) {
  const std::string line = "icc " + std::string(300000, 'A');
  const CliRun run = RunCli({"session", "--port", "21"}, line + "\n");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.errors,
            "ctkorvin-cli: a line of 300004 characters is longer than the 200000 allowed\n");
}

// Without a resource manager: the program's own answers, and its errors on stderr.
TEST(CliNoDaemonTest, VersionOptionErrorsAndExitStatus) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string output;
    std::string errors;
  } const cases[] = {
      {{"--version"}, 0, "ctkorvin-cli " KV_VERSION "\n", ""},
      {{"list", "--bogus"}, 2, "", "ctkorvin-cli: unknown option --bogus of list\n"},
      {{"list", "--port", "1"}, 2, "", "ctkorvin-cli: unknown option --port of list\n"},
      {{"list", "--ctn"}, 2, "", "ctkorvin-cli: --ctn needs a value\n"},
      {{"lsit"}, 2, "", "ctkorvin-cli: unknown command lsit\n"},
      {{"list"}, 1, "", "ctkorvin-cli: no port from 1 to 244 opens\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0] + (c.arguments.size() > 1 ? " " + c.arguments[1] : ""));
    const CliRun run = RunCli(c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.output, c.output);
    EXPECT_EQ(run.errors.substr(0, run.errors.find('\n') + 1), c.errors);
  }
}

}  // namespace
