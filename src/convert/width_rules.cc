#include "convert/width_rules.h"

#include "convert/options.h"
#include "convert/width_tables.h"

namespace lowtags {

namespace {

// A kana and its voicing mark merge when the pair is one of the listed voiced kana; anything
// else, a lone mark included, widens by itself and the line grows by a byte.
void WidenKana(LineEdit& edit, unsigned char kana) {
  const unsigned char mark = edit.Byte(1);
  if (mark == 0xDE || mark == 0xDF) {
    const int voiced = VoicedIndex(kana, mark);
    if (voiced >= 0) {
      edit.Skip(2);
      edit.Put(WideVoiced(voiced));
      return;
    }
  }
  edit.Skip(1);
  edit.Put(WideKana(kana));
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

void ConvertWidthOrStep(LineEdit& edit) {
  const unsigned char c = edit.Byte();
  if (Options.kana_to_wide && IsHalfWidthKana(c)) {
    WidenKana(edit, c);
    return;
  }
  if ((Options.digits_to_narrow || Options.letters_to_narrow) && IsLeadByte(c) &&
      NarrowFullWidthAlnum(edit, c)) {
    return;
  }
  edit.Step();
}

}  // namespace lowtags
