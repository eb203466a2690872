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

#endif

// Which lead bytes of a 16-byte block start a character. Lead bytes pair up from the start of
// each run of them, as escapes do: a run that begins at an even bit covers its even bits, one
// that begins at an odd bit its odd bits. `trail_first` says that bit 0 ends a character begun
// in the block before.
std::uint32_t LeadStarts(std::uint32_t leads, bool trail_first) {
  constexpr std::uint32_t kEven = 0x5555;
  const std::uint32_t starts = leads & ~(leads << 1);
  std::uint32_t even_starts = starts & kEven;
  if (trail_first) even_starts &= ~1u;  // bit 0 ends a character: its run starts at bit 1
  // Adding a run's first bit clears the run; what was cleared belongs to an even-started run.
  const std::uint32_t even_runs = leads & ~(leads + even_starts);
  const std::uint32_t odd_runs = leads & ~even_runs;
  return ((even_runs & kEven) | (odd_runs & ~kEven & 0xFFFF)) & ~(trail_first ? 1u : 0u);
}

}  // namespace

std::size_t StopSet::FindAtCharStart(const char* p, std::size_t n) const {
  std::size_t i = 0;
  bool trail_first = false;
#if defined(__SSE2__)
  // The pair test reads one byte past each block.
  for (; i + 17 <= n; i += 16) {
    const auto stops = static_cast<std::uint32_t>(Mask16(p + i));
    const auto leads = static_cast<std::uint32_t>(LeadMask16(p + i));
    const std::uint32_t starts = LeadStarts(leads, trail_first);
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
