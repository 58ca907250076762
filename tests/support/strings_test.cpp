// SPDX-License-Identifier: BSD-3-Clause
// Bounded string and memory helpers: truncating copies and appends, comparisons on unsigned
// bytes, the n-th occurrence search, number formatting, and that no helper ever writes outside
// the capacity it is given or trips over a missing pointer.
#include "support/strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr unsigned char kGuard = 0xEE;
constexpr uint32_t kGuardSize = 8;

// A buffer of `size` bytes with guard bytes on both sides that must never change.
template <uint32_t kSize>
struct Guarded {
  unsigned char area[kGuardSize + kSize + kGuardSize];
  Guarded() { memset(area, kGuard, sizeof area); }
  char* data() { return reinterpret_cast<char*>(area + kGuardSize); }
  bool GuardsIntact() const {
    for (uint32_t i = 0; i < kGuardSize; ++i) {
      if (area[i] != kGuard || area[kGuardSize + kSize + i] != kGuard) return false;
    }
    return true;
  }
};

// ---- Copies ----

struct CopyCase {
  const char* src;
  uint32_t n;  // limit for SafeStrCopyN
  const char* expected;
};

TEST(SafeStrCopyTest, TruncatesToCapacityAndTerminates) {
  const CopyCase cases[] = {
      {"Unknown reader", 0, "Unkn"},
      {"abcd", 0, "abcd"},
      {"abc", 0, "abc"},
      {"", 0, ""},
  };
  for (const CopyCase& c : cases) {
    Guarded<5> buf;
    SafeStrCopy(buf.data(), 5, c.src);
    EXPECT_STREQ(buf.data(), c.expected) << c.src;
    EXPECT_TRUE(buf.GuardsIntact()) << c.src;
    // Every byte after the copied text is cleared.
    for (uint32_t i = static_cast<uint32_t>(strlen(c.expected)); i < 5; ++i)
      EXPECT_EQ(buf.data()[i], '\0') << c.src << " byte " << i;
  }
}

TEST(SafeStrCopyTest, CopyNStopsAtNOrCapacityOrEndOfSource) {
  const CopyCase cases[] = {
      {"Unknown reader", 2, "Un"},
      {"Unknown reader", 100, "Unkn"},
      {"ab", 4, "ab"},
      {"abcdef", 0, ""},
  };
  for (const CopyCase& c : cases) {
    Guarded<5> buf;
    EXPECT_EQ(SafeStrCopyN(buf.data(), 5, c.src, c.n), buf.data());
    EXPECT_STREQ(buf.data(), c.expected) << c.src << " n=" << c.n;
    EXPECT_TRUE(buf.GuardsIntact());
  }
}

TEST(SafeStrCopyTest, SourceIsNotReadPastItsTerminatorWhenNIsLarge) {
  // A source of exactly three bytes: reading a fourth would be caught by the address sanitizer.
  char src[3] = {'x', 'y', '\0'};
  char dest[16];
  SafeStrCopyN(dest, sizeof dest, src, 1000);
  EXPECT_STREQ(dest, "xy");
}

TEST(SafeStrCopyTest, CapacityOneGivesEmptyString) {
  Guarded<1> buf;
  SafeStrCopy(buf.data(), 1, "abc");
  EXPECT_EQ(buf.data()[0], '\0');
  EXPECT_TRUE(buf.GuardsIntact());
}

// ---- Appends ----

struct AppendCase {
  const char* start;
  const char* src;
  uint32_t n;
  const char* expected;
};

TEST(SafeStrAppendTest, AppendsWhatFitsAndTerminates) {
  const AppendCase cases[] = {
      {"ab", "cd", 0, "abcd"},
      {"ab", "cdefgh", 0, "abcdefg"},
      {"", "xyz", 0, "xyz"},
      {"abc", "", 0, "abc"},
      // The length already fills the buffer: nothing changes.
      {"abcdefg", "xyz", 0, "abcdefg"},
  };
  for (const AppendCase& c : cases) {
    Guarded<8> buf;
    strcpy(buf.data(), c.start);
    EXPECT_EQ(SafeStrAppend(buf.data(), 8, c.src), buf.data());
    EXPECT_STREQ(buf.data(), c.expected) << c.start << "+" << c.src;
    EXPECT_TRUE(buf.GuardsIntact());
  }
}

TEST(SafeStrAppendTest, AppendNLimitsTheAppendedCharacters) {
  const AppendCase cases[] = {
      {"ab", "cdef", 2, "abcd"},
      {"ab", "cdef", 0, "ab"},
      {"ab", "cdefghij", 100, "abcdefg"},
      {"ab", "c", 5, "abc"},
  };
  for (const AppendCase& c : cases) {
    Guarded<8> buf;
    strcpy(buf.data(), c.start);
    SafeStrAppendN(buf.data(), 8, c.src, c.n);
    EXPECT_STREQ(buf.data(), c.expected) << c.start << "+" << c.src << " n=" << c.n;
    EXPECT_TRUE(buf.GuardsIntact());
  }
}

TEST(SafeStrAppendTest, UnterminatedDestinationIsLeftAloneAndNotReadPastItsSize) {
  Guarded<4> buf;
  memcpy(buf.data(), "wxyz", 4);  // no terminator within the 4 bytes
  SafeStrAppend(buf.data(), 4, "abc");
  SafeStrAppendN(buf.data(), 4, "abc", 2);
  EXPECT_EQ(memcmp(buf.data(), "wxyz", 4), 0);
  EXPECT_TRUE(buf.GuardsIntact());
}

// ---- Comparisons ----

struct CompareCase {
  const char* a;
  const char* b;
  uint32_t n;   // for SafeStrCompareN
  int whole;    // SafeStrCompare
  int bounded;  // SafeStrCompareN
};

TEST(SafeStrCompareTest, GivesTheSignOnUnsignedBytes) {
  const CompareCase cases[] = {
      {"O2Micro PCMCIA Reader 0", "O2Micro", 7, 1, 0},
      {"O2Micro", "O2Micro PCMCIA Reader 0", 7, -1, 0},
      {"abc", "abc", 10, 0, 0},
      {"abc", "abd", 2, -1, 0},
      {"abd", "abc", 3, 1, 1},
      {"ABC", "abc", 3, -1, -1},  // case-sensitive
      {"\x80", "\x7F", 1, 1, 1},  // 0x80 is above 0x7F as an unsigned byte
      {"\x7F", "\x80", 1, -1, -1},
      {"zzz", "aaa", 0, 1, 0},  // n = 0 compares nothing
      {"", "", 5, 0, 0},
      {"a", "", 5, 1, 1},
  };
  for (const CompareCase& c : cases) {
    EXPECT_EQ(SafeStrCompare(c.a, c.b), c.whole) << c.a << " vs " << c.b;
    EXPECT_EQ(SafeStrCompareN(c.a, c.b, c.n), c.bounded) << c.a << " vs " << c.b << " n=" << c.n;
  }
}

TEST(SafeStrCompareTest, ResultIsReducedToMinusOneZeroOne) {
  EXPECT_EQ(SafeStrCompare("a", "z"), -1);
  EXPECT_EQ(SafeStrCompare("z", "a"), 1);
  EXPECT_EQ(SafeStrCompareN("\xFF", "\x01", 1), 1);
}

TEST(SafeMemCompareTest, GivesTheByteDifferenceNotJustItsSign) {
  const unsigned char a[] = {1, 2, 0x80, 9};
  const unsigned char b[] = {1, 2, 0x7F, 0};
  const unsigned char c[] = {1, 2, 0x10, 9};
  EXPECT_GT(SafeMemCompare(a, b, 4), 0);  // unsigned: 0x80 > 0x7F
  EXPECT_LT(SafeMemCompare(b, a, 4), 0);
  EXPECT_EQ(SafeMemCompare(a, c, 4), 0x80 - 0x10);
  EXPECT_EQ(SafeMemCompare(c, a, 4), 0x10 - 0x80);
  EXPECT_EQ(SafeMemCompare(a, c, 2), 0);
  // Terminators are ordinary bytes here.
  EXPECT_EQ(SafeMemCompare("a\0b", "a\0c", 3), 'b' - 'c');
}

// ---- Search ----

struct FindCase {
  const char* text;
  uint32_t limit;
  char ch;
  uint32_t n;
  uint32_t mode;
  uint32_t expected;
};

TEST(SafeStrFindNthTest, FindsTheNthOccurrence) {
  const FindCase cases[] = {
      {"a;b;c", 5, ';', 1, 0, 1},
      {"a;b;c", 5, ';', 2, 0, 3},
      {"a;b;c", 5, ';', 3, 0, kNotFound},
      {"a;b;c", 5, ';', 0, 0, kNotFound},
      {"a;b;c", 5, ';', 1, 2, kNotFound},  // unknown mode
      {"a;b;c", 3, ';', 2, 0, kNotFound},  // second semicolon beyond the limit
      {"a;b;c", 4, ';', 2, 0, 3},
      {"a;b;c", 100, 'c', 1, 0, 4},
      {"aAbA", 4, 'a', 2, 0, kNotFound},
      {"aAbA", 4, 'a', 2, 1, 1},
      {"aAbA", 4, 'A', 3, 1, 3},
      {"x\x81y\x9A", 4, '\x9A', 2, 1, 3},  // code-page-437 u-umlaut in both cases
      {"x\x81y\x9A", 4, '\x9A', 2, 0, kNotFound},
      {"", 5, ';', 1, 0, kNotFound},
  };
  for (const FindCase& c : cases) {
    EXPECT_EQ(SafeStrFindNth(c.text, c.limit, c.ch, c.n, c.mode), c.expected)
        << c.text << " ch=" << c.ch << " n=" << c.n << " mode=" << c.mode;
  }
}

TEST(SafeStrFindNthTest, DoesNotReadPastTheLimit) {
  char text[3] = {';', ';', ';'};  // not terminated
  EXPECT_EQ(SafeStrFindNth(text, 3, ';', 3, 0), 2u);
  EXPECT_EQ(SafeStrFindNth(text, 3, ';', 4, 0), kNotFound);
}

// ---- Number formatting ----

struct IntCase {
  uint32_t value;
  uint32_t size;
  uint32_t radix;
  const char* expected;
};

TEST(SafeIntToStrTest, WritesDigitsInTheRadix) {
  const IntCase cases[] = {
      {255, 5, 16, "ff"},
      {0, 5, 10, "0"},
      {0, 2, 10, "0"},
      {42, 5, 10, "42"},
      {5, 5, 2, "101"},
      {35, 5, 40, "z"},  // radix 40 counts as 36
      {36, 5, 40, "10"},
      {35, 5, 36, "z"},
      {1295, 5, 36, "zz"},
      {1234, 5, 10, "1234"},  // exactly digits + terminator
      {0xFFFFFFFF, 33, 2, "11111111111111111111111111111111"},
      {0xFFFFFFFF, 11, 10, "4294967295"},
  };
  for (const IntCase& c : cases) {
    Guarded<33> buf;
    EXPECT_EQ(SafeIntToStr(c.value, buf.data(), c.size, c.radix), 0u);
    EXPECT_STREQ(buf.data(), c.expected) << c.value << " radix " << c.radix;
    EXPECT_TRUE(buf.GuardsIntact());
    // Nothing beyond the capacity is touched, even inside the larger backing buffer.
    for (uint32_t i = c.size; i < 33; ++i)
      EXPECT_EQ(static_cast<unsigned char>(buf.data()[i]), kGuard) << c.value << " byte " << i;
  }
}

TEST(SafeIntToStrTest, TooSmallBufferOrBadRadixGivesEmptyStringInsideTheBuffer) {
  const IntCase cases[] = {
      {12345, 5, 10, ""},  // five digits need six bytes
      {255, 2, 16, ""},   {0xFFFFFFFF, 32, 2, ""}, {7, 1, 10, ""}, {7, 5, 1, ""}, {7, 5, 0, ""},
  };
  for (const IntCase& c : cases) {
    Guarded<5> buf;
    SafeIntToStr(c.value, buf.data(), c.size < 5 ? c.size : 5, c.radix);
    EXPECT_EQ(buf.data()[0], '\0') << c.value << " size " << c.size << " radix " << c.radix;
    EXPECT_TRUE(buf.GuardsIntact()) << c.value << " size " << c.size << " radix " << c.radix;
  }
  // With the full 32-byte capacity declared and available, 32 binary digits still do not fit.
  Guarded<32> wide;
  SafeIntToStr(0xFFFFFFFF, wide.data(), 32, 2);
  EXPECT_EQ(wide.data()[0], '\0');
  EXPECT_TRUE(wide.GuardsIntact());
}

// ---- Memory ----

TEST(SafeMemTest, SetAndCopyStopAtTheCapacity) {
  Guarded<6> buf;
  SafeMemSet(buf.data(), 6, 0x5A, 100);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(static_cast<unsigned char>(buf.data()[i]), 0x5A);
  EXPECT_TRUE(buf.GuardsIntact());

  SafeMemSet(buf.data(), 6, 0x00, 2);
  EXPECT_EQ(buf.data()[1], 0);
  EXPECT_EQ(static_cast<unsigned char>(buf.data()[2]), 0x5A);

  const char src[] = "0123456789";
  SafeMemCopy(buf.data(), 6, src, 10);
  EXPECT_EQ(memcmp(buf.data(), "012345", 6), 0);
  EXPECT_TRUE(buf.GuardsIntact());

  SafeMemCopy(buf.data(), 6, "ab", 2);
  EXPECT_EQ(memcmp(buf.data(), "ab2345", 6), 0);
}

TEST(SafeMemTest, MoveHandlesOverlapInBothDirections) {
  char forward[] = "abcdefgh";
  SafeMemMove(forward + 2, 6, forward, 6);
  EXPECT_STREQ(forward, "ababcdef");

  char backward[] = "abcdefgh";
  SafeMemMove(backward, 8, backward + 2, 6);
  EXPECT_STREQ(backward, "cdefghgh");

  Guarded<4> buf;
  SafeMemMove(buf.data(), 4, "wxyz0123", 8);
  EXPECT_EQ(memcmp(buf.data(), "wxyz", 4), 0);
  EXPECT_TRUE(buf.GuardsIntact());
}

// ---- Upper-casing ----

TEST(StrUpperCp437Test, UpperCasesAsciiAndCp437Letters) {
  char text[] = "abc-xyz ABC 09 \x81\x82\x84\x86\x87\x91\x94\xA4 \x9A\x80\xE1";
  StrUpperCp437(text);
  EXPECT_STREQ(text, "ABC-XYZ ABC 09 \x9A\x90\x8E\x8F\x80\x92\x99\xA5 \x9A\x80\xE1");
}

TEST(StrUpperCp437Test, OnlyTheListedBytesChange) {
  const std::string lower("\x81\x82\x84\x86\x87\x91\x94\xA4");
  const std::string upper("\x9A\x90\x8E\x8F\x80\x92\x99\xA5");
  for (int c = 1; c < 256; ++c) {
    int expected = c;
    if (c >= 'a' && c <= 'z') expected = c - 'a' + 'A';
    size_t at = lower.find(static_cast<char>(c));
    if (at != std::string::npos) expected = static_cast<unsigned char>(upper[at]);
    char text[2] = {static_cast<char>(c), '\0'};
    StrUpperCp437(text);
    EXPECT_EQ(static_cast<unsigned char>(text[0]), expected) << c;
  }
}

// ---- Missing pointers and zero capacity ----

TEST(SafeHelpersTest, NullPointersAndZeroCapacityAreHarmless) {
  Guarded<4> buf;
  strcpy(buf.data(), "abc");
  EXPECT_EQ(SafeStrLen(nullptr), 0u);
  SafeStrCopy(nullptr, 4, "x");
  SafeStrCopy(buf.data(), 0, "x");
  SafeStrCopy(buf.data(), 4, nullptr);
  EXPECT_EQ(SafeStrCopyN(nullptr, 4, "x", 1), nullptr);
  SafeStrCopyN(buf.data(), 0, "x", 1);
  EXPECT_EQ(SafeStrAppend(nullptr, 4, "x"), nullptr);
  SafeStrAppend(buf.data(), 0, "x");
  SafeStrAppend(buf.data(), 4, nullptr);
  SafeStrAppendN(buf.data(), 0, "x", 1);
  SafeIntToStr(5, nullptr, 4, 10);
  SafeIntToStr(5, buf.data(), 0, 10);
  SafeMemSet(nullptr, 4, 0, 4);
  SafeMemSet(buf.data(), 0, 0, 4);
  SafeMemCopy(buf.data(), 4, nullptr, 4);
  SafeMemCopy(nullptr, 4, "xyz", 4);
  SafeMemMove(buf.data(), 0, "xyz", 4);
  SafeMemMove(buf.data(), 4, nullptr, 4);
  StrUpperCp437(nullptr);
  EXPECT_STREQ(buf.data(), "abc");
  EXPECT_TRUE(buf.GuardsIntact());

  EXPECT_EQ(SafeStrFindNth(nullptr, 5, 'a', 1, 0), kNotFound);
  EXPECT_EQ(SafeStrFindNth("abc", 0, 'a', 1, 0), kNotFound);
  // A missing text compares like the empty one, so it never matches a real prefix.
  EXPECT_EQ(SafeStrCompare(nullptr, nullptr), 0);
  EXPECT_EQ(SafeStrCompare(nullptr, ""), 0);
  EXPECT_EQ(SafeStrCompare(nullptr, "a"), -1);
  EXPECT_EQ(SafeStrCompareN("O2Micro", nullptr, 7), 1);
  EXPECT_EQ(SafeMemCompare(nullptr, nullptr, 4), 0);
  EXPECT_LT(SafeMemCompare(nullptr, "a", 1), 0);
  EXPECT_GT(SafeMemCompare("a", nullptr, 1), 0);
  EXPECT_EQ(SafeMemCompare(nullptr, "a", 0), 0);
}

}  // namespace
