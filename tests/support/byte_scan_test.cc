// The stop searches against a plain walk over the characters, on random Shift_JIS-like text.
#include "support/byte_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/sjis.h"

namespace lowtags {
namespace {

std::size_t WalkToStop(const StopSet& set, const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    if (set.StopsAt(s.data(), i, s.size())) return i;
    i += CharLength(s, i);
  }
  return s.size();
}

// Lead bytes, trail-only bytes, kana, the stop bytes and the bytes after 0x82 that make a
// full-width digit or letter, in runs long enough to cross several blocks.
std::string RandomText(std::mt19937& rng, std::size_t length) {
  static const unsigned char kAlphabet[] = {0x81, 0x82, 0x83, 0x9F, 0xE0, 0xFC, 0x40, 0x4F, 0x60,
                                            0x9A, 0xA0, 0xA1, 0xB1, 0xDF, 0xDE, '<',  '>',  '-',
                                            '\n', 'a',  'Z',  ' ',  0x7F, 0xFD};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof(kAlphabet) - 1);
  std::uniform_int_distribution<int> lead_heavy(0, 3);
  std::string s;
  for (std::size_t i = 0; i < length; ++i) {
    // Long runs of lead bytes are where pairing goes wrong, so make them common.
    s += static_cast<char>(lead_heavy(rng) == 0 ? kAlphabet[pick(rng)] : 0x82 + (i % 2) * 0x10);
  }
  return s;
}

TEST(StopSetTest, CharacterStartSearchAgreesWithAWalk) {
  const StopSet plain{'<', '>', '-', '\n'};
  const StopSet sets[] = {
      plain,
      StopSet{{'<', '>', '-', '\n'}, 0xA1, 0xDF},
      plain.WithPair(0x82, 0x4F, 0x9A),
      StopSet{{'<', '>', '-', '\n'}, 0xA1, 0xDF}.WithPair(0x82, 0x4F, 0x9A),
  };
  std::mt19937 rng(1234);
  std::uniform_int_distribution<std::size_t> length(0, 300);
  for (int round = 0; round < 4000; ++round) {
    const std::string text = RandomText(rng, length(rng));
    for (const StopSet& set : sets) {
      ASSERT_EQ(set.FindAtCharStart(text.data(), text.size()), WalkToStop(set, text))
          << "round " << round;
    }
  }
}

TEST(FindAnyOfTest, FindsTheFirstOfItsBytesInEveryPosition) {
  for (std::size_t length = 0; length < 40; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      std::string text(length, 'x');
      if (at < length) text[at] = '-';
      if (at + 1 < length) text[at + 1] = '<';
      EXPECT_EQ((FindAnyOf<'<', '-'>(text.data(), text.size())), at) << length << " " << at;
    }
  }
}

}  // namespace
}  // namespace lowtags
