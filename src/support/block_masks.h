// The bytes of a 64-byte block sorted into the classes the converter cares about, one bit per
// byte, and which bytes start a Shift_JIS character. Two ways to the same masks: four 16-byte
// vectors anywhere, one 64-byte vector where the processor has AVX-512BW.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define LOWTAGS_HAVE_AVX512_PATH 1
#endif

namespace lowtags {

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

// Bytes of a block that follow a lead byte which starts a character, given the lead-byte mask and
// whether bit 0 ends a character begun in the block before. Lead bytes pair up from the start of
// each run of them: a run that begins at an even bit covers its even bits, one that begins at an
// odd bit its odd bits. *carry_out says whether the next block begins with a trail byte.
inline std::uint64_t TrailBytes(std::uint64_t lead, bool carry_in, bool* carry_out) {
  constexpr std::uint64_t kEven = 0x5555555555555555ULL;
  const std::uint64_t carry = carry_in ? 1 : 0;
  const std::uint64_t leads = lead & ~carry;  // a trail byte starts no character
  const std::uint64_t run_starts = leads & ~(leads << 1);
  // Adding a run's first bit clears the run: what was cleared belongs to an even-started run.
  const std::uint64_t even_runs = leads & ~(leads + (run_starts & kEven));
  const std::uint64_t starting = (even_runs & kEven) | (leads & ~even_runs & ~kEven);
  *carry_out = (starting >> 63) != 0;
  return (starting << 1) | carry;
}

// Reads p[0] to p[64]: the last byte only for the pair test of the 64th.
inline BlockMasks ClassifyPortable(const char* p) {
  BlockMasks m;
#if defined(__SSE2__)
  const auto bits = [](__m128i x) {
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(x)));
  };
  const auto eq = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
  const auto in_range = [](__m128i v, unsigned char low, unsigned char span) {
    const __m128i offset = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(low)));
    return _mm_cmpeq_epi8(_mm_subs_epu8(offset, _mm_set1_epi8(static_cast<char>(span))),
                          _mm_setzero_si128());
  };
  for (int i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i + 1));
    const int at = 16 * i;
    m.lt |= bits(eq(v, '<')) << at;
    m.gt |= bits(eq(v, '>')) << at;
    m.dash |= bits(eq(v, '-')) << at;
    m.newline |= bits(eq(v, '\n')) << at;
    m.cr |= bits(eq(v, '\r')) << at;
    m.quote |= bits(eq(v, '"')) << at;
    m.hash |= bits(eq(v, '#')) << at;
    m.lead |= bits(_mm_or_si128(in_range(v, 0x81, 0x1E), in_range(v, 0xE0, 0x1C))) << at;
    m.kana |= bits(in_range(v, 0xA1, 0x3E)) << at;
    m.wide_alnum |= bits(_mm_and_si128(eq(v, static_cast<char>(0x82)), in_range(next, 0x4F, 0x4B)))
                    << at;
    m.upper |= bits(in_range(v, 'A', 25)) << at;
    m.lower |= bits(in_range(v, 'a', 25)) << at;
  }
#else
  for (int i = 0; i < 64; ++i) {
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

#if defined(LOWTAGS_HAVE_AVX512_PATH)
#define LOWTAGS_AVX512_TARGET __attribute__((target("avx512f,avx512bw,bmi,bmi2,popcnt")))

LOWTAGS_AVX512_TARGET inline BlockMasks ClassifyAvx512(const char* p) {
  const __m512i v = _mm512_loadu_si512(p);
  const __m512i next = _mm512_loadu_si512(p + 1);
  const auto eq = [](__m512i x, char c) LOWTAGS_AVX512_TARGET {
    return static_cast<std::uint64_t>(_mm512_cmpeq_epi8_mask(x, _mm512_set1_epi8(c)));
  };
  const auto in_range = [](__m512i x, unsigned char low, unsigned char span) LOWTAGS_AVX512_TARGET {
    const __m512i offset = _mm512_sub_epi8(x, _mm512_set1_epi8(static_cast<char>(low)));
    return static_cast<std::uint64_t>(
        _mm512_cmple_epu8_mask(offset, _mm512_set1_epi8(static_cast<char>(span))));
  };
  BlockMasks m;
  m.lt = eq(v, '<');
  m.gt = eq(v, '>');
  m.dash = eq(v, '-');
  m.newline = eq(v, '\n');
  m.cr = eq(v, '\r');
  m.quote = eq(v, '"');
  m.hash = eq(v, '#');
  m.lead = in_range(v, 0x81, 0x1E) | in_range(v, 0xE0, 0x1C);
  m.kana = in_range(v, 0xA1, 0x3E);
  m.wide_alnum = eq(v, static_cast<char>(0x82)) & in_range(next, 0x4F, 0x4B);
  m.upper = in_range(v, 'A', 25);
  m.lower = in_range(v, 'a', 25);
  return m;
}

inline bool HaveAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512f") &&
         __builtin_cpu_supports("bmi2");
}
#else
inline bool HaveAvx512() { return false; }
#endif

}  // namespace lowtags
