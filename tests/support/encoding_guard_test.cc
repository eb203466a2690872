// The guard against text that is not Shift_JIS: each rule at its edges, fed whole and in blocks,
// and a site of real pages, kept and converted.
#include "support/encoding_guard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "test_support.h"

namespace lowtags {
namespace {

using namespace std::string_literals;
using testing::Recode;
using testing::Sjis;

struct GuardCase {
  const char* name;
  std::string bytes;
  NotSjis expected;
};

void PrintTo(const GuardCase& c, std::ostream* os) { *os << c.name; }

class GuardTest : public ::testing::TestWithParam<GuardCase> {};

TEST_P(GuardTest, JudgesTheSameWholeAndInBlocks) {
  const GuardCase& c = GetParam();
  EXPECT_EQ(CheckNotSjis(c.bytes), c.expected);
  for (const std::size_t block : {std::size_t{1}, std::size_t{3}, std::size_t{9}}) {
    EncodingGuard guard;
    for (std::size_t at = 0; at < c.bytes.size(); at += block) {
      guard.Feed(std::string_view(c.bytes).substr(at, block));
    }
    EXPECT_EQ(guard.Verdict(), c.expected) << "blocks of " << block;
  }
}

// Long enough for the eight-byte steps, with the telling bytes before, inside and after them.
const std::string kAscii = "<HTML><BODY>plain text of a page</BODY></HTML>\r\n";
const std::string kEuc8 = "\xBA\xA3\xC6\xFC\xA4\xCF\xC0\xB2"s;  // 今日は晴 in EUC-JP
const std::string kEuc7 = "\xBA\xA3\xC6\xFC\x8F\xB0\xA1"s;      // 今日 and a JIS X 0212 triple

INSTANTIATE_TEST_SUITE_P(
    Rules, GuardTest,
    ::testing::Values(
        GuardCase{"empty", "", NotSjis::kNone},
        GuardCase{"sjis_page", kAscii + Sjis("今日は晴れでした。") + kAscii, NotSjis::kNone},
        GuardCase{"nul_first", "\0"s + kAscii, NotSjis::kNul},
        GuardCase{"nul_after_sjis", Sjis("日本") + kAscii + "\0"s, NotSjis::kNul},
        GuardCase{"eof_byte_after_sjis", Sjis("日本") + kAscii + "\x1A\r\n", NotSjis::kNone},
        GuardCase{"text_after_sjis_eof_byte", Sjis("日本") + "\x1A\nx", NotSjis::kAfterEof},
        GuardCase{"nul_last", kAscii + "\0"s, NotSjis::kNul},
        GuardCase{"nul_before_bom_rule", "\xEF\xBB\xBF"s + kAscii + "\0"s, NotSjis::kNul},
        GuardCase{"eof_byte_at_end", kAscii + "\x1A", NotSjis::kNone},
        GuardCase{"eof_byte_then_crlf", kAscii + "\x1A\r\n", NotSjis::kNone},
        GuardCase{"eof_bytes_repeated", kAscii + "\x1A\x1A\n\x1A", NotSjis::kNone},
        GuardCase{"eof_byte_then_text", kAscii + "\x1Amore", NotSjis::kAfterEof},
        GuardCase{"eof_byte_crlf_then_text", kAscii + "\x1A\r\n" + kAscii, NotSjis::kAfterEof},
        GuardCase{"eof_byte_before_utf8", "\x1A"s + "日本", NotSjis::kAfterEof},
        GuardCase{"bom_on_ascii", "\xEF\xBB\xBF" + kAscii, NotSjis::kUtf8},
        // The mark alone decides: what follows it need not be UTF-8.
        GuardCase{"bom_before_sjis", "\xEF\xBB\xBF" + kAscii + "\x82\xA0", NotSjis::kUtf8},
        GuardCase{"bom_cut_short", "\xEF\xBB" + kAscii, NotSjis::kNone},
        GuardCase{"utf8_two_byte_only", kAscii + "caf\xC3\xA9 na\xC3\xAFve" + kAscii,
                  NotSjis::kNone},
        GuardCase{"utf8_three_byte", kAscii + "今日は晴れでした。" + kAscii, NotSjis::kUtf8},
        GuardCase{"utf8_four_byte", kAscii + "\xF0\x9F\x98\x80", NotSjis::kUtf8},
        GuardCase{"utf8_cut_at_end", kAscii + "日\xE6\x9C", NotSjis::kNone},
        GuardCase{"utf8_surrogate", kAscii + "日\xED\xA0\x80", NotSjis::kNone},
        GuardCase{"utf8_overlong", kAscii + "日\xE0\x80\xAF", NotSjis::kNone},
        GuardCase{"euc_8_high_bytes", kAscii + kEuc8 + kAscii, NotSjis::kEucJp},
        GuardCase{"euc_7_high_bytes", kAscii + kEuc7 + kAscii, NotSjis::kNone},
        GuardCase{"euc_kana_pair", kEuc7 + "\x8E\xB1", NotSjis::kEucJp},
        GuardCase{"euc_without_e0", "\xA4\xA2\xA4\xA4\xA4\xA6\xA4\xA8", NotSjis::kNone},
        GuardCase{"euc_cut_at_end", kEuc8 + "\xA4", NotSjis::kNone},
        GuardCase{"sjis_half_width_kana_only", kAscii + Sjis("ｱｲｳｴｵｶｷｸｹｺ") + kAscii,
                  NotSjis::kNone}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(GuardWordTest, NamesEachRule) {
  EXPECT_EQ(NotSjisWord(NotSjis::kNul), "NUL bytes");
  EXPECT_EQ(NotSjisWord(NotSjis::kAfterEof), "data after 0x1A");
  EXPECT_EQ(NotSjisWord(NotSjis::kUtf8), "UTF-8");
  EXPECT_EQ(NotSjisWord(NotSjis::kEucJp), "EUC-JP");
  EXPECT_EQ(NotSjisWord(NotSjis::kNone), "");
}

// EUC-JP lacks a few of the characters code page 932 adds; Microsoft's variant has them all.
std::string ToEucJp(const std::string& page) {
  try {
    return Recode(page, "CP932", "EUC-JP");
  } catch (const std::runtime_error&) {
    return Recode(page, "CP932", "EUC-JP-MS");
  }
}

TEST(GuardCorpusTest, KeepsEveryPageAndRefusesEveryConversion) {
  const std::filesystem::path corpus = LOWTAGS_SOURCE_DIR "/../shared/corpus";
  if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no " << corpus;
  int pages = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (entry.path().extension() != ".htm") continue;
    ++pages;
    const std::string page = testing::ReadFile(entry.path().string());
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(CheckNotSjis(page), NotSjis::kNone) << name;
    EXPECT_EQ(CheckNotSjis(Recode(page, "CP932", "UTF-8")), NotSjis::kUtf8) << name;
    EXPECT_EQ(CheckNotSjis(ToEucJp(page)), NotSjis::kEucJp) << name;
    EXPECT_NE(CheckNotSjis(Recode(page, "CP932", "UTF-16")), NotSjis::kNone) << name;
  }
  EXPECT_GT(pages, 0);
}

}  // namespace
}  // namespace lowtags
