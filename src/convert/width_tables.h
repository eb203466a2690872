// Correspondence tables for character width conversion: full-width digits and Latin letters
// against ASCII, half-width katakana against full-width katakana, and the voiced pairs that
// merge into one full-width kana.
#pragma once

#include <string_view>

namespace lowtags {

// Each table is a NUL-free byte string; entry i of one table corresponds to entry i of its
// partner. Two-byte entries are Shift_JIS codes, lead byte first.
extern const std::string_view wide_alnum;     // 62 two-byte: ０-９, Ａ-Ｚ, ａ-ｚ
extern const std::string_view narrow_alnum;   // 62 one-byte: 0-9, A-Z, a-z
extern const std::string_view narrow_kana;    // 63 one-byte: 0xA1..0xDF
extern const std::string_view wide_kana;      // 63 two-byte
extern const std::string_view narrow_voiced;  // 26 two-byte pairs: kana + 0xDE or 0xDF
extern const std::string_view wide_voiced;    // 26 two-byte

// Entries 0..9 of wide_alnum are the digits, 10..61 the letters.
inline constexpr int kWideDigitCount = 10;

// The full-width period, comma and minus that turn ASCII between two full-width digits.
inline constexpr std::string_view kWidePeriod = "\x81\x44";
inline constexpr std::string_view kWideComma = "\x81\x43";
inline constexpr std::string_view kWideMinus = "\x81\x7C";

// Lookups built from the tables at compile time; none of them searches at run time.

// Index into wide_alnum of the character lead+trail, or -1.
int WideAlnumIndex(unsigned char lead, unsigned char trail);
// Index into narrow_voiced of the pair kana+mark, or -1 (a pair missing from the list, such
// as ｱﾞ, is not voiced).
int VoicedIndex(unsigned char kana, unsigned char mark);
// The two-byte entry of wide_kana for a half-width kana 0xA1..0xDF; empty for any other byte.
std::string_view WideKana(unsigned char kana);
// Entry `index` of wide_voiced; empty when index is outside 0..25.
std::string_view WideVoiced(int index);
// Entry `index` of narrow_alnum; '\0' when index is outside 0..61.
char NarrowAlnum(int index);
// '.', ',' or '-' for the full-width period, comma or minus; 0 for any other pair.
int WidePunctuation(unsigned char lead, unsigned char trail);

}  // namespace lowtags
