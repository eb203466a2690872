// The width tables are checked against the system's own CP932 converter and against Unicode
// arithmetic, not against a second copy of the same bytes.
#include "convert/width_tables.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace lowtags {
namespace {

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) {
      iconv_close(cd_);
    }
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  // iconv_open reports failure as (iconv_t)-1.
  bool ok() const {
    return cd_ != reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)
  }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// All of `in` converted with iconv(3); an unknown encoding, an invalid or incomplete sequence,
// or a lossy conversion fails the test.
std::string Iconv(const char* to, const char* from, std::string_view in) {
  const Converter cv(to, from);
  if (!cv.ok()) {
    ADD_FAILURE() << "iconv cannot convert " << from << " to " << to;
    return {};
  }
  std::string src(in);
  std::string out(4 * in.size() + 16, '\0');
  char* ip = src.data();
  std::size_t il = src.size();
  char* op = out.data();
  std::size_t ol = out.size();
  const std::size_t lossy = iconv(cv.get(), &ip, &il, &op, &ol);
  EXPECT_EQ(lossy, 0u) << "conversion from " << from << " failed or was lossy";
  EXPECT_EQ(il, 0u) << "input left over";
  out.resize(out.size() - ol);
  return out;
}

std::u32string CodePoints(const char* from, std::string_view in) {
  const std::string be = Iconv("UTF-32BE", from, in);
  std::u32string cps;
  for (std::size_t i = 0; i + 3 < be.size(); i += 4) {
    char32_t c = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      c = (c << 8) | static_cast<unsigned char>(be[i + k]);
    }
    cps.push_back(c);
  }
  return cps;
}

std::u32string FromCp932(std::string_view sjis) { return CodePoints("CP932", sjis); }

std::string ToCp932(std::string_view utf8) { return Iconv("CP932", "UTF-8", utf8); }

std::string_view Entry(std::string_view table, std::size_t width, std::size_t i) {
  return table.substr(width * i, width);
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    s += kDigits[b >> 4];
    s += kDigits[b & 0xF];
    s += ' ';
  }
  return s;
}

// Written as text so that it can be read against the half-width row ｡｢｣､･ｦｧ... one by one.
constexpr std::string_view kWideKanaText =
    "。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノ"
    "ハヒフヘホマミムメモヤユヨラリルレロワン゛゜";
constexpr std::string_view kNarrowVoicedText =
    "ｶﾞｷﾞｸﾞｹﾞｺﾞｻﾞｼﾞｽﾞｾﾞｿﾞﾀﾞﾁﾞﾂﾞﾃﾞﾄﾞﾊﾞﾊﾟﾋﾞﾋﾟﾌﾞﾌﾟﾍﾞﾍﾟﾎﾞﾎﾟｳﾞ";
constexpr std::string_view kWideVoicedText = "ガギグゲゴザジズゼゾダヂヅデドバパビピブプベペボポヴ";

constexpr char32_t kFullWidthOffset = 0xFEE0;  // U+FF01..U+FF5E are ASCII 0x21..0x7E plus this
constexpr char32_t kHalfWidthKanaFirst = 0xFF61;
constexpr char32_t kHalfVoicedMark = 0xFF9E;
constexpr char32_t kHalfSemiVoicedMark = 0xFF9F;
constexpr char32_t kKatakanaU = 0x30A6;   // ウ
constexpr char32_t kKatakanaVu = 0x30F4;  // ヴ

TEST(WidthTablesTest, CP932IsKnownToIconv) {
  EXPECT_TRUE(Converter("UTF-32BE", "CP932").ok());
  EXPECT_TRUE(Converter("CP932", "UTF-8").ok());
}

char32_t ExpectedWideAlnum(std::size_t i) {
  if (i < 10) {
    return U'\uFF10' + static_cast<char32_t>(i);
  }
  if (i < 36) {
    return U'\uFF21' + static_cast<char32_t>(i - 10);
  }
  return U'\uFF41' + static_cast<char32_t>(i - 36);
}

TEST(WidthTablesTest, WideAlnumIsFullWidthDigitsThenUpperThenLower) {
  ASSERT_EQ(wide_alnum.size(), 2u * 62);
  for (std::size_t i = 0; i < 62; ++i) {
    EXPECT_EQ(FromCp932(Entry(wide_alnum, 2, i)), std::u32string(1, ExpectedWideAlnum(i)))
        << "entry " << i << ": " << Hex(Entry(wide_alnum, 2, i));
  }
}

TEST(WidthTablesTest, NarrowAlnumIsTheAsciiFormOfEachWideEntry) {
  ASSERT_EQ(narrow_alnum.size(), 62u);
  for (std::size_t i = 0; i < 62; ++i) {
    const char32_t ascii = ExpectedWideAlnum(i) - kFullWidthOffset;
    EXPECT_EQ(static_cast<char32_t>(static_cast<unsigned char>(narrow_alnum[i])), ascii)
        << "entry " << i;
  }
}

TEST(WidthTablesTest, NarrowKanaIsEveryHalfWidthKatakanaInOrder) {
  ASSERT_EQ(narrow_kana.size(), 63u);
  for (std::size_t i = 0; i < 63; ++i) {
    EXPECT_EQ(static_cast<unsigned char>(narrow_kana[i]), 0xA1 + i) << "entry " << i;
    EXPECT_EQ(FromCp932(Entry(narrow_kana, 1, i)),
              std::u32string(1, kHalfWidthKanaFirst + static_cast<char32_t>(i)))
        << "entry " << i;
  }
}

TEST(WidthTablesTest, WideKanaMatchesTheFullWidthKatakanaText) {
  ASSERT_EQ(wide_kana.size(), 2u * 63);
  EXPECT_EQ(Hex(ToCp932(kWideKanaText)), Hex(wide_kana));
  const std::u32string expected = CodePoints("UTF-8", kWideKanaText);
  ASSERT_EQ(expected.size(), 63u);
  for (std::size_t i = 0; i < 63; ++i) {
    EXPECT_EQ(FromCp932(Entry(wide_kana, 2, i)), std::u32string(1, expected[i]))
        << "entry " << i << ": " << Hex(Entry(wide_kana, 2, i));
  }
}

TEST(WidthTablesTest, NarrowVoicedIsKanaFollowedByAVoicingMark) {
  ASSERT_EQ(narrow_voiced.size(), 2u * 26);
  EXPECT_EQ(Hex(ToCp932(kNarrowVoicedText)), Hex(narrow_voiced));
  for (std::size_t i = 0; i < 26; ++i) {
    const std::u32string cps = FromCp932(Entry(narrow_voiced, 2, i));
    ASSERT_EQ(cps.size(), 2u) << "entry " << i;
    EXPECT_GE(cps[0], U'\uFF66') << "entry " << i;
    EXPECT_LE(cps[0], U'\uFF9D') << "entry " << i;
    EXPECT_TRUE(cps[1] == kHalfVoicedMark || cps[1] == kHalfSemiVoicedMark) << "entry " << i;
  }
}

// In the katakana block a voiced kana follows its plain form, and the semi-voiced one follows
// that; ヴ is the exception.
char32_t VoicedFormOf(char32_t plain, char32_t mark) {
  if (plain == kKatakanaU) {
    return kKatakanaVu;
  }
  return plain + (mark == kHalfVoicedMark ? 1 : 2);
}

TEST(WidthTablesTest, WideVoicedIsTheVoicedFormOfEachPair) {
  ASSERT_EQ(wide_voiced.size(), 2u * 26);
  EXPECT_EQ(Hex(ToCp932(kWideVoicedText)), Hex(wide_voiced));
  const std::u32string wide_plain = CodePoints("UTF-8", kWideKanaText);
  ASSERT_EQ(wide_plain.size(), 63u);
  for (std::size_t i = 0; i < 26; ++i) {
    const std::u32string pair = FromCp932(Entry(narrow_voiced, 2, i));
    ASSERT_EQ(pair.size(), 2u);
    const char32_t plain = wide_plain[pair[0] - kHalfWidthKanaFirst];
    EXPECT_EQ(FromCp932(Entry(wide_voiced, 2, i)), std::u32string(1, VoicedFormOf(plain, pair[1])))
        << "entry " << i << ": " << Hex(Entry(wide_voiced, 2, i));
  }
}

TEST(WidthTablesTest, PunctuationConstantsAreFullWidthPeriodCommaMinus) {
  EXPECT_EQ(FromCp932(kWidePeriod), U"\uFF0E");
  EXPECT_EQ(FromCp932(kWideComma), U"\uFF0C");
  EXPECT_EQ(FromCp932(kWideMinus), U"\uFF0D");
}

// The lookups are checked over every possible byte pair against a plain search of the tables,
// which only counts entries at entry boundaries.
int SearchPairs(std::string_view table, unsigned char a, unsigned char b) {
  for (std::size_t i = 0; 2 * i < table.size(); ++i) {
    if (static_cast<unsigned char>(table[2 * i]) == a &&
        static_cast<unsigned char>(table[2 * i + 1]) == b) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

TEST(WidthTablesTest, WideAlnumIndexAgreesWithTheTableForEveryPair) {
  for (int lead = 0; lead < 256; ++lead) {
    for (int trail = 0; trail < 256; ++trail) {
      const auto l = static_cast<unsigned char>(lead);
      const auto t = static_cast<unsigned char>(trail);
      ASSERT_EQ(WideAlnumIndex(l, t), SearchPairs(wide_alnum, l, t)) << lead << " " << trail;
    }
  }
}

TEST(WidthTablesTest, VoicedIndexAgreesWithTheTableForEveryPair) {
  for (int kana = 0; kana < 256; ++kana) {
    for (int mark = 0; mark < 256; ++mark) {
      const auto k = static_cast<unsigned char>(kana);
      const auto m = static_cast<unsigned char>(mark);
      ASSERT_EQ(VoicedIndex(k, m), SearchPairs(narrow_voiced, k, m)) << kana << " " << mark;
    }
  }
}

TEST(WidthTablesTest, WideKanaGivesTheWideEntryForEachKanaByteOnly) {
  for (int b = 0; b < 256; ++b) {
    const auto c = static_cast<unsigned char>(b);
    const std::string_view expected =
        (b >= 0xA1 && b <= 0xDF) ? Entry(wide_kana, 2, static_cast<std::size_t>(b - 0xA1)) : "";
    EXPECT_EQ(Hex(WideKana(c)), Hex(expected)) << "byte " << b;
  }
}

TEST(WidthTablesTest, WideVoicedAndNarrowAlnumGiveTheirEntriesAndNothingOutside) {
  for (int i = 0; i < 26; ++i) {
    EXPECT_EQ(WideVoiced(i), Entry(wide_voiced, 2, static_cast<std::size_t>(i))) << i;
  }
  for (int i = 0; i < 62; ++i) {
    EXPECT_EQ(NarrowAlnum(i), narrow_alnum[static_cast<std::size_t>(i)]) << i;
  }
  EXPECT_EQ(WideVoiced(-1), "");
  EXPECT_EQ(WideVoiced(26), "");
  EXPECT_EQ(NarrowAlnum(-1), '\0');
  EXPECT_EQ(NarrowAlnum(62), '\0');
}

TEST(WidthTablesTest, WidePunctuationKnowsOnlyPeriodCommaAndMinus) {
  for (int lead = 0; lead < 256; ++lead) {
    for (int trail = 0; trail < 256; ++trail) {
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      int expected = 0;
      if (pair == kWidePeriod || pair == kWideComma || pair == kWideMinus) {
        expected = static_cast<int>(FromCp932(pair).at(0) - kFullWidthOffset);
      }
      ASSERT_EQ(
          WidePunctuation(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)),
          expected)
          << lead << " " << trail;
    }
  }
  EXPECT_EQ(WidePunctuation(0x81, 0x44), '.');
  EXPECT_EQ(WidePunctuation(0x81, 0x43), ',');
  EXPECT_EQ(WidePunctuation(0x81, 0x7C), '-');
  EXPECT_EQ(WidePunctuation(0x81, 0x5D), 0);  // ‐, the hyphen, is not a minus
}

}  // namespace
}  // namespace lowtags
