#include "support/sjis_search.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

namespace lowtags {
namespace {

using namespace std::string_literals;
constexpr std::size_t npos = std::string_view::npos;

struct SearchCase {
  const char* name;
  std::string s;
  int c;
  std::size_t first;
  std::size_t last;
};

class StrchrTable : public ::testing::TestWithParam<SearchCase> {};

TEST_P(StrchrTable, FirstAndLast) {
  const SearchCase& t = GetParam();
  EXPECT_EQ(Strchr(t.s, t.c), t.first);
  EXPECT_EQ(Strrchr(t.s, t.c), t.last);
}

INSTANTIATE_TEST_SUITE_P(
    Strrchr, StrchrTable,
    ::testing::Values(SearchCase{"EmptyString", "", '>', npos, npos},
                      SearchCase{"SearchForNul", "ab\0c"s, 0, npos, npos},
                      SearchCase{"SearchForNulByLowByte", "abc", 0x100, npos, npos},
                      SearchCase{"OnlyLowByteCounts", "a>b>", 0x13E, 1, 3},
                      SearchCase{"NegativeValueLowByte", "x\x83\x40", -0x7D, 1, 1},
                      SearchCase{"SlashesOfPath", "a/b/c", '/', 1, 3},
                      SearchCase{"TrailByteIsNotBackslash", "\x83\x5C", 0x5C, npos, npos},
                      SearchCase{"BackslashAfterPair", "\x83\x5C\\x", 0x5C, 2, 2},
                      SearchCase{"LeadByteIsFound", "a\x83\x5C", 0x83, 1, 1},
                      SearchCase{"LeadSwallowsGreater", "a\x83>b>", '>', 4, 4},
                      SearchCase{"LeadSwallowsOnlyGreater", "a\x83>", '>', npos, npos},
                      SearchCase{"LeadSwallowsQuote", "=\xE0\"x\"", '"', 4, 4},
                      SearchCase{"LeadBeforeNulStandsAlone", "ab\x83", 0x83, 2, 2},
                      SearchCase{"LeadBeforeEmbeddedNul", "ab\x83\0>"s, 0x83, 2, 2},
                      SearchCase{"NulEndsTheString", "a\0/"s, '/', npos, npos},
                      SearchCase{"EvenLeadRun", "\x83\x83>", '>', 2, 2},
                      SearchCase{"OddLeadRun", "\x83\x83\x83>", '>', npos, npos},
                      SearchCase{"LeadAsSecondByte", "\x83\x83\x83\x83", 0x83, 0, 2},
                      SearchCase{"KatakanaIsNotLead", "\xB1>", '>', 1, 1},
                      SearchCase{"LastOfThreeLeads", "\x83\x40\x83\x41\x83\x42", 0x83, 0, 4}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Strchr, AsciiMatchesStandardSearch) {
  const std::vector<std::string> texts = {"", "a", "<A HREF=\"x/y/z.htm\">", "\\\\ //", "abcabc"};
  for (const std::string& s : texts) {
    for (int c = 1; c < 128; ++c) {
      const char ch = static_cast<char>(c);
      EXPECT_EQ(Strchr(s, c), s.find(ch)) << s << " " << c;
      EXPECT_EQ(Strrchr(s, c), s.rfind(ch)) << s << " " << c;
    }
  }
}

TEST(Strchr, FarHitAfterManyTrailBytes) {
  std::string s;
  for (int i = 0; i < 10000; ++i) {
    s += "\x83\x5C";
  }
  EXPECT_EQ(Strchr(s, 0x5C), npos);
  s += "ab\\";
  EXPECT_EQ(Strchr(s, 0x5C), 20002u);
  EXPECT_EQ(Strrchr(s, 0x83), 19998u);
}

// The walk as the routines are meant to behave, one character at a time.
std::vector<std::size_t> ReferenceStarts(const std::string& s, int c) {
  std::vector<std::size_t> hits;
  const auto want = static_cast<unsigned char>(c & 0xFF);
  std::size_t i = 0;
  while (i < s.size() && s[i] != '\0') {
    const auto byte = static_cast<unsigned char>(s[i]);
    if (byte == want) {
      hits.push_back(i);
    }
    const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    i += (lead && i + 1 < s.size() && s[i + 1] != '\0') ? 2 : 1;
  }
  return hits;
}

TEST(Strchr, AgreesWithCharacterWalkOnRandomStrings) {
  const std::array<unsigned char, 14> alphabet = {'a',  '>',  '"',  '/',  0x5C, 0x00, 0x81,
                                                  0x83, 0x9F, 0xE0, 0xFC, 0x80, 0xA1, 0xFD};
  std::mt19937 rng(12345);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<std::size_t> length(0, 60);
  for (int round = 0; round < 4000; ++round) {
    std::string s(round % 10 == 0 ? length(rng) * 8 : length(rng), ' ');
    for (char& ch : s) {
      ch = static_cast<char>(alphabet[pick(rng)]);
    }
    for (const unsigned char c : alphabet) {
      const std::vector<std::size_t> hits = ReferenceStarts(s, c);
      const std::size_t first = hits.empty() ? npos : hits.front();
      const std::size_t last = hits.empty() ? npos : hits.back();
      ASSERT_EQ(Strchr(s, c), first) << "round " << round << " byte " << int{c};
      ASSERT_EQ(Strrchr(s, c), last) << "round " << round << " byte " << int{c};
    }
  }
}

TEST(Bakmov, CountZeroCopiesNothing) {
  std::string buf = "abcdef";
  EXPECT_EQ(bakmov(buf, 0, 3, 0), 0);
  EXPECT_EQ(buf, "abcdef");
}

TEST(Bakmov, OpensAGapOverItself) {
  std::string buf = "xab\0-"s;
  EXPECT_EQ(bakmov(buf, 1, 2, 3), 0);
  EXPECT_EQ(buf, "xaab\0"s);
}

TEST(Bakmov, MovesUpByTwo) {
  std::string buf = "0123456789";
  bakmov(buf, 2, 4, 5);
  EXPECT_EQ(buf, "0123234569");
}

TEST(Bakmov, DisjointCopy) {
  std::string buf = "abc---";
  bakmov(buf, 0, 3, 3);
  EXPECT_EQ(buf, "abcabc");
}

TEST(Bakmov, CopiesLastByteFirst) {
  // Moving down over itself shows the order: the last byte spreads over the block.
  std::string buf = "abcd";
  bakmov(buf, 1, 0, 3);
  EXPECT_EQ(buf, "dddd");
}

struct RefusedMove {
  const char* name;
  std::size_t from;
  std::size_t to;
  int count;
};

class BakmovRefused : public ::testing::TestWithParam<RefusedMove> {};

TEST_P(BakmovRefused, CopiesNothing) {
  const RefusedMove& m = GetParam();
  std::string buf = "abcdefgh";
  EXPECT_EQ(bakmov(buf, m.from, m.to, m.count), 0);
  EXPECT_EQ(buf, "abcdefgh");
}

INSTANTIATE_TEST_SUITE_P(Bakmov, BakmovRefused,
                         ::testing::Values(RefusedMove{"Negative", 0, 1, -1},
                                           RefusedMove{"DestinationPastEnd", 0, 6, 3},
                                           RefusedMove{"SourcePastEnd", 6, 0, 3},
                                           RefusedMove{"HugeDestination", 0, npos, 1},
                                           RefusedMove{"HugeSource", npos - 1, 0, 2},
                                           RefusedMove{"LongerThanBuffer", 0, 0, 9}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Bakmov, FillsExactlyToTheEnd) {
  std::string buf = "abcdefgh";
  bakmov(buf, 0, 5, 3);
  EXPECT_EQ(buf, "abcdeabc");
}

}  // namespace
}  // namespace lowtags
