// SPDX-License-Identifier: BSD-3-Clause
// The CT-API through libctkorvin.so on the real stack: terminals opened on vpcd readers, as an
// application sees them and as the machine-wide table records them byte by byte.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "ctapi/ctapi.h"
#include "tests/common/test_util.h"
#include "tests/e2e/e2e_layout.h"

namespace {

// The table as another process sees it: the segment's size word, then four 276-byte slots.
class TableFile {
 public:
  TableFile() {
    std::ifstream in(testutil::SharedObjectPath("m_KV-CTAPI"), std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  size_t size() const { return bytes_.size(); }
  uint32_t Word(size_t offset) const {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
      value = value << 8 | static_cast<uint8_t>(bytes_.at(offset + i));
    return value;
  }
  uint32_t SlotWord(int slot, size_t offset) const { return Word(4 + slot * 276 + offset); }
  std::string ReaderName(int slot) const { return std::string(&bytes_.at(4 + slot * 276 + 0x30)); }

 private:
  std::string bytes_;
};

// Runs `work` in a child process that has not touched the library before, and gives back
// what it returned.
template <typename Work>
int InFreshProcess(Work work) {
  pid_t child = fork();
  if (child == 0) _exit(static_cast<uint8_t>(work()));
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 1000;
  return static_cast<int8_t>(WEXITSTATUS(status));
}

TEST(CtkorvinE2eTest, OpensTheReaderOfPortOne) {
  ASSERT_EQ(CT_init(1, 1), OK);
  TableFile table;
  ASSERT_EQ(table.size(), 1108u);
  EXPECT_EQ(table.Word(0), 1104u);
  EXPECT_EQ(table.SlotWord(0, 0x000), 1u);           // in_use
  EXPECT_EQ(table.SlotWord(0, 0x004), 1u);           // port
  EXPECT_NE(table.SlotWord(0, 0x008), 0u);           // context
  EXPECT_EQ(table.SlotWord(0, 0x00C), 0xFFFFFFFFu);  // card_handle: no connection yet
  EXPECT_EQ(table.ReaderName(0), std::string(e2e::kReader) + " 0");
  EXPECT_EQ(table.SlotWord(0, 0x0FC), 0u);  // port_flag
  EXPECT_EQ(CT_close(1), OK);
  EXPECT_EQ(TableFile().SlotWord(0, 0x000), 0u);
}

TEST(CtkorvinE2eTest, PortTwoIsTheReadersSecondSlot) {
  ASSERT_EQ(CTKORVIKV_init(1, 2), OK);
  EXPECT_EQ(TableFile().ReaderName(0), std::string(e2e::kReader) + " 1");
  EXPECT_EQ(CT_close(1), OK);
  EXPECT_EQ(CT_close(1), ERR_INVALID);
}

TEST(CtkorvinE2eTest, AnotherProcessCannotTakeAHeldPort) {
  ASSERT_EQ(CT_init(1, 1), OK);
  EXPECT_EQ(InFreshProcess([] { return CT_init(5, 1); }), ERR_INVALID);
  // Another port is free for it.
  EXPECT_EQ(InFreshProcess([] {
              int8_t opened = CT_init(5, 2);
              return opened == OK ? CT_close(5) : opened;
            }),
            OK);
  EXPECT_EQ(CT_close(1), OK);
}

TEST(CtkorvinE2eTest, UnknownPortFails) {
  EXPECT_EQ(CT_init(1, 90), ERR_INVALID);
  EXPECT_EQ(CT_init(1, 0), ERR_INVALID);
}

// Run on its own, without a daemon (see CMakeLists.txt).
TEST(CtkorvinNoDaemonTest, OpenFailsWithoutTheResourceManager) {
  EXPECT_EQ(CT_init(1, 1), ERR_INVALID);
  EXPECT_EQ(CT_close(1), ERR_INVALID);
}

}  // namespace
