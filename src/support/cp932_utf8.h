// Code page 932 text to UTF-8 by the C library's iconv(3). Each character's UTF-8 form is
// asked of iconv once, when the table is built, and taken from the table after that: a call
// into iconv per character, or per short run between ASCII, would cost more than the rules.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lowtags {

class Cp932ToUtf8 {
 public:
  // The table, built on first use and never changed afterwards. Throws std::runtime_error when
  // the C library cannot convert from CP932 to UTF-8, or does not keep ASCII as it is.
  static const Cp932ToUtf8& Get();

  // Output room for n bytes of input: a half-width katakana byte becomes three bytes, a newline
  // two under CR LF.
  static constexpr std::size_t Room(std::size_t n) { return 4 * n; }

  struct Step {
    std::size_t used = 0;     // input bytes converted
    std::size_t written = 0;  // output bytes
    std::size_t lines = 0;    // newlines among the bytes converted
    bool bad = false;         // input[used] starts a sequence CP932 does not map
  };
  // Converts from the start of `in` into `out` (Room(in.size()) bytes), each newline as CR LF
  // when `crlf` is set, stopping at a sequence that does not map, or before a lead byte that is
  // the last byte of `in`: its second byte may follow in the next text.
  Step Convert(std::string_view in, char* out, bool crlf = false) const;

 private:
  Cp932ToUtf8();
  template <bool kCrLf>
  Step Run(std::string_view in, char* out) const;
  // By first byte * 256, plus the second byte after a lead byte: the UTF-8 bytes in the low
  // three bytes, first byte lowest, and their count in the high byte; 0 means no mapping.
  std::array<std::uint32_t, 256 * 256> table_{};
};

}  // namespace lowtags
