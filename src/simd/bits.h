// What the vector paths share, free of any instruction set: the classes of a 64-byte block as one
// bit per byte, and the bit arithmetic that turns those masks into characters and spans.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lowtags {

inline constexpr std::size_t kBlock = 64;

struct BlockMasks {
  std::uint64_t lt = 0;          // '<'
  std::uint64_t gt = 0;          // '>'
  std::uint64_t dash = 0;        // '-'
  std::uint64_t newline = 0;     // '\n'
  std::uint64_t cr = 0;          // '\r'
  std::uint64_t quote = 0;       // '"'
  std::uint64_t hash = 0;        // '#'
  std::uint64_t lead = 0;        // 0x81-0x9F, 0xE0-0xFC
  std::uint64_t kana = 0;        // 0xA1-0xDF: half-width kana, where a character starts
  std::uint64_t wide_alnum = 0;  // 0x82 followed by 0x4F-0x9A: a full-width digit or letter
  std::uint64_t upper = 0;       // 'A'-'Z'
  std::uint64_t lower = 0;       // 'a'-'z'

  bool operator==(const BlockMasks&) const = default;
};

// Which lead bytes start a character, given the lead-byte mask of a block of up to 64 bytes and
// whether bit 0 ends a character begun before it. Lead bytes pair up from the start of each run
// of them: a run that begins at an even bit covers its even bits, one that begins at an odd bit
// its odd bits.
constexpr std::uint64_t LeadStarts(std::uint64_t lead, bool trail_first) {
  constexpr std::uint64_t kEven = 0x5555555555555555ULL;
  const std::uint64_t leads = lead & ~std::uint64_t{trail_first};  // a trail starts nothing
  const std::uint64_t run_starts = leads & ~(leads << 1);
  // Adding a run's first bit clears the run: what was cleared belongs to an even-started run.
  const std::uint64_t even_runs = leads & ~(leads + (run_starts & kEven));
  return (even_runs & kEven) | (leads & ~even_runs & ~kEven);
}

// Bytes of a block that end a character begun in it or, for bit 0, in the block before.
// *carry_out says whether the next block begins with a trail byte.
constexpr std::uint64_t TrailBytes(std::uint64_t lead, bool carry_in, bool* carry_out) {
  const std::uint64_t starting = LeadStarts(lead, carry_in);
  *carry_out = (starting >> 63) != 0;
  return (starting << 1) | std::uint64_t{carry_in};
}

// Bit i of the result is the parity of bits 0 to i.
constexpr std::uint64_t PrefixXor(std::uint64_t x) {
  x ^= x << 1;
  x ^= x << 2;
  x ^= x << 4;
  x ^= x << 8;
  x ^= x << 16;
  x ^= x << 32;
  return x;
}

// Bits [from, to) of a block, from <= to <= 64.
constexpr std::uint64_t Span(std::size_t from, std::size_t to) {
  const std::uint64_t below_to = to >= kBlock ? ~std::uint64_t{0} : (std::uint64_t{1} << to) - 1;
  const std::uint64_t below_from =
      from >= kBlock ? ~std::uint64_t{0} : (std::uint64_t{1} << from) - 1;
  return below_to & ~below_from;
}

// The first set bit at or after `from` (< 64), or 64.
constexpr std::size_t NextBit(std::uint64_t mask, std::size_t from) {
  mask &= ~std::uint64_t{0} << from;
  return mask != 0 ? static_cast<std::size_t>(__builtin_ctzll(mask)) : kBlock;
}

// The lowest and the highest set bit of a mask that is not 0.
constexpr std::size_t FirstBit(std::uint64_t mask) {
  return static_cast<std::size_t>(__builtin_ctzll(mask));
}
constexpr std::size_t LastBit(std::uint64_t mask) {
  return static_cast<std::size_t>(63 - __builtin_clzll(mask));
}

}  // namespace lowtags
