// Every entry of the width tables against the C library's CP932 converter and Unicode
// arithmetic, and every lookup against a plain search of the tables.
#include "convert/width_tables.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "test_support.h"

namespace lowtags {
namespace {

using testing::Sjis;

std::string Utf8(char32_t c) {  // U+0800..U+FFFF only
  return {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
          static_cast<char>(0x80 | (c & 0x3F))};
}

const std::string kPunctuation =
    std::string(kWidePeriod) + std::string(kWideComma) + std::string(kWideMinus);

TEST(WidthTablesTest, EveryEntryIsItsCharacter) {
  std::string narrow, wide, kana;
  for (const auto& [first, last] : {std::pair{'0', '9'}, {'A', 'Z'}, {'a', 'z'}}) {
    for (char c = first; c <= last; ++c) {
      narrow += c;
      wide += Sjis(Utf8(static_cast<char32_t>(c) + 0xFEE0));  // U+FF01.. are ASCII 0x21..
    }
  }
  EXPECT_EQ(narrow_alnum, narrow);
  EXPECT_EQ(wide_alnum, wide);
  for (char32_t c = 0xFF61; c <= 0xFF9F; ++c) kana += Sjis(Utf8(c));
  EXPECT_EQ(narrow_kana, kana);
  EXPECT_EQ(static_cast<unsigned char>(narrow_kana.front()), 0xA1);
  // Read against the half-width row ｡｢｣､･ｦｧ... one by one.
  EXPECT_EQ(
      wide_kana,
      Sjis("。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノ"
           "ハヒフヘホマミムメモヤユヨラリルレロワン゛゜"));
  EXPECT_EQ(narrow_voiced, Sjis("ｶﾞｷﾞｸﾞｹﾞｺﾞｻﾞｼﾞｽﾞｾﾞｿﾞﾀﾞﾁﾞﾂﾞﾃﾞﾄﾞﾊﾞﾊﾟﾋﾞﾋﾟﾌﾞﾌﾟﾍﾞﾍﾟﾎﾞﾎﾟｳﾞ"));
  EXPECT_EQ(wide_voiced, Sjis("ガギグゲゴザジズゼゾダヂヅデドバパビピブプベペボポヴ"));
  EXPECT_EQ(kPunctuation, Sjis("．，－"));
}

int SearchPairs(std::string_view table, unsigned char a, unsigned char b) {
  for (std::size_t i = 0; 2 * i < table.size(); ++i) {
    if (table.substr(2 * i, 2) == std::string{static_cast<char>(a), static_cast<char>(b)}) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

TEST(WidthTablesTest, LookupsAgreeWithTheTablesForEveryByteAndPair) {
  for (int a = 0; a < 256; ++a) {
    const auto x = static_cast<unsigned char>(a);
    const std::size_t kana = x >= 0xA1 && x <= 0xDF ? x - 0xA1u : 63;
    ASSERT_EQ(WideKana(x), kana < 63 ? wide_kana.substr(2 * kana, 2) : "") << a;
    for (int b = 0; b < 256; ++b) {
      const auto y = static_cast<unsigned char>(b);
      ASSERT_EQ(WideAlnumIndex(x, y), SearchPairs(wide_alnum, x, y)) << a << " " << b;
      ASSERT_EQ(VoicedIndex(x, y), SearchPairs(narrow_voiced, x, y)) << a << " " << b;
      const int punctuation = SearchPairs(kPunctuation, x, y);
      ASSERT_EQ(WidePunctuation(x, y), punctuation < 0 ? 0 : ".,-"[punctuation]) << a << " " << b;
    }
  }
  for (int i = -1; i <= 62; ++i) {
    const auto at = static_cast<std::size_t>(i);
    EXPECT_EQ(WideVoiced(i), i >= 0 && i < 26 ? wide_voiced.substr(2 * at, 2) : "") << i;
    EXPECT_EQ(NarrowAlnum(i), i >= 0 && i < 62 ? narrow_alnum[at] : '\0') << i;
  }
}

}  // namespace
}  // namespace lowtags
