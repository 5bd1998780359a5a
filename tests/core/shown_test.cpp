#include "app/shown.h"

#include <gtest/gtest.h>

// UTF-8 spelt out: the Windows build turns literals into code page 932.

// Every byte that is not part of a valid UTF-8 character, and every
// control character, comes out escaped; valid text stays as it is.
TEST(Shown, EscapesControlsAndBytesThatAreNotUtf8) {
  const struct {
    std::string in, out;
    bool utf8;
  } cases[] = {
      {"\xe7\x95\xaa\xe5\x8f\xb7 a.img", "\xe7\x95\xaa\xe5\x8f\xb7 a.img", true},
      {"\x1b[31m\n\t\r", "\\e[31m\\n\\t\\r", true},
      {"a\\b", "a\\\\b", true},
      {std::string("\x00\x07\x7f", 3), "\\x00\\x07\\x7f", true},
      {"\xc2\x85 \xc2\xa0", "\\xc2\\x85 \xc2\xa0", true},  // C1 NEL escaped, NBSP kept
      {"\xff\xc3", "\\xff\\xc3", false},                   // invalid, truncated
      {"\xc0\xaf", "\\xc0\\xaf", false},                   // overlong '/'
      {"\xed\xa0\x80", "\\xed\\xa0\\x80", false},          // surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80", false}, // past U+10FFFF
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80", true},      // 4-byte character
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Shown(c.in), c.out);
    EXPECT_EQ(IsUtf8(c.in), c.utf8) << c.out;
  }
}
