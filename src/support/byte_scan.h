// Finding the next byte of a small set in a block, sixteen bytes at a time where the processor
// allows. The scanner spends most of its time here, passing text in which no rule can apply.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>

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
  constexpr bool Has(unsigned char c) const { return table_[c]; }

  // Offset of the first byte of [p, p + n) in the set, or n. Inline, so that a set known at
  // compile time unrolls into a handful of compares.
  std::size_t Find(const char* p, std::size_t n) const {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi8(static_cast<char>(low_));
    const __m128i span = _mm_set1_epi8(static_cast<char>(span_));
    for (; i + 16 <= n; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      __m128i hit = _mm_setzero_si128();
      for (std::size_t k = 0; k < count_; ++k) {
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(bytes_[k]))));
      }
      if (has_range_) {
        // Unsigned v - low <= span: the saturating difference from span is then zero.
        const __m128i offset = _mm_sub_epi8(v, low);
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(_mm_subs_epu8(offset, span), _mm_setzero_si128()));
      }
      const int mask = _mm_movemask_epi8(hit);
      if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    while (i < n && !table_[static_cast<unsigned char>(p[i])]) ++i;
    return i;
  }

 private:
  std::array<bool, 256> table_{};
  std::array<unsigned char, 6> bytes_{};
  std::size_t count_ = 0;
  unsigned char low_ = 0;
  unsigned char span_ = 0;
  bool has_range_ = false;
};

}  // namespace lowtags
