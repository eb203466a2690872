#include "support/encoding_guard.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lowtags {

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101;
constexpr std::uint64_t kHighBits = 0x8080808080808080;

constexpr bool HasZeroByte(std::uint64_t v) { return ((v - kOnes) & ~v & kHighBits) != 0; }

// Bytes below 0x80 with neither NUL nor 0x1A among them change no rule, once every sequence is
// complete and no 0x1A waits for what follows it. Returns the first byte from p on that may.
const unsigned char* SkipPlain(const unsigned char* p, const unsigned char* end) {
#if defined(__SSE2__)
  const __m128i eof = _mm_set1_epi8(0x1A);
  for (; end - p >= 16; p += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i stops =
        _mm_or_si128(_mm_cmpeq_epi8(block, _mm_setzero_si128()), _mm_cmpeq_epi8(block, eof));
    if ((_mm_movemask_epi8(block) | _mm_movemask_epi8(stops)) != 0) return p;
  }
#endif
  for (; end - p >= 8; p += 8) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if ((v & kHighBits) != 0 || HasZeroByte(v) || HasZeroByte(v ^ (kOnes * 0x1A))) return p;
  }
  return p;
}

}  // namespace

std::string_view NotSjisWord(NotSjis rule) {
  switch (rule) {
    case NotSjis::kNul: return "NUL bytes";
    case NotSjis::kAfterEof: return "data after 0x1A";
    case NotSjis::kUtf8: return "UTF-8";
    case NotSjis::kEucJp: return "EUC-JP";
    case NotSjis::kNone: break;
  }
  return {};
}

void EncodingGuard::Feed(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* const end = p + bytes.size();
  while (p < end) {
    if (OnlyStopBytesLeft()) {
      p = NextStopByte(p, end);
      if (p == end) break;
      FeedByte(*p++);
      continue;
    }
    const bool between =
        !first_bytes_ && utf8_owed_ == 0 && euc_owed_ == 0 && (!seen_eof_byte_ || after_eof_);
    if (between) p = SkipPlain(p, end);
    if (p < end) FeedByte(*p++);
  }
}

// Shift_JIS text rules out UTF-8 and EUC-JP within its first few double-byte characters; from
// then on only a NUL or a 0x1A can change the verdict, and those are found by memchr.
bool EncodingGuard::OnlyStopBytesLeft() const {
  return !first_bytes_ && !utf8_valid_ && !euc_valid_ && (!seen_eof_byte_ || after_eof_);
}

const unsigned char* EncodingGuard::NextStopByte(const unsigned char* p,
                                                 const unsigned char* end) const {
  const auto n = static_cast<std::size_t>(end - p);
  const void* nul = std::memchr(p, 0, n);
  const unsigned char* stop = nul != nullptr ? static_cast<const unsigned char*>(nul) : end;
  if (!seen_eof_byte_) {
    const void* eof = std::memchr(p, 0x1A, static_cast<std::size_t>(stop - p));
    if (eof != nullptr) stop = static_cast<const unsigned char*>(eof);
  }
  return stop;
}

void EncodingGuard::FeedByte(unsigned char c) {
  if (first_bytes_) {
    static constexpr unsigned char kBom[3] = {0xEF, 0xBB, 0xBF};
    if (c == kBom[bom_matched_]) {
      bom_ = ++bom_matched_ == 3;
      first_bytes_ = !bom_;
    } else {
      first_bytes_ = false;
    }
  }
  if (c == 0) nul_ = true;
  if (c == 0x1A) {
    seen_eof_byte_ = true;
  } else if (seen_eof_byte_ && c != '\r' && c != '\n') {
    after_eof_ = true;
  }
  if (utf8_valid_) FeedUtf8(c);
  if (euc_valid_) FeedEuc(c);
}

void EncodingGuard::FeedUtf8(unsigned char c) {
  if (utf8_owed_ > 0) {
    if (c < utf8_low_ || c > utf8_high_) {
      utf8_valid_ = false;
      return;
    }
    --utf8_owed_;
    utf8_low_ = 0x80;
    utf8_high_ = 0xBF;
    return;
  }
  if (c < 0x80) return;
  if (c >= 0xC2 && c <= 0xDF) {
    utf8_owed_ = 1;
  } else if (c >= 0xE0 && c <= 0xEF) {
    utf8_owed_ = 2;
    utf8_long_ = true;
    if (c == 0xE0) utf8_low_ = 0xA0;
    if (c == 0xED) utf8_high_ = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    utf8_owed_ = 3;
    utf8_long_ = true;
    if (c == 0xF0) utf8_low_ = 0x90;
    if (c == 0xF4) utf8_high_ = 0x8F;
  } else {
    utf8_valid_ = false;
  }
}

void EncodingGuard::FeedEuc(unsigned char c) {
  if (c >= 0x80) {
    ++high_bytes_;
    if (c >= 0xE0) high_e0_ = true;
  }
  if (euc_owed_ > 0) {
    if (c < 0xA1 || c > euc_high_) {
      euc_valid_ = false;
      return;
    }
    --euc_owed_;
    euc_high_ = 0xFE;
    return;
  }
  if (c < 0x80) return;
  if (c >= 0xA1 && c <= 0xFE) {
    euc_owed_ = 1;
  } else if (c == 0x8E) {
    euc_owed_ = 1;
    euc_high_ = 0xDF;
  } else if (c == 0x8F) {
    euc_owed_ = 2;
  } else {
    euc_valid_ = false;
  }
}

NotSjis EncodingGuard::Verdict() const {
  if (nul_) return NotSjis::kNul;
  if (after_eof_) return NotSjis::kAfterEof;
  if (bom_ || (utf8_valid_ && utf8_owed_ == 0 && utf8_long_)) return NotSjis::kUtf8;
  if (euc_valid_ && euc_owed_ == 0 && high_bytes_ >= 8 && high_e0_) return NotSjis::kEucJp;
  return NotSjis::kNone;
}

NotSjis CheckNotSjis(std::string_view bytes) {
  EncodingGuard guard;
  guard.Feed(bytes);
  return guard.Verdict();
}

}  // namespace lowtags
