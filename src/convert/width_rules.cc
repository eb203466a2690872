#include "convert/width_rules.h"

#include <array>
#include <cstring>

#include "convert/options.h"
#include "convert/width_tables.h"

namespace lowtags {

namespace {

// Each half-width kana as its two-byte full-width form, indexed by the byte, and whether a
// voicing mark after it can merge with it (only 20 of the 63 can).
struct WideKanaTable {
  std::array<std::array<char, 2>, 256> wide{};
  std::array<bool, 256> voiceable{};
};

WideKanaTable MakeWideKanaTable() {
  WideKanaTable t;
  for (int c = 0xA1; c <= 0xDF; ++c) {
    const auto kana = static_cast<unsigned char>(c);
    const std::string_view wide = WideKana(kana);
    t.wide[c] = {wide[0], wide[1]};
    t.voiceable[c] = VoicedIndex(kana, 0xDE) >= 0 || VoicedIndex(kana, 0xDF) >= 0;
  }
  return t;
}

bool IsWideDigit(unsigned char lead, unsigned char trail) {
  const int i = WideAlnumIndex(lead, trail);
  return i >= 0 && i < 10;
}

// A full-width period, comma or minus turns ASCII only between two full-width digits; the digit
// after it is converted when the scan reaches it.
void NarrowDigitPunctuation(LineEdit& edit) {
  const int mark = WidePunctuation(edit.Byte(0), edit.Byte(1));
  if (mark == 0 || !IsWideDigit(edit.Byte(2), edit.Byte(3))) return;
  edit.Skip(2);
  edit.Put(static_cast<char>(mark));
}

bool NarrowFullWidthAlnum(LineEdit& edit, unsigned char lead) {
  const int i = WideAlnumIndex(lead, edit.Byte(1));
  if (i < 0) return false;
  const bool digit = i < 10;
  if (!(digit ? Options.digits_to_narrow : Options.letters_to_narrow)) return false;
  edit.Skip(2);
  edit.Put(NarrowAlnum(i));
  if (digit) NarrowDigitPunctuation(edit);
  return true;
}

}  // namespace

// A run of half-width kana under -k, each widened or merged with its voicing mark.
void WidenKanaRun(LineEdit& edit) {
  static const WideKanaTable kTable = MakeWideKanaTable();
  LineEdit::Raw raw = edit.Open();
  const char* const in = raw.in;
  char* const out = raw.out;
  const WideKanaTable& table = kTable;
  const std::size_t e = raw.e;
  std::size_t r = raw.r;
  std::size_t w = raw.w;
  while (r < e) {
    const auto kana = static_cast<unsigned char>(in[r]);
    if (!IsHalfWidthKana(kana)) break;
    if (table.voiceable[kana] && r + 1 < e) {
      const auto mark = static_cast<unsigned char>(in[r + 1]);
      if (const int voiced = VoicedIndex(kana, mark); voiced >= 0) {
        std::memcpy(out + w, WideVoiced(voiced).data(), 2);
        w += 2;
        r += 2;
        continue;
      }
    }
    std::memcpy(out + w, table.wide[kana].data(), 2);
    w += 2;
    ++r;
  }
  raw.r = r;
  raw.w = w;
  edit.Commit(raw);
}

void ConvertWidthOrStep(LineEdit& edit) {
  const unsigned char c = edit.Byte();
  if (Options.kana_to_wide && IsHalfWidthKana(c)) {
    WidenKanaRun(edit);
    return;
  }
  if ((Options.digits_to_narrow || Options.letters_to_narrow) && IsLeadByte(c) &&
      NarrowFullWidthAlnum(edit, c)) {
    return;
  }
  edit.Step();
}

}  // namespace lowtags
