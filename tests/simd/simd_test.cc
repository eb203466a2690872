// The building blocks of each vector path against their byte definitions; the byte searches
// built on them are the differential tester's.
#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "simd/avx512.h"
#include "simd/portable.h"
#include "support/sjis.h"

namespace lowtags {
namespace {

// Each class: the bytes in [low, high] followed by a byte in [next_low, next_high].
// clang-format off
constexpr std::tuple<std::uint64_t BlockMasks::*, int, int, int, int> kClasses[] = {
    {&BlockMasks::lt, '<', '<', 0, 255},      {&BlockMasks::gt, '>', '>', 0, 255},
    {&BlockMasks::dash, '-', '-', 0, 255},    {&BlockMasks::newline, '\n', '\n', 0, 255},
    {&BlockMasks::cr, '\r', '\r', 0, 255},    {&BlockMasks::quote, '"', '"', 0, 255},
    {&BlockMasks::hash, '#', '#', 0, 255},    {&BlockMasks::lead, 0x81, 0x9F, 0, 255},
    {&BlockMasks::lead, 0xE0, 0xFC, 0, 255},  {&BlockMasks::kana, 0xA1, 0xDF, 0, 255},
    {&BlockMasks::upper, 'A', 'Z', 0, 255},   {&BlockMasks::lower, 'a', 'z', 0, 255},
    {&BlockMasks::wide_alnum, 0x82, 0x82, 0x4F, 0x9A}};
// clang-format on

// Mostly bytes at the edges of the classes, and runs of lead bytes.
std::string RandomText(std::mt19937_64& rng, std::size_t n) {
  constexpr std::string_view kEdges =
      "<>-\n\r\"#@AZ[`az{\x4E\x4F\x9A\x9B\x80\x81\x82\x9F\xA0\xA1\xDF\xE0\xFC\xFD";
  std::string s(n, '\0');
  for (char& c : s)
    c = static_cast<char>(rng() % 2 ? kEdges[rng() % kEdges.size()] : rng() % 2 ? 0x82 : rng());
  return s;
}

TEST(SimdTest, BuildingBlocksAndSearchesFollowTheirByteDefinitions) {
  using Path = std::tuple<decltype(&Portable::Classify), decltype(&Portable::Store)>;
  std::vector<Path> paths{{&Portable::Classify, &Portable::Store}};
#if defined(LOWTAGS_HAVE_AVX512_PATH)
  if (HaveAvx512()) paths.emplace_back(&Avx512::Classify, &Avx512::Store);
#endif
  std::mt19937_64 rng(7);
  for (int round = 0; round < 30000; ++round) {
    const std::string in = RandomText(rng, kBlock + 1);
    const std::uint64_t x = rng();
    const std::size_t n = rng() % (kBlock + 1);
    const bool trail_first = (rng() & 1) != 0;
    BlockMasks masks;
    std::uint64_t parity = 0;
    std::string stored(kBlock, '.');
    for (std::size_t i = 0; i < kBlock; ++i) {
      const auto c = static_cast<unsigned char>(in[i]);
      const auto next = static_cast<unsigned char>(in[i + 1]);
      for (const auto& [mask, low, high, next_low, next_high] : kClasses) {
        const bool hit = c >= low && c <= high && next >= next_low && next <= next_high;
        masks.*mask |= std::uint64_t{hit} << i;
      }
      parity |= static_cast<std::uint64_t>(std::popcount(x & Span(0, i + 1)) & 1) << i;
      if (i < n) stored[i] = static_cast<char>(c ^ ((x >> i) & 1 ? 0x20 : 0));
    }
    std::uint64_t trails = trail_first ? 1 : 0;  // the characters walked one by one
    std::size_t i = trails;
    for (; i < kBlock; ++i) trails |= IsLeadByte(in[i]) && ++i < kBlock ? std::uint64_t{1} << i : 0;
    bool carry = false;
    ASSERT_EQ(TrailBytes(masks.lead, trail_first, &carry), trails) << round;
    ASSERT_EQ(carry, i > kBlock) << round;
    ASSERT_EQ(PrefixXor(x), parity) << round;
    for (const auto& [classify, store] : paths) {
      ASSERT_TRUE(classify(in.data()) == masks) << round;
      std::string out(kBlock, '.');
      store(out.data(), in.data(), x, n);
      ASSERT_EQ(out, stored) << round;
    }
  }
}

}  // namespace
}  // namespace lowtags
