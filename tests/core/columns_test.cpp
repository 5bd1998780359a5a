#include "app/columns.h"

#include <gtest/gtest.h>

// UTF-8 spelt out: the Windows build turns literals into code page 932.

TEST(Columns, WidthsCountWideCharactersTwiceAndHalfWidthKanaOnce) {
  EXPECT_EQ(DisplayWidth("abc"), 3u);
  EXPECT_EQ(DisplayWidth("\xe7\x95\xaa\xe5\x8f\xb7" /* 番号 */), 4u);
  EXPECT_EQ(
      DisplayWidth(
          "\xef\xbe\x8c\xef\xbd\xab\xef\xbd\xb0\xef\xbe\x8f\xef\xbd\xaf\xef\xbe\x84" /* ﾌｫｰﾏｯﾄ */),
      6u);
  EXPECT_EQ(DisplayWidth("\xef\xbc\xae\xef\xbc\xb4" /* ＮＴ */), 4u);
  EXPECT_EQ(DisplayWidth("\xff"), 1u);
  EXPECT_EQ(Columns({{"\xe7\x95\xaa\xe5\x8f\xb7" /* 番号 */, "x"}, {"1", "y"}}),
            "\xe7\x95\xaa\xe5\x8f\xb7  x\n1     y\n");
}

TEST(Columns, SizesAsLsblkShowsThem) {
  EXPECT_EQ(HumanSize(0), "0B");
  EXPECT_EQ(HumanSize(1023), "1023B");
  EXPECT_EQ(HumanSize(1024), "1K");
  EXPECT_EQ(HumanSize(1536), "1.5K");
  EXPECT_EQ(HumanSize(64ull << 20), "64M");
  EXPECT_EQ(HumanSize(67055616), "63.9M");
  EXPECT_EQ(HumanSize((2ull << 30) - 1), "2G");
  EXPECT_EQ(HumanSize(256ull << 30), "256G");
}
