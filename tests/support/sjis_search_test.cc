// The Shift_JIS searches, the character boundary test and the backward block copy against a plain
// walk by characters, on random strings made of the bytes that matter to Shift_JIS.
#include "support/sjis_search.h"

#include <gtest/gtest.h>

#include <random>
#include <span>
#include <string_view>
#include <vector>

#include "support/sjis.h"

namespace lowtags {
namespace {

TEST(SjisSearchTest, AgreesWithAWalkByCharacters) {
  const std::string_view alphabet("a>\"\\\0\x81\x83\x9F\xE0\xFC\x80\xA1\xFD", 13);
  std::mt19937 rng(12345);
  for (int round = 0; round < 20000; ++round) {
    // Exactly the string's length on the heap: a read or copy past either end is caught.
    std::vector<char> text(rng() % 61 * (round % 10 == 0 ? 8 : 1));
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    const std::string_view s(text.data(), text.size());
    // Only the low byte of the searched value counts: a char, a negative int, or one past 255.
    const int c =
        (alphabet[rng() % alphabet.size()] & 0xFF) + 256 * static_cast<int>(rng() % 3) - 256;

    // A lead byte takes the next byte unless that is NUL; NUL or the end ends the string.
    std::size_t first = std::string_view::npos, last = first;
    std::vector<bool> starts(s.size() + 1, false);
    for (std::size_t i = 0; i < s.size() && s[i] != '\0'; i += CharLength(s, i)) {
      starts[i] = true;
      const auto b = static_cast<unsigned char>(s[i]);
      const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
      ASSERT_EQ(CharLength(s, i), lead && i + 1 < s.size() && s[i + 1] != '\0' ? 2u : 1u) << round;
      if (b != (c & 0xFF)) continue;
      if (first == std::string_view::npos) first = i;
      last = i;
    }
    ASSERT_EQ(Strchr(s, c), first) << round;
    ASSERT_EQ(Strrchr(s, c), last) << round;
    for (std::size_t q = 0; q < s.size() && s[q] != '\0'; ++q) {
      ASSERT_EQ(IsCharBoundary(s, 0, q), starts[q]) << round << " at " << q;
    }

    // The copy moves the last byte first, and nothing when a range would leave the buffer.
    const std::size_t from = rng() % (s.size() + 3), to = rng() % (s.size() + 3);
    const int count = static_cast<int>(rng() % 15) - 2;
    const auto n = static_cast<std::size_t>(count);
    std::vector<char> expected = text;
    if (count > 0 && from <= s.size() && to <= s.size() && n <= s.size() - from &&
        n <= s.size() - to) {
      for (std::size_t i = n; i-- > 0;) expected[to + i] = expected[from + i];
    }
    ASSERT_EQ(bakmov(std::span<char>(text), from, to, count), 0) << round;
    ASSERT_EQ(text, expected) << round;
  }
}

}  // namespace
}  // namespace lowtags
