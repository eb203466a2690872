// Tells a file that is not Shift_JIS text from one that is, by its bytes as stored.
#pragma once

#include <cstddef>
#include <string_view>

namespace lowtags {

// What makes a file not Shift_JIS text; the first that holds is the one given.
enum class NotSjis {
  kNone,      // nothing against it: convert it
  kNul,       // a byte 0x00
  kAfterEof,  // a 0x1A byte with a byte other than 0x1A, CR or LF anywhere after it
  kUtf8,      // a UTF-8 byte order mark, or valid UTF-8 holding a 3- or 4-byte sequence
  kEucJp,     // 8 or more high bytes, one at least 0xE0, every one part of an EUC-JP sequence
};

// The word that names the rule in the refusal message; empty for kNone.
std::string_view NotSjisWord(NotSjis rule);

// Follows a file's bytes block by block, so that a file of any size is judged in fixed memory.
class EncodingGuard {
 public:
  // The next bytes of the file, in order.
  void Feed(std::string_view bytes);
  // The judgement on all the bytes fed so far, taken as the whole file.
  NotSjis Verdict() const;
  // True once more bytes cannot change the verdict.
  bool Settled() const { return nul_; }

 private:
  bool OnlyStopBytesLeft() const;
  // The first byte from p on that could change the verdict, or end.
  const unsigned char* NextStopByte(const unsigned char* p, const unsigned char* end) const;
  void FeedByte(unsigned char c);
  void FeedUtf8(unsigned char c);
  void FeedEuc(unsigned char c);

  bool first_bytes_ = true;  // the first three bytes are still being compared with the BOM
  std::size_t bom_matched_ = 0;
  bool bom_ = false;
  bool nul_ = false;
  bool seen_eof_byte_ = false;
  bool after_eof_ = false;
  // UTF-8: bytes still owed by the sequence in progress, and the range its next byte must lie
  // in (narrower than 80-BF after E0, ED, F0 and F4: no overlong forms, no surrogates).
  bool utf8_valid_ = true;
  bool utf8_long_ = false;
  int utf8_owed_ = 0;
  unsigned char utf8_low_ = 0x80;
  unsigned char utf8_high_ = 0xBF;
  // EUC-JP: bytes still owed by the sequence in progress, and the highest byte the next may be.
  bool euc_valid_ = true;
  int euc_owed_ = 0;
  unsigned char euc_high_ = 0xFE;
  std::size_t high_bytes_ = 0;
  bool high_e0_ = false;
};

// The verdict on a whole file held in memory.
NotSjis CheckNotSjis(std::string_view bytes);

}  // namespace lowtags
