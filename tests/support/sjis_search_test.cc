// The Shift_JIS searches and the backward block copy against plain definitions, on random bytes.
#include "support/sjis_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace lowtags {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// One character at a time: a lead byte takes the next byte unless that is NUL; NUL or the end
// ends the string.
std::vector<std::size_t> Starts(const std::string& s, unsigned char want) {
  std::vector<std::size_t> hits;
  for (std::size_t i = 0; i < s.size() && s[i] != '\0';) {
    const auto byte = static_cast<unsigned char>(s[i]);
    if (byte == want && want != 0) hits.push_back(i);
    const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    i += (lead && i + 1 < s.size() && s[i + 1] != '\0') ? 2 : 1;
  }
  return hits;
}

TEST(SjisSearchTest, SearchesAgreeWithACharacterWalk) {
  const std::string alphabet = {'a',    '>',    '"',    0x5C,   0x00,   '\x81', '\x83',
                                '\x9F', '\xE0', '\xFC', '\x80', '\xA1', '\xFD'};
  std::mt19937 rng(12345);
  for (int round = 0; round < 4000; ++round) {
    std::string s(rng() % 61 * (round % 10 == 0 ? 8 : 1), ' ');
    for (char& ch : s) ch = alphabet[rng() % alphabet.size()];
    for (const char c : alphabet) {
      const std::vector<std::size_t> hits = Starts(s, static_cast<unsigned char>(c));
      // Only the low byte of the value counts: a char, a negative int, or one past 255.
      for (const int value : {int{static_cast<unsigned char>(c)}, int{c}, c + 0x100}) {
        ASSERT_EQ(Strchr(s, value), hits.empty() ? npos : hits.front()) << round << " " << value;
        ASSERT_EQ(Strrchr(s, value), hits.empty() ? npos : hits.back()) << round << " " << value;
      }
    }
  }
}

TEST(SjisSearchTest, BakmovCopiesLastByteFirstInsideTheBufferOnly) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20000; ++round) {
    std::string buffer(rng() % 12, ' ');
    for (char& ch : buffer) ch = static_cast<char>('a' + rng() % 26);
    const std::size_t huge[] = {npos, npos - 1, 5, 0};
    std::size_t from = rng() % 13;
    std::size_t to = round % 50 == 0 ? huge[round / 50 % 4] : rng() % 13;
    if (round % 70 == 0) std::swap(from, to);
    const int count = static_cast<int>(rng() % 15) - 2;
    std::string expected = buffer;
    const auto n = static_cast<std::size_t>(count);
    if (count > 0 && from <= buffer.size() && to <= buffer.size() && n <= buffer.size() - from &&
        n <= buffer.size() - to) {
      for (std::size_t i = n; i-- > 0;) expected[to + i] = expected[from + i];
    }
    EXPECT_EQ(bakmov(buffer, from, to, count), 0);
    ASSERT_EQ(buffer, expected) << from << " " << to << " " << count;
  }
}

}  // namespace
}  // namespace lowtags
