// Finding the next byte of a small set, sixteen bytes at a time where the processor allows. The
// scanner spends most of its time here, passing text in which no rule can apply.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "support/sjis.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  int Mask16(const char* p) const {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit = _mm_setzero_si128();
    for (std::size_t k = 0; k < count_; ++k) {
      hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(bytes_[k]))));
    }
    if (has_range_) {
      const __m128i offset = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(low_)));
      hit = _mm_or_si128(
          hit, _mm_cmpeq_epi8(_mm_subs_epu8(offset, _mm_set1_epi8(static_cast<char>(span_))),
                              _mm_setzero_si128()));
    }
    if (has_pair_) {
      const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
      const __m128i lead = _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(pair_lead_)));
      const __m128i offset = _mm_sub_epi8(next, _mm_set1_epi8(static_cast<char>(pair_low_)));
      const __m128i in_range = _mm_cmpeq_epi8(
          _mm_subs_epu8(offset, _mm_set1_epi8(static_cast<char>(pair_span_))), _mm_setzero_si128());
      hit = _mm_or_si128(hit, _mm_and_si128(lead, in_range));
    }
    return _mm_movemask_epi8(hit);
  }
#endif
};

namespace byte_scan_detail {

#if defined(__SSE2__)
// Bit i set where p[i] is a lead byte (0x81 to 0x9F or 0xE0 to 0xFC), for 16 bytes.
inline int LeadMask16(const char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i zero = _mm_setzero_si128();
  const __m128i low = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(0x81)));
  const __m128i high = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(0xE0)));
  const __m128i in_low = _mm_cmpeq_epi8(_mm_subs_epu8(low, _mm_set1_epi8(0x1E)), zero);
  const __m128i in_high = _mm_cmpeq_epi8(_mm_subs_epu8(high, _mm_set1_epi8(0x1C)), zero);
  return _mm_movemask_epi8(_mm_or_si128(in_low, in_high));
}

#endif

// Which lead bytes of a 16-byte block start a character. Lead bytes pair up from the start of
// each run of them, as escapes do: a run that begins at an even bit covers its even bits, one
// that begins at an odd bit its odd bits. `trail_first` says that bit 0 ends a character begun
// in the block before.
inline std::uint32_t LeadStarts(std::uint32_t leads, bool trail_first) {
  constexpr std::uint32_t kEven = 0x5555;
  const std::uint32_t starts = leads & ~(leads << 1);
  std::uint32_t even_starts = starts & kEven;
  if (trail_first) even_starts &= ~1u;  // bit 0 ends a character: its run starts at bit 1
  // Adding a run's first bit clears the run; what was cleared belongs to an even-started run.
  const std::uint32_t even_runs = leads & ~(leads + even_starts);
  const std::uint32_t odd_runs = leads & ~even_runs;
  return ((even_runs & kEven) | (odd_runs & ~kEven & 0xFFFF)) & ~(trail_first ? 1u : 0u);
}

}  // namespace byte_scan_detail

inline std::size_t StopSet::FindAtCharStart(const char* p, std::size_t n) const {
  std::size_t i = 0;
  bool trail_first = false;
#if defined(__SSE2__)
  // The pair test reads one byte past each block.
  for (; i + 17 <= n; i += 16) {
    const auto stops = static_cast<std::uint32_t>(Mask16(p + i));
    const auto leads = static_cast<std::uint32_t>(byte_scan_detail::LeadMask16(p + i));
    const std::uint32_t starts = byte_scan_detail::LeadStarts(leads, trail_first);
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

}  // namespace lowtags

namespace lowtags {

// Offset of the first of the bytes kBytes in [p, p + n), or n: the byte lists of the scanner's
// hottest searches, known at compile time, sixteen bytes at a time and no byte-by-byte tail.
template <char... kBytes>
std::size_t FindAnyOf(const char* p, std::size_t n) {
#if defined(__SSE2__)
  const auto mask_at = [p](std::size_t at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    const __m128i hit = (_mm_cmpeq_epi8(v, _mm_set1_epi8(kBytes)) | ...);
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
  };
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    if (const unsigned mask = mask_at(i)) return i + static_cast<std::size_t>(__builtin_ctz(mask));
  }
  if (i == n) return n;
  if (n >= 16) {
    // The last block again, ending at n; only its bytes from i on are new.
    const unsigned mask = mask_at(n - 16) >> (16 - (n - i));
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
