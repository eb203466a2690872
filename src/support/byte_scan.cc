#include "support/byte_scan.h"

#include <cstdint>

#include "support/sjis.h"

namespace lowtags {

namespace {

#if defined(__SSE2__)
// Bit i set where p[i] is a lead byte (0x81 to 0x9F or 0xE0 to 0xFC), for 16 bytes.
int LeadMask16(const char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i zero = _mm_setzero_si128();
  const __m128i low = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(0x81)));
  const __m128i high = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(0xE0)));
  const __m128i in_low = _mm_cmpeq_epi8(_mm_subs_epu8(low, _mm_set1_epi8(0x1E)), zero);
  const __m128i in_high = _mm_cmpeq_epi8(_mm_subs_epu8(high, _mm_set1_epi8(0x1C)), zero);
  return _mm_movemask_epi8(_mm_or_si128(in_low, in_high));
}

std::uint64_t Mask64(int m0, int m1, int m2, int m3) {
  return static_cast<std::uint64_t>(static_cast<std::uint16_t>(m0)) |
         static_cast<std::uint64_t>(static_cast<std::uint16_t>(m1)) << 16 |
         static_cast<std::uint64_t>(static_cast<std::uint16_t>(m2)) << 32 |
         static_cast<std::uint64_t>(static_cast<std::uint16_t>(m3)) << 48;
}
#endif

// Which lead bytes of a 64-byte block start a character. Lead bytes pair up from the start of
// each run of them, as escapes do: a run that begins at an even bit covers its even bits, one
// that begins at an odd bit its odd bits. `trail_first` says that bit 0 ends a character begun
// in the block before.
std::uint64_t LeadStarts(std::uint64_t leads, bool trail_first) {
  constexpr std::uint64_t kEven = 0x5555555555555555ULL;
  std::uint64_t starts = leads & ~(leads << 1);
  std::uint64_t even_starts = starts & kEven;
  if (trail_first && (leads & 1)) even_starts &= ~std::uint64_t{1};  // bit 0 is a trail
  // Adding a run's first bit clears the run; what was cleared belongs to an even-started run.
  const std::uint64_t even_runs = leads & ~(leads + even_starts);
  const std::uint64_t odd_runs = leads & ~even_runs;
  std::uint64_t result = (even_runs & kEven) | (odd_runs & ~kEven);
  if (trail_first) result &= ~std::uint64_t{1};
  return result;
}

}  // namespace

std::size_t StopSet::FindAtCharStart(const char* p, std::size_t n) const {
  std::size_t i = 0;
  bool trail_first = false;
#if defined(__SSE2__)
  // The pair test reads one byte past each block.
  for (; i + 65 <= n; i += 64) {
    const char* b = p + i;
    const std::uint64_t stops = Mask64(Mask16(b), Mask16(b + 16), Mask16(b + 32), Mask16(b + 48));
    const std::uint64_t leads =
        Mask64(LeadMask16(b), LeadMask16(b + 16), LeadMask16(b + 32), LeadMask16(b + 48));
    const std::uint64_t starts = LeadStarts(leads, trail_first);
    // A byte outside the lead ranges is a trail when a starting lead byte stands before it.
    std::uint64_t trails = (starts << 1) & ~leads;
    if (trail_first && !(leads & 1)) trails |= 1;
    const std::uint64_t found = (stops & ~leads & ~trails) | (stops & starts);
    if (found != 0) return i + static_cast<std::size_t>(__builtin_ctzll(found));
    trail_first = (starts >> 63) != 0;
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
