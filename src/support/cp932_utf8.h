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
  // the C library cannot convert from CP932 to UTF-8.
  static const Cp932ToUtf8& Get();

  // Output room for n bytes of input: a half-width katakana byte becomes three bytes.
  static constexpr std::size_t Room(std::size_t n) { return 3 * n; }

  struct Step {
    std::size_t used = 0;     // input bytes converted
    std::size_t written = 0;  // output bytes
    bool bad = false;         // input[used] starts a sequence CP932 does not map
  };
  // Converts from the start of `in` into `out` (Room(in.size()) bytes), stopping at a sequence
  // that does not map, or before a lead byte that is the last byte of `in`: its second byte
  // may follow in the next text.
  Step Convert(std::string_view in, char* out) const;

 private:
  Cp932ToUtf8();
  // An entry holds the UTF-8 bytes in its low three bytes, first byte lowest, and their count
  // in the high byte; 0 means the character does not map.
  std::array<std::uint32_t, 256> single_{};
  std::array<std::uint32_t, 256 * 256> pair_{};  // by lead byte * 256 + second byte
  bool ascii_same_ = false;                      // bytes below 0x80 map to themselves
};

}  // namespace lowtags
