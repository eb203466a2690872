#include "support/cp932_utf8.h"

#include <iconv.h>

#include <bit>
#include <cstring>
#include <stdexcept>

#include "support/sjis.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lowtags {

namespace {

class Iconv {
 public:
  Iconv() : cd_(::iconv_open("UTF-8", "CP932")) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error("the C library cannot convert CP932 to UTF-8");
    }
  }
  ~Iconv() { ::iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // The entry for one character: it must convert whole, to one UTF-8 character of 1 to 3 bytes.
  std::uint32_t Entry(const char* bytes, std::size_t n) {
    char in[2];
    std::memcpy(in, bytes, n);
    char out[8];
    char* src = in;
    char* dst = out;
    std::size_t src_left = n;
    std::size_t dst_left = sizeof out;
    ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // a fresh state for every character
    const std::size_t rc = ::iconv(cd_, &src, &src_left, &dst, &dst_left);
    const std::size_t len = sizeof out - dst_left;
    if (rc == static_cast<std::size_t>(-1) || src_left != 0 || len == 0 || len > 3) return 0;
    std::uint32_t entry = static_cast<std::uint32_t>(len) << 24;
    for (std::size_t i = 0; i < len; ++i) {
      entry |= std::uint32_t{static_cast<unsigned char>(out[i])} << (8 * i);
    }
    return entry;
  }

 private:
  iconv_t cd_;
};

// The word steps take the first byte as the lowest.
constexpr bool kLittleEndian = std::endian::native == std::endian::little;
// Copies the bytes before the first that is not ASCII, or under CR LF is a newline, counts the
// newlines among them, and returns their count. Up to 15 more bytes may be written past them,
// within the room of `p`'s bytes.
template <bool kCrLf>
inline std::size_t CopyAscii(const unsigned char* p, std::size_t n, char* out, std::size_t* lines) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i newline = _mm_set1_epi8('\n');
  const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  for (; n - i >= 16; i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), block);
    const __m128i is_newline = _mm_cmpeq_epi8(block, newline);
    const int stops = _mm_movemask_epi8(block) | (kCrLf ? _mm_movemask_epi8(is_newline) : 0);
    const int ascii = stops == 0 ? 16 : std::countr_zero(static_cast<unsigned>(stops));
    if (!kCrLf) {  // the newlines among the bytes taken, each a 1, summed
      const __m128i taken = _mm_cmplt_epi8(index, _mm_set1_epi8(static_cast<char>(ascii)));
      const __m128i ones = _mm_and_si128(_mm_and_si128(is_newline, taken), _mm_set1_epi8(1));
      const __m128i sums = _mm_sad_epu8(ones, _mm_setzero_si128());
      *lines += static_cast<std::size_t>(_mm_cvtsi128_si32(sums) +
                                         _mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    }
    if (stops != 0) return i + static_cast<std::size_t>(ascii);
  }
#endif
  for (; i < n && p[i] < 0x80 && !(kCrLf && p[i] == '\n'); ++i) {
    out[i] = static_cast<char>(p[i]);
    *lines += p[i] == '\n' ? 1 : 0;
  }
  return i;
}

// IsLeadByte by arithmetic, without a load: 81-9F and E0-FC, with bit 5 flipped, are A1-DC.
constexpr bool Lead(unsigned char c) {
  return static_cast<unsigned char>((c ^ 0x20) - 0xA1) < 0x3C;
}
constexpr bool LeadAgrees() {
  for (int c = 0; c < 256; ++c) {
    if (Lead(static_cast<unsigned char>(c)) != IsLeadByte(static_cast<unsigned char>(c)))
      return false;
  }
  return true;
}
static_assert(LeadAgrees());

// Writes the entry's four bytes, its count in the last of them; only the count of bytes is
// kept. Output stays within three bytes per input byte before it, plus one per newline, so the
// room of four per input byte holds the extra byte, and a whole block while one is left.
inline std::size_t Put(std::uint32_t entry, char* out) {
  if constexpr (kLittleEndian) {
    std::memcpy(out, &entry, sizeof entry);
  } else {
    out[0] = static_cast<char>(entry);
    out[1] = static_cast<char>(entry >> 8);
    out[2] = static_cast<char>(entry >> 16);
  }
  return entry >> 24;
}

}  // namespace

const Cp932ToUtf8& Cp932ToUtf8::Get() {
  static const Cp932ToUtf8 table;
  return table;
}

Cp932ToUtf8::Cp932ToUtf8() {
  Iconv cd;
  for (int c = 0; c < 256; ++c) {
    const char byte = static_cast<char>(c);
    const auto row = static_cast<std::size_t>(c) * 256;
    if (!IsLeadByte(byte)) {
      table_[row] = cd.Entry(&byte, 1);
      // ASCII is copied as it stands, not looked up.
      if (c < 0x80 && table_[row] != ((1u << 24) | static_cast<unsigned>(c))) {
        throw std::runtime_error("the C library's CP932 does not keep ASCII as it is");
      }
      continue;
    }
    for (int second = 0; second < 256; ++second) {
      const char pair[2] = {byte, static_cast<char>(second)};
      table_[row + static_cast<std::size_t>(second)] = cd.Entry(pair, 2);
    }
  }
}

Cp932ToUtf8::Step Cp932ToUtf8::Convert(std::string_view in, char* out, bool crlf) const {
  return crlf ? Run<true>(in, out) : Run<false>(in, out);
}

// ASCII goes in blocks up to the first byte that is not ASCII, or a newline under CR LF; the run of
// characters that are not ASCII then goes in a loop of its own, so that the branches stay
// predictable within each kind of run. Each newline is counted, for the line number of a
// sequence that does not map. The table is read through a local: stores through `out` could
// otherwise alias it.
template <bool kCrLf>
Cp932ToUtf8::Step Cp932ToUtf8::Run(std::string_view in, char* out) const {
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const std::size_t n = in.size();
  const std::uint32_t* const table = table_.data();
  std::size_t i = 0;
  std::size_t o = 0;
  std::size_t lines = 0;
  while (i < n) {
    const std::size_t ascii = CopyAscii<kCrLf>(p + i, n - i, out + o, &lines);
    i += ascii;
    o += ascii;
    if (i == n) break;
    unsigned char c = p[i];
    if (c == '\n') {  // under CR LF
      ++lines;
      out[o++] = '\r';
      out[o++] = '\n';
      ++i;
      continue;
    }
    for (;;) {  // c is not ASCII
      std::size_t take = 1;
      std::uint32_t entry;
      if (Lead(c)) {
        if (i + 1 == n) return {i, o, lines, false};  // its second byte is still to come
        entry = table[c * 256u + p[i + 1]];
        take = 2;
      } else {
        entry = table[c * 256u];
      }
      if (entry == 0) return {i, o, lines, true};
      o += Put(entry, out + o);
      i += take;
      if (i == n || (c = p[i]) < 0x80) break;
    }
  }
  return {i, o, lines, false};
}

}  // namespace lowtags
