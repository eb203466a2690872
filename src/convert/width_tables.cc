#include "convert/width_tables.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace lowtags {

// Every byte is escaped: a plain character after a hex escape would be read as part of it, and
// many trail bytes look like ASCII (ソ ends in 0x5C, a backslash).
constexpr std::string_view wide_alnum =
    "\x82\x4F\x82\x50\x82\x51\x82\x52\x82\x53"  // ０１２３４
    "\x82\x54\x82\x55\x82\x56\x82\x57\x82\x58"  // ５６７８９
    "\x82\x60\x82\x61\x82\x62\x82\x63\x82\x64"  // ＡＢＣＤＥ
    "\x82\x65\x82\x66\x82\x67\x82\x68\x82\x69"  // ＦＧＨＩＪ
    "\x82\x6A\x82\x6B\x82\x6C\x82\x6D\x82\x6E"  // ＫＬＭＮＯ
    "\x82\x6F\x82\x70\x82\x71\x82\x72\x82\x73"  // ＰＱＲＳＴ
    "\x82\x74\x82\x75\x82\x76\x82\x77\x82\x78"  // ＵＶＷＸＹ
    "\x82\x79"                                  // Ｚ
    "\x82\x81\x82\x82\x82\x83\x82\x84\x82\x85"  // ａｂｃｄｅ
    "\x82\x86\x82\x87\x82\x88\x82\x89\x82\x8A"  // ｆｇｈｉｊ
    "\x82\x8B\x82\x8C\x82\x8D\x82\x8E\x82\x8F"  // ｋｌｍｎｏ
    "\x82\x90\x82\x91\x82\x92\x82\x93\x82\x94"  // ｐｑｒｓｔ
    "\x82\x95\x82\x96\x82\x97\x82\x98\x82\x99"  // ｕｖｗｘｙ
    "\x82\x9A";                                 // ｚ

constexpr std::string_view narrow_alnum =
    "0123456789"
    "ABCDEFGHIJ"
    "KLMNOPQRST"
    "UVWXYZ"
    "abcdefghij"
    "klmnopqrst"
    "uvwxyz";

constexpr std::string_view narrow_kana =
    "\xA1\xA2\xA3\xA4\xA5"  // ｡｢｣､･
    "\xA6\xA7\xA8\xA9\xAA"  // ｦｧｨｩｪ
    "\xAB\xAC\xAD\xAE\xAF"  // ｫｬｭｮｯ
    "\xB0\xB1\xB2\xB3\xB4"  // ｰｱｲｳｴ
    "\xB5\xB6\xB7\xB8\xB9"  // ｵｶｷｸｹ
    "\xBA\xBB\xBC\xBD\xBE"  // ｺｻｼｽｾ
    "\xBF\xC0\xC1\xC2\xC3"  // ｿﾀﾁﾂﾃ
    "\xC4\xC5\xC6\xC7\xC8"  // ﾄﾅﾆﾇﾈ
    "\xC9\xCA\xCB\xCC\xCD"  // ﾉﾊﾋﾌﾍ
    "\xCE\xCF\xD0\xD1\xD2"  // ﾎﾏﾐﾑﾒ
    "\xD3\xD4\xD5\xD6\xD7"  // ﾓﾔﾕﾖﾗ
    "\xD8\xD9\xDA\xDB\xDC"  // ﾘﾙﾚﾛﾜ
    "\xDD\xDE\xDF";         // ﾝﾞﾟ

// Same rows as narrow_kana. A lone voicing mark becomes the spacing ゛ or ゜.
constexpr std::string_view wide_kana =
    "\x81\x42\x81\x75\x81\x76\x81\x41\x81\x45"  // 。「」、・
    "\x83\x92\x83\x40\x83\x42\x83\x44\x83\x46"  // ヲァィゥェ
    "\x83\x48\x83\x83\x83\x85\x83\x87\x83\x62"  // ォャュョッ
    "\x81\x5B\x83\x41\x83\x43\x83\x45\x83\x47"  // ーアイウエ
    "\x83\x49\x83\x4A\x83\x4C\x83\x4E\x83\x50"  // オカキクケ
    "\x83\x52\x83\x54\x83\x56\x83\x58\x83\x5A"  // コサシスセ
    "\x83\x5C\x83\x5E\x83\x60\x83\x63\x83\x65"  // ソタチツテ
    "\x83\x67\x83\x69\x83\x6A\x83\x6B\x83\x6C"  // トナニヌネ
    "\x83\x6D\x83\x6E\x83\x71\x83\x74\x83\x77"  // ノハヒフヘ
    "\x83\x7A\x83\x7D\x83\x7E\x83\x80\x83\x81"  // ホマミムメ
    "\x83\x82\x83\x84\x83\x86\x83\x88\x83\x89"  // モヤユヨラ
    "\x83\x8A\x83\x8B\x83\x8C\x83\x8D\x83\x8F"  // リルレロワ
    "\x83\x93\x81\x4A\x81\x4B";                 // ン゛゜

// Only these pairs merge; ｳﾞ is the one vowel that takes a mark, and it comes last.
constexpr std::string_view narrow_voiced =
    "\xB6\xDE\xB7\xDE\xB8\xDE\xB9\xDE\xBA\xDE"  // ｶﾞｷﾞｸﾞｹﾞｺﾞ
    "\xBB\xDE\xBC\xDE\xBD\xDE\xBE\xDE\xBF\xDE"  // ｻﾞｼﾞｽﾞｾﾞｿﾞ
    "\xC0\xDE\xC1\xDE\xC2\xDE\xC3\xDE\xC4\xDE"  // ﾀﾞﾁﾞﾂﾞﾃﾞﾄﾞ
    "\xCA\xDE\xCA\xDF\xCB\xDE\xCB\xDF\xCC\xDE"  // ﾊﾞﾊﾟﾋﾞﾋﾟﾌﾞ
    "\xCC\xDF\xCD\xDE\xCD\xDF\xCE\xDE\xCE\xDF"  // ﾌﾟﾍﾞﾍﾟﾎﾞﾎﾟ
    "\xB3\xDE";                                 // ｳﾞ

constexpr std::string_view wide_voiced =
    "\x83\x4B\x83\x4D\x83\x4F\x83\x51\x83\x53"  // ガギグゲゴ
    "\x83\x55\x83\x57\x83\x59\x83\x5B\x83\x5D"  // ザジズゼゾ
    "\x83\x5F\x83\x61\x83\x64\x83\x66\x83\x68"  // ダヂヅデド
    "\x83\x6F\x83\x70\x83\x72\x83\x73\x83\x75"  // バパビピブ
    "\x83\x76\x83\x78\x83\x79\x83\x7B\x83\x7C"  // プベペボポ
    "\x83\x94";                                 // ヴ

namespace {

using Slot = std::int16_t;  // an entry index, or kNone
constexpr Slot kNone = -1;
constexpr std::size_t kAlnumCount = 62;
constexpr std::size_t kKanaCount = 63;
constexpr std::size_t kVoicedCount = 26;
constexpr unsigned char kKanaBase = 0xA0;  // kana lookups cover 0xA0..0xDF
constexpr std::size_t kKanaSpan = 64;
constexpr unsigned char kVoicedMark = 0xDE;  // ﾞ; the semi-voiced mark ﾟ follows it

constexpr unsigned char Byte(std::string_view s, std::size_t i) {
  return static_cast<unsigned char>(s[i]);
}

constexpr bool IsKana(unsigned char c) { return c > kKanaBase && c < kKanaBase + kKanaSpan; }

constexpr bool IsMark(unsigned char c) { return c == kVoicedMark || c == kVoicedMark + 1; }

constexpr bool HasNoNul(std::string_view s) { return s.find('\0') == std::string_view::npos; }

// True when no two entries of `width` bytes in s are equal.
constexpr bool EntriesDistinct(std::string_view s, std::size_t width) {
  for (std::size_t i = 0; i < s.size(); i += width) {
    for (std::size_t j = i + width; j < s.size(); j += width) {
      if (s.substr(i, width) == s.substr(j, width)) {
        return false;
      }
    }
  }
  return true;
}

constexpr bool AllKana(std::string_view s) {
  for (char c : s) {
    if (!IsKana(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return true;
}

constexpr bool PairsAreKanaWithMark(std::string_view s) {
  for (std::size_t i = 0; i + 1 < s.size(); i += 2) {
    if (!IsKana(Byte(s, i)) || !IsMark(Byte(s, i + 1))) {
      return false;
    }
  }
  return s.size() % 2 == 0;
}

constexpr bool SameLeadThroughout(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); i += 2) {
    if (s[i] != s[0]) {
      return false;
    }
  }
  return true;
}

static_assert(wide_alnum.size() == 2 * kAlnumCount && narrow_alnum.size() == kAlnumCount);
static_assert(narrow_kana.size() == kKanaCount && wide_kana.size() == 2 * kKanaCount);
static_assert(narrow_voiced.size() == 2 * kVoicedCount && wide_voiced.size() == 2 * kVoicedCount);
static_assert(HasNoNul(wide_alnum) && HasNoNul(narrow_alnum) && HasNoNul(narrow_kana) &&
              HasNoNul(wide_kana) && HasNoNul(narrow_voiced) && HasNoNul(wide_voiced));
static_assert(EntriesDistinct(wide_alnum, 2) && EntriesDistinct(narrow_kana, 1) &&
              EntriesDistinct(narrow_voiced, 2));
static_assert(AllKana(narrow_kana) && PairsAreKanaWithMark(narrow_voiced));
// The full-width digits and letters share one lead byte, so a row over the trail byte is enough.
static_assert(SameLeadThroughout(wide_alnum));

constexpr unsigned char kAlnumLead = Byte(wide_alnum, 0);

constexpr std::array<Slot, 256> MakeAlnumByTrail() {
  std::array<Slot, 256> t{};
  t.fill(kNone);
  for (std::size_t i = 0; i < kAlnumCount; ++i) {
    t[Byte(wide_alnum, 2 * i + 1)] = static_cast<Slot>(i);
  }
  return t;
}

constexpr std::array<Slot, kKanaSpan> MakeKanaIndex() {
  std::array<Slot, kKanaSpan> t{};
  t.fill(kNone);
  for (std::size_t i = 0; i < kKanaCount; ++i) {
    t[Byte(narrow_kana, i) - kKanaBase] = static_cast<Slot>(i);
  }
  return t;
}

// Indexed by [mark - 0xDE][kana - 0xA0].
constexpr std::array<std::array<Slot, kKanaSpan>, 2> MakeVoicedIndex() {
  std::array<std::array<Slot, kKanaSpan>, 2> t{};
  for (auto& row : t) {
    row.fill(kNone);
  }
  for (std::size_t i = 0; i < kVoicedCount; ++i) {
    const unsigned char kana = Byte(narrow_voiced, 2 * i);
    const unsigned char mark = Byte(narrow_voiced, 2 * i + 1);
    t[mark - kVoicedMark][kana - kKanaBase] = static_cast<Slot>(i);
  }
  return t;
}

constexpr std::array<Slot, 256> kAlnumByTrail = MakeAlnumByTrail();
constexpr std::array<Slot, kKanaSpan> kKanaIndex = MakeKanaIndex();
constexpr std::array<std::array<Slot, kKanaSpan>, 2> kVoicedIndex = MakeVoicedIndex();

constexpr std::string_view TwoByteEntry(std::string_view table, std::size_t i) {
  return table.substr(2 * i, 2);
}

}  // namespace

int WideAlnumIndex(unsigned char lead, unsigned char trail) {
  return lead == kAlnumLead ? kAlnumByTrail[trail] : kNone;
}

int VoicedIndex(unsigned char kana, unsigned char mark) {
  if (!IsKana(kana) || !IsMark(mark)) {
    return kNone;
  }
  return kVoicedIndex[mark - kVoicedMark][kana - kKanaBase];
}

std::string_view WideKana(unsigned char kana) {
  if (!IsKana(kana)) {
    return {};
  }
  const Slot i = kKanaIndex[kana - kKanaBase];
  return i == kNone ? std::string_view{} : TwoByteEntry(wide_kana, static_cast<std::size_t>(i));
}

std::string_view WideVoiced(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= kVoicedCount) {
    return {};
  }
  return TwoByteEntry(wide_voiced, static_cast<std::size_t>(index));
}

char NarrowAlnum(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= kAlnumCount) {
    return '\0';
  }
  return narrow_alnum[static_cast<std::size_t>(index)];
}

int WidePunctuation(unsigned char lead, unsigned char trail) {
  const std::array<char, 2> pair = {static_cast<char>(lead), static_cast<char>(trail)};
  const std::string_view s(pair.data(), pair.size());
  if (s == kWidePeriod) {
    return '.';
  }
  if (s == kWideComma) {
    return ',';
  }
  if (s == kWideMinus) {
    return '-';
  }
  return 0;
}

}  // namespace lowtags
