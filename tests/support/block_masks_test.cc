// The block classifier against a byte-by-byte reading of the same block, on both vector paths,
// and the trail-byte masks against a walk of the characters.
#include "support/block_masks.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>

#include "support/sjis.h"

namespace lowtags {
namespace {

BlockMasks ClassifyByBytes(const char* p) {
  BlockMasks m;
  for (int i = 0; i < 64; ++i) {
    const auto c = static_cast<unsigned char>(p[i]);
    const auto next = static_cast<unsigned char>(p[i + 1]);
    const std::uint64_t bit = std::uint64_t{1} << i;
    m.lt |= c == '<' ? bit : 0;
    m.gt |= c == '>' ? bit : 0;
    m.dash |= c == '-' ? bit : 0;
    m.newline |= c == '\n' ? bit : 0;
    m.cr |= c == '\r' ? bit : 0;
    m.quote |= c == '"' ? bit : 0;
    m.hash |= c == '#' ? bit : 0;
    m.lead |= IsLeadByte(c) ? bit : 0;
    m.kana |= (c >= 0xA1 && c <= 0xDF) ? bit : 0;
    m.wide_alnum |= (c == 0x82 && next >= 0x4F && next <= 0x9A) ? bit : 0;
    m.upper |= (c >= 'A' && c <= 'Z') ? bit : 0;
    m.lower |= (c >= 'a' && c <= 'z') ? bit : 0;
  }
  return m;
}

// Blocks drawn from the bytes that matter, with every byte value now and then.
std::array<char, 65> RandomBlock(std::mt19937& rng) {
  static constexpr unsigned char kBytes[] = {
      '<', '>',  '-',  '\n', '\r', '"',  '#',  'A',  'z',  'Z',  'a',  '@',  '[',  '`',
      '{', 0x81, 0x82, 0x9F, 0xA0, 0xA1, 0xDF, 0xE0, 0xFC, 0xFD, 0x4F, 0x9A, 0x9B, 0x00};
  std::array<char, 65> block{};
  for (char& c : block) {
    const auto v = static_cast<std::size_t>(rng() % 40);
    c = static_cast<char>(v < sizeof kBytes ? kBytes[v] : rng() % 256);
  }
  return block;
}

TEST(BlockMasksTest, ClassifiersAgreeWithTheBytes) {
  std::mt19937 rng(7);
  const bool avx512 = HaveAvx512();
  for (int round = 0; round < 20000; ++round) {
    const std::array<char, 65> block = RandomBlock(rng);
    const BlockMasks expected = ClassifyByBytes(block.data());
    ASSERT_TRUE(ClassifyPortable(block.data()) == expected) << "round " << round;
#if defined(LOWTAGS_HAVE_AVX512_PATH)
    if (avx512) {
      ASSERT_TRUE(ClassifyAvx512(block.data()) == expected) << "round " << round;
    }
#endif
  }
  if (!avx512) GTEST_SKIP() << "no AVX-512BW here: only the portable path was checked";
}

// Trail bytes of consecutive blocks, chained by their carries, against a walk that takes a lead
// byte and whatever follows it as one character.
TEST(BlockMasksTest, TrailBytesFollowTheCharacterWalk) {
  std::mt19937 rng(11);
  for (int round = 0; round < 5000; ++round) {
    std::string text;
    for (int i = 0; i < 256; ++i) {
      const auto v = rng() % 4;
      text += static_cast<char>(v == 0 ? 0x41 : v == 1 ? 0x82 : v == 2 ? 0xE0 : rng() % 256);
    }
    std::string walk(text.size(), '.');
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (IsLeadByte(text[i]) && i + 1 < text.size()) walk[++i] = 'T';
    }
    std::string masks(text.size(), '.');
    bool carry = false;
    for (std::size_t b = 0; b < text.size(); b += 64) {
      std::uint64_t lead = 0;
      for (int i = 0; i < 64; ++i) {
        lead |= IsLeadByte(text[b + static_cast<std::size_t>(i)]) ? std::uint64_t{1} << i : 0;
      }
      bool carry_out = false;
      const std::uint64_t trails = TrailBytes(lead, carry, &carry_out);
      for (int i = 0; i < 64; ++i) {
        if ((trails >> i) & 1) masks[b + static_cast<std::size_t>(i)] = 'T';
      }
      carry = carry_out;
    }
    ASSERT_EQ(masks, walk) << "round " << round;
  }
}

}  // namespace
}  // namespace lowtags
