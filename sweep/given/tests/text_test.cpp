#include "given/text.h"

#include <gtest/gtest.h>

namespace {

const std::string fffd = "\xEF\xBF\xBD";

TEST(Text, WhatAJobWroteIsMadeSafe) {
  struct Case {
    const char *what;
    std::string bytes;
    std::string safe;
  };
  const Case cases[] = {
      {"ASCII stays", "timed out", "timed out"},
      {"UTF-8 stays", "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80",
       "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80"},
      {"Latin-1",
       "\xE9"
       "chec",
       fffd + "chec"},
      {"a terminal escape", "\x1b[31mred", fffd + "[31mred"},
      {"a carriage return", "ok\rKO", "ok" + fffd + "KO"},
      {"an 8-bit escape (C1)",
       "\xC2\x9B"
       "2J",
       fffd + "2J"},
      {"DEL and NUL",
       std::string("a\x7f"
                   "b\0c",
                   5),
       "a" + fffd + "b" + fffd + "c"},
      {"overlong", "\xC0\xAF", fffd + fffd},
      {"a surrogate", "\xED\xA0\x80", fffd + fffd + fffd},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},
      {"cut short", "ab\xE6\x97", "ab" + fffd + fffd},
      {"not for XML", "\xEF\xBF\xBE", fffd},
      {"tabs become blanks, lines stay", "a\tb\nc", "a b\nc"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(sweep::safe_text(c.bytes, true), c.safe);
  }
  EXPECT_EQ(sweep::safe_text("a\nb", false), "a b");
  EXPECT_EQ(sweep::safe_text(std::string(10000, 'x'), true).size(), 4096U);
}

TEST(Text, AReasonIsOneShortLine) {
  EXPECT_EQ(sweep::one_line("first\nsecond"), "first");
  const std::string long_line(300, 'x');
  EXPECT_EQ(sweep::one_line(long_line), std::string(200, 'x'));
  // Cut at 200 code points, never inside one.
  std::string accents;
  for (int i = 0; i < 300; ++i) {
    accents += "\xC3\xA9";
  }
  const std::string cut = sweep::one_line(accents);
  EXPECT_EQ(cut.size(), 400U);
  EXPECT_EQ(sweep::safe_text(cut, false), cut);
}

} // namespace
