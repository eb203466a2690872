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

// The characters U+first..U+last in code page 932, by the C library.
std::string Cp932(char32_t first, char32_t last) {
  std::u32string text;
  for (char32_t c = first; c <= last; ++c) text += c;
  return testing::Recode({reinterpret_cast<const char*>(text.data()), 4 * text.size()}, "UTF-32LE",
                         "CP932");
}

const std::string kPunctuation =
    std::string(kWidePeriod) + std::string(kWideComma) + std::string(kWideMinus);

// The index of the pair a b among the two-byte entries of the table, or -1.
int SearchPairs(std::string_view table, int a, int b) {
  const std::string pair = {static_cast<char>(a), static_cast<char>(b)};
  for (std::size_t i = 0; i < table.size(); i += 2) {
    if (table.substr(i, 2) == pair) return static_cast<int>(i / 2);
  }
  return -1;
}

TEST(WidthTablesTest, EntriesAreTheirCharactersAndLookupsAgree) {
  EXPECT_EQ(narrow_alnum, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  // U+FF10.. are the full-width forms of ASCII 0x30..
  EXPECT_EQ(wide_alnum, Cp932(0xFF10, 0xFF19) + Cp932(0xFF21, 0xFF3A) + Cp932(0xFF41, 0xFF5A));
  EXPECT_EQ(narrow_kana, Cp932(0xFF61, 0xFF9F));
  // Read against the half-width row ｡｢｣､･ｦｧ... one by one.
  EXPECT_EQ(
      wide_kana,
      Sjis("。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノ"
           "ハヒフヘホマミムメモヤユヨラリルレロワン゛゜"));
  EXPECT_EQ(narrow_voiced, Sjis("ｶﾞｷﾞｸﾞｹﾞｺﾞｻﾞｼﾞｽﾞｾﾞｿﾞﾀﾞﾁﾞﾂﾞﾃﾞﾄﾞﾊﾞﾊﾟﾋﾞﾋﾟﾌﾞﾌﾟﾍﾞﾍﾟﾎﾞﾎﾟｳﾞ"));
  EXPECT_EQ(wide_voiced, Sjis("ガギグゲゴザジズゼゾダヂヅデドバパビピブプベペボポヴ"));
  EXPECT_EQ(kPunctuation, Sjis("．，－"));
  // Every byte and pair looked up as a plain search of the tables finds it.
  for (int a = 0; a < 256; ++a) {
    const auto x = static_cast<unsigned char>(a);
    const std::size_t kana = x >= 0xA1 && x <= 0xDF ? x - 0xA1u : 63;
    ASSERT_EQ(WideKana(x), kana < 63 ? wide_kana.substr(2 * kana, 2) : "") << a;
    for (int b = 0; b < 256; ++b) {
      const auto y = static_cast<unsigned char>(b);
      ASSERT_EQ(WideAlnumIndex(x, y), SearchPairs(wide_alnum, a, b)) << a << " " << b;
      ASSERT_EQ(VoicedIndex(x, y), SearchPairs(narrow_voiced, a, b)) << a << " " << b;
      const int punctuation = SearchPairs(kPunctuation, a, b);
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
