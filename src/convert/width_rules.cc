#include "convert/width_rules.h"

#include <array>
#include <cstring>

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

// The byte k places into `text`; NUL past its end, as after a C string.
unsigned char ByteAt(std::string_view text, std::size_t k) {
  return k < text.size() ? static_cast<unsigned char>(text[k]) : 0;
}

}  // namespace

WidthStep WidenKana(std::string_view text, char* out) {
  static const WideKanaTable kTable = MakeWideKanaTable();
  const WideKanaTable& table = kTable;
  const char* const in = text.data();
  const std::size_t e = text.size();
  std::size_t r = 0;
  std::size_t w = 0;
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
  return {r, w};
}

WidthStep NarrowAlnumAt(std::string_view text, char* out, const OptionSet& options) {
  const int i = WideAlnumIndex(ByteAt(text, 0), ByteAt(text, 1));
  if (i < 0) return {};
  const bool digit = i < kWideDigitCount;
  if (!(digit ? options.digits_to_narrow : options.letters_to_narrow)) return {};
  out[0] = NarrowAlnum(i);
  // A full-width period, comma or minus turns ASCII only between two full-width digits; the
  // digit after it is converted when the scan reaches it.
  const int mark = digit ? WidePunctuation(ByteAt(text, 2), ByteAt(text, 3)) : 0;
  if (mark == 0 || !IsWideDigit(ByteAt(text, 4), ByteAt(text, 5))) return {2, 1};
  out[1] = static_cast<char>(mark);
  return {4, 2};
}

void WidenKanaRun(LineEdit& edit) {
  LineEdit::Raw raw = edit.Open();
  const WidthStep step =
      WidenKana(std::string_view(raw.in + raw.r, raw.e - raw.r), raw.out + raw.w);
  raw.r += step.read;
  raw.w += step.written;
  edit.Commit(raw);
}

WidthStep ConvertWidthAt(std::string_view text, char* out, const OptionSet& options) {
  const unsigned char c = ByteAt(text, 0);
  if (options.kana_to_wide && IsHalfWidthKana(c)) return WidenKana(text, out);
  if ((options.digits_to_narrow || options.letters_to_narrow) && IsLeadByte(c)) {
    return NarrowAlnumAt(text, out, options);
  }
  return {};
}

void ConvertWidthOrStep(LineEdit& edit, const OptionSet& options) {
  LineEdit::Raw raw = edit.Open();
  const WidthStep step = ConvertWidthAt(edit.Rest(), raw.out + raw.w, options);
  if (step.read == 0) {
    edit.Step();
    return;
  }
  raw.r += step.read;
  raw.w += step.written;
  edit.Commit(raw);
}

}  // namespace lowtags
