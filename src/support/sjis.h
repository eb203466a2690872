// Shift_JIS (code page 932) byte classes.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace lowtags {

namespace sjis_detail {
constexpr std::array<bool, 256> MakeLeadTable() {
  std::array<bool, 256> t{};
  for (int c = 0x81; c <= 0x9F; ++c) t[c] = true;
  for (int c = 0xE0; c <= 0xFC; ++c) t[c] = true;
  return t;
}
inline constexpr std::array<bool, 256> kLead = MakeLeadTable();
}  // namespace sjis_detail

// A lead byte followed by any byte but NUL forms one two-byte character, whatever that byte is.
constexpr bool IsLeadByte(unsigned char c) { return sjis_detail::kLead[c]; }
constexpr bool IsLeadByte(char c) { return IsLeadByte(static_cast<unsigned char>(c)); }

// Length of the character that starts at s[i]: 2 for a lead byte with a byte after it, else 1.
// The end of s acts as the NUL that ends a string.
constexpr std::size_t CharLength(std::string_view s, std::size_t i) {
  return (IsLeadByte(s[i]) && i + 1 < s.size() && s[i + 1] != '\0') ? 2 : 1;
}

// True when s[q] starts a character for a walk that started at s[from] (from <= q).
// A byte outside the lead ranges always ends a character, so only the run of lead bytes
// right before q decides: q is a boundary when that run has even length.
constexpr bool IsCharBoundary(std::string_view s, std::size_t from, std::size_t q) {
  std::size_t run = 0;
  while (q - run > from && IsLeadByte(s[q - run - 1])) ++run;
  return run % 2 == 0;
}

}  // namespace lowtags
