// The vector path every x86-64 processor has: a 64-byte block as four 16-byte SSE2 vectors, and
// the 16-byte masks of the byte searches. Without SSE2 the same masks come a byte at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd/bits.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lowtags {

#if defined(__SSE2__)
namespace sse2 {

inline __m128i Load(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i Eq(__m128i v, unsigned char c) {
  return _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(c)));
}
// Bytes in [low, low + span]: unsigned, through a saturating subtraction.
inline __m128i InRange(__m128i v, unsigned char low, unsigned char span) {
  const __m128i offset = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(low)));
  return _mm_cmpeq_epi8(_mm_subs_epu8(offset, _mm_set1_epi8(static_cast<char>(span))),
                        _mm_setzero_si128());
}
inline __m128i Lead(__m128i v) {
  return _mm_or_si128(InRange(v, 0x81, 0x1E), InRange(v, 0xE0, 0x1C));
}
inline std::uint32_t Bits(__m128i x) { return static_cast<std::uint32_t>(_mm_movemask_epi8(x)); }

}  // namespace sse2
#endif

struct Portable {
  // Reads p[0] to p[64]: the last byte only for the pair test of the 64th.
  static BlockMasks Classify(const char* p) {
    BlockMasks m;
#if defined(__SSE2__)
    using namespace sse2;
    for (int i = 0; i < 4; ++i) {
      const __m128i v = Load(p + 16 * i);
      const __m128i next = Load(p + 16 * i + 1);
      const int at = 16 * i;
      const auto bits = [](__m128i x) { return static_cast<std::uint64_t>(Bits(x)); };
      m.lt |= bits(Eq(v, '<')) << at;
      m.gt |= bits(Eq(v, '>')) << at;
      m.dash |= bits(Eq(v, '-')) << at;
      m.newline |= bits(Eq(v, '\n')) << at;
      m.cr |= bits(Eq(v, '\r')) << at;
      m.quote |= bits(Eq(v, '"')) << at;
      m.hash |= bits(Eq(v, '#')) << at;
      m.lead |= bits(Lead(v)) << at;
      m.kana |= bits(InRange(v, 0xA1, 0x3E)) << at;
      m.wide_alnum |= bits(_mm_and_si128(Eq(v, 0x82), InRange(next, 0x4F, 0x4B))) << at;
      m.upper |= bits(InRange(v, 'A', 25)) << at;
      m.lower |= bits(InRange(v, 'a', 25)) << at;
    }
#else
    for (std::size_t i = 0; i < kBlock; ++i) {
      const auto c = static_cast<unsigned char>(p[i]);
      const auto n = static_cast<unsigned char>(p[i + 1]);
      const std::uint64_t bit = std::uint64_t{1} << i;
      if (c == '<') m.lt |= bit;
      if (c == '>') m.gt |= bit;
      if (c == '-') m.dash |= bit;
      if (c == '\n') m.newline |= bit;
      if (c == '\r') m.cr |= bit;
      if (c == '"') m.quote |= bit;
      if (c == '#') m.hash |= bit;
      if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) m.lead |= bit;
      if (c >= 0xA1 && c <= 0xDF) m.kana |= bit;
      if (c == 0x82 && n >= 0x4F && n <= 0x9A) m.wide_alnum |= bit;
      if (c >= 'A' && c <= 'Z') m.upper |= bit;
      if (c >= 'a' && c <= 'z') m.lower |= bit;
    }
#endif
    return m;
  }

  // Writes the n (<= 64) bytes at `in` to `out`, with the case of the letters `fold` marks
  // flipped.
  static void Store(char* out, const char* in, std::uint64_t fold, std::size_t n) {
    std::memcpy(out, in, n);
    for (fold &= Span(0, n); fold != 0; fold &= fold - 1) out[FirstBit(fold)] ^= 0x20;
  }
};

}  // namespace lowtags
