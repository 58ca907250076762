// ctkorvin-cli on the real stack of the CT_data case (see ct_data_test.cpp for its ports): the
// ports it lists, the transcript of a session and its exit status.
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
};

// Runs ctkorvin-cli with `arguments` and collects what it prints on stdout.
CliRun RunCli(const std::vector<std::string>& arguments) {
  CliRun run;
  const char* program = getenv("KV_CTKORVIN_CLI");
  if (program == nullptr) {
    ADD_FAILURE() << "KV_CTKORVIN_CLI is not set: run through ctest -R e2e_ct_data";
    return run;
  }
  int out[2];
  if (pipe(out) != 0) {
    ADD_FAILURE() << "pipe";
    return run;
  }
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv = {const_cast<char*>(program)};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program, argv.data());
    _exit(127);
  }
  close(out[1]);
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(out[0], buffer, sizeof buffer)) > 0)
    run.output.append(buffer, static_cast<size_t>(got));
  close(out[0]);
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

}  // namespace
