// Finding the next byte of a small set, sixteen bytes at a time where the processor allows. The
// scanner spends most of its time here, passing text in which no rule can apply.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "simd/bits.h"
#include "simd/portable.h"
#include "support/sjis.h"

namespace lowtags {

class StopSet {
 public:
  // Up to six single bytes, and optionally one range [low, high].
  constexpr StopSet(std::initializer_list<unsigned char> bytes, int low = -1, int high = -1) {
    for (const unsigned char b : bytes) {
      bytes_[count_++] = b;
      table_[b] = true;
    }
    if (low >= 0) {
      low_ = static_cast<unsigned char>(low);
      span_ = static_cast<unsigned char>(high - low);
      has_range_ = true;
      for (int c = low; c <= high; ++c) table_[c] = true;
    }
  }
  // Also stops at `lead` when the byte after it lies in [low, high]: a full-width digit or
  // letter, but not the hiragana that share its lead byte.
  constexpr StopSet WithPair(unsigned char lead, unsigned char low, unsigned char high) const {
    StopSet set = *this;
    set.pair_lead_ = lead;
    set.pair_low_ = low;
    set.pair_span_ = static_cast<unsigned char>(high - low);
    set.has_pair_ = true;
    return set;
  }
  // True when the byte at p[i] (of n) stops the search.
  constexpr bool StopsAt(const char* p, std::size_t i, std::size_t n) const {
    const auto c = static_cast<unsigned char>(p[i]);
    if (table_[c]) return true;
    return has_pair_ && c == pair_lead_ && i + 1 < n &&
           static_cast<unsigned char>(static_cast<unsigned char>(p[i + 1]) - pair_low_) <=
               pair_span_;
  }
  constexpr bool Has(unsigned char c) const { return table_[c] || (has_pair_ && c == pair_lead_); }

  // Offset of the first character of [p, p + n) whose first byte stops the search, or n; p must
  // start a character. The stop bytes other than the pair's lead must lie outside the lead
  // ranges. Trail bytes are told apart sixteen at a time, without walking the characters.
  std::size_t FindAtCharStart(const char* p, std::size_t n) const;

 private:
  std::array<bool, 256> table_{};
  std::array<unsigned char, 6> bytes_{};
  std::size_t count_ = 0;
  unsigned char low_ = 0;
  unsigned char span_ = 0;
  bool has_range_ = false;
  unsigned char pair_lead_ = 0;
  unsigned char pair_low_ = 0;
  unsigned char pair_span_ = 0;
  bool has_pair_ = false;

#if defined(__SSE2__)
  // Bit i set where p[i] stops the search, for 16 bytes; the pair test reads p[16].
  std::uint32_t Mask16(const char* p) const {
    using namespace sse2;
    const __m128i v = Load(p);
    __m128i hit = _mm_setzero_si128();
    for (std::size_t k = 0; k < count_; ++k) hit = _mm_or_si128(hit, Eq(v, bytes_[k]));
    if (has_range_) hit = _mm_or_si128(hit, InRange(v, low_, span_));
    if (has_pair_) {
      const __m128i pair =
          _mm_and_si128(Eq(v, pair_lead_), InRange(Load(p + 1), pair_low_, pair_span_));
      hit = _mm_or_si128(hit, pair);
    }
    return Bits(hit);
  }
#endif
};

inline std::size_t StopSet::FindAtCharStart(const char* p, std::size_t n) const {
  std::size_t i = 0;
  bool trail_first = false;
#if defined(__SSE2__)
  // The pair test reads one byte past each block.
  for (; i + 17 <= n; i += 16) {
    const std::uint32_t stops = Mask16(p + i);
    const std::uint32_t leads = sse2::Bits(sse2::Lead(sse2::Load(p + i)));
    const auto starts = static_cast<std::uint32_t>(LeadStarts(leads, trail_first));
    // A byte outside the lead ranges is a trail when a starting lead byte stands before it.
    std::uint32_t trails = (starts << 1) & ~leads;
    if (trail_first && !(leads & 1)) trails |= 1;
    const std::uint32_t found = ((stops & ~leads & ~trails) | (stops & starts)) & 0xFFFF;
    if (found != 0) return i + static_cast<std::size_t>(__builtin_ctz(found));
    trail_first = ((starts >> 15) & 1) != 0;
  }
#endif
  if (trail_first) ++i;
  while (i < n) {
    if (StopsAt(p, i, n)) return i;
    i += (IsLeadByte(p[i]) && i + 1 < n) ? 2 : 1;
  }
  return n;
}

// Offset of the first of the bytes kBytes in [p, p + n), or n: the byte lists of the scanner's
// hottest searches, known at compile time, sixteen bytes at a time and no byte-by-byte tail.
template <char... kBytes>
std::size_t FindAnyOf(const char* p, std::size_t n) {
#if defined(__SSE2__)
  const auto mask_at = [p](std::size_t at) {
    const __m128i v = sse2::Load(p + at);
    return sse2::Bits((_mm_cmpeq_epi8(v, _mm_set1_epi8(kBytes)) | ...));
  };
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    if (const std::uint32_t mask = mask_at(i))
      return i + static_cast<std::size_t>(__builtin_ctz(mask));
  }
  if (i == n) return n;
  if (n >= 16) {
    // The last block again, ending at n; only its bytes from i on are new.
    const std::uint32_t mask = mask_at(n - 16) >> (16 - (n - i));
    return mask != 0 ? i + static_cast<std::size_t>(__builtin_ctz(mask)) : n;
  }
  for (; i < n; ++i) {
    if (((p[i] == kBytes) || ...)) return i;
  }
  return n;
#else
  for (std::size_t i = 0; i < n; ++i) {
    if (((p[i] == kBytes) || ...)) return i;
  }
  return n;
#endif
}

}  // namespace lowtags
