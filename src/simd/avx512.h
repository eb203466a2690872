// The vector path of processors with AVX-512BW: a 64-byte block as one vector, compared into bit
// masks directly, stored under a byte mask. The functions carry their own target, so the rest of
// the program is built for any x86-64; HaveAvx512 says whether they may run.
#pragma once

#include <cstddef>
#include <cstdint>

#include "simd/bits.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define LOWTAGS_HAVE_AVX512_PATH 1
#endif

namespace lowtags {

#if defined(LOWTAGS_HAVE_AVX512_PATH)
#define LOWTAGS_AVX512_TARGET __attribute__((target("avx512f,avx512bw,bmi,bmi2,popcnt")))

struct Avx512 {
  // Reads p[0] to p[64]: the last byte only for the pair test of the 64th.
  LOWTAGS_AVX512_TARGET static BlockMasks Classify(const char* p) {
    const __m512i v = _mm512_loadu_si512(p);
    const __m512i next = _mm512_loadu_si512(p + 1);
    BlockMasks m;
    m.lt = Eq(v, '<');
    m.gt = Eq(v, '>');
    m.dash = Eq(v, '-');
    m.newline = Eq(v, '\n');
    m.cr = Eq(v, '\r');
    m.quote = Eq(v, '"');
    m.hash = Eq(v, '#');
    m.lead = InRange(v, 0x81, 0x1E) | InRange(v, 0xE0, 0x1C);
    m.kana = InRange(v, 0xA1, 0x3E);
    m.wide_alnum = Eq(v, 0x82) & InRange(next, 0x4F, 0x4B);
    m.upper = InRange(v, 'A', 25);
    m.lower = InRange(v, 'a', 25);
    return m;
  }

  // Writes the n (<= 64) bytes at `in` to `out`, with the case of the letters `fold` marks
  // flipped; no byte past n is read or written.
  LOWTAGS_AVX512_TARGET static void Store(char* out, const char* in, std::uint64_t fold,
                                          std::size_t n) {
    const std::uint64_t bytes = Span(0, n);
    const __m512i v = _mm512_maskz_loadu_epi8(bytes, in);
    const __m512i flipped = _mm512_xor_si512(v, _mm512_set1_epi8(0x20));
    _mm512_mask_storeu_epi8(out, bytes, _mm512_mask_blend_epi8(fold, v, flipped));
  }

 private:
  LOWTAGS_AVX512_TARGET static std::uint64_t Eq(__m512i v, unsigned char c) {
    return _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(static_cast<char>(c)));
  }
  // Bytes in [low, low + span], unsigned.
  LOWTAGS_AVX512_TARGET static std::uint64_t InRange(__m512i v, unsigned char low,
                                                     unsigned char span) {
    const __m512i offset = _mm512_sub_epi8(v, _mm512_set1_epi8(static_cast<char>(low)));
    return _mm512_cmple_epu8_mask(offset, _mm512_set1_epi8(static_cast<char>(span)));
  }
};

inline bool HaveAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512f") &&
         __builtin_cpu_supports("bmi2");
}
#else
inline bool HaveAvx512() { return false; }
#endif

}  // namespace lowtags
