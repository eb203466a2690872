#include "convert/scanner.h"

#include <array>
#include <cstring>

#include "convert/markup.h"
#include "convert/plain_scan.h"
#include "convert/tag_rules.h"
#include "convert/width_rules.h"
#include "simd/byte_scan.h"

namespace lowtags {

namespace {

// The bytes at which some rule may apply; everything between them passes unchanged. Every
// full-width digit and letter begins with 0x82; half-width kana are 0xA1 to 0xDF.
constexpr StopSet kTextStops{'<', '>', '-', '\n'};
constexpr StopSet kTextStopsKana{{'<', '>', '-', '\n'}, 0xA1, 0xDF};
// Full-width digits and letters are 0x82 0x4F to 0x82 0x9A; the hiragana after them share the
// lead byte and must not stop the search.
constexpr StopSet kTextStopsAlnum = kTextStops.WithPair(0x82, 0x4F, 0x9A);
constexpr StopSet kTextStopsBoth = kTextStopsKana.WithPair(0x82, 0x4F, 0x9A);
constexpr StopSet kCommentStops{'<', '-', '\n'};
constexpr StopSet kQuotedStops{'"', '<', '>', '-', '\n'};

const StopSet& TextStops(const OptionSet& options) {
  const bool kana = options.kana_to_wide;
  const bool alnum = options.digits_to_narrow || options.letters_to_narrow;
  if (kana) return alnum ? kTextStopsBoth : kTextStopsKana;
  return alnum ? kTextStopsAlnum : kTextStops;
}

// Passes bytes up to the next one in `stops` that starts a character: a trail byte can look
// like '<', a kana or a letter.
void KeepUntil(LineEdit& edit, const StopSet& stops) {
  const std::string_view rest = edit.Rest();
  edit.Keep(stops.FindAtCharStart(rest.data(), rest.size()));
}

// The same for sets of ASCII bytes below 0x40, which well-formed text never has as trail bytes:
// a plain byte search, and a look at the lead bytes just before a hit. Each byte is looked at
// once more at most.
template <char... kStops>
void KeepUntilAscii(LineEdit& edit) {
  const std::string_view rest = edit.Rest();
  std::size_t known_start = 0;
  std::size_t p = 0;
  for (;;) {
    p += FindAnyOf<kStops...>(rest.data() + p, rest.size() - p);
    if (p == rest.size() || IsCharBoundary(rest, known_start, p)) break;
    known_start = ++p;
  }
  edit.Keep(p);
}

using ByteSet = std::array<bool, 256>;

// Inside a tag outside quotes, the bytes the plain folding loop must leave to the rules: every
// lead byte among them, so that the loop only ever sees single-byte characters.
constexpr ByteSet MakeTagStops(bool attributes) {
  ByteSet set{};
  for (const char c : std::string_view("\"<>-\n#")) set[static_cast<unsigned char>(c)] = true;
  for (int c = 0; c < 256; ++c) set[c] = set[c] || IsLeadByte(static_cast<unsigned char>(c));
  if (attributes) {
    for (const char c : std::string_view("SsHhBb")) set[static_cast<unsigned char>(c)] = true;
  }
  return set;
}
constexpr ByteSet kTagStops = MakeTagStops(false);
constexpr ByteSet kTagStopsAttributes = MakeTagStops(true);

constexpr std::array<char, 256> MakeFold(bool to_upper) {
  std::array<char, 256> fold{};
  for (int c = 0; c < 256; ++c) {
    int f = c;
    if (!to_upper && c >= 'A' && c <= 'Z') f = c + 32;
    if (to_upper && c >= 'a' && c <= 'z') f = c - 32;
    fold[c] = static_cast<char>(static_cast<unsigned char>(f));
  }
  return fold;
}
constexpr std::array<char, 256> kFoldLower = MakeFold(false);
constexpr std::array<char, 256> kFoldUpper = MakeFold(true);

void ScanInsideTag(LineEdit& edit, ConvState& state, unsigned char c, Mark mark,
                   const OptionSet& options) {
  if (state.quote_state != -1) {
    edit.Step();
    return;
  }
  if (MayStartAttribute(c) && TryAttributeRules(edit, state, options)) return;
  if (mark == Mark::kHashToken) {
    edit.Keep(HashTokenLength(edit.Rest(), false));
    return;
  }
  if (IsLeadByte(c)) {
    edit.Step();
    return;
  }
  edit.Skip(1);
  edit.Put((options.upper_case ? kFoldUpper : kFoldLower)[c]);
}

// The common shape of a tag body in one loop: letters folded, quoted values passed whole, the
// closing '>' taken. A byte that needs more (a comment, '<', '#', a lead byte outside quotes,
// the start of an attribute rule, a newline) goes back to the full rules.
void PassTag(LineEdit& edit, ConvState& state, const ByteSet& stops,
             const std::array<char, 256>& fold) {
  LineEdit::Raw raw = edit.Open();
  const char* const in = raw.in;
  char* const out = raw.out;
  std::size_t r = raw.r;
  std::size_t w = raw.w;
  while (r < raw.e) {
    const auto c = static_cast<unsigned char>(in[r]);
    if (!stops[c]) {
      out[w++] = fold[c];
      ++r;
      continue;
    }
    if (c == '>') {
      CloseTag(state);
      out[w++] = in[r++];
      break;
    }
    if (c != '"') break;
    FlipQuote(state);
    out[w++] = in[r++];
    while (r < raw.e && !kQuotedStops.Has(static_cast<unsigned char>(in[r]))) {
      if (IsLeadByte(in[r]) && r + 1 < raw.e) out[w++] = in[r++];
      out[w++] = in[r++];
    }
    if (r == raw.e || in[r] != '"') break;
    FlipQuote(state);
    out[w++] = in[r++];
  }
  raw.r = r;
  raw.w = w;
  edit.Commit(raw);
}

// A '<' in text that opens a tag and is no comment, nor a <P> or <PRE> that line joining looks
// at.
bool OpensTag(const LineEdit& edit, bool join_lines) {
  const unsigned char next = edit.Byte(1);
  return edit.Byte() == '<' && next != '!' &&
         (!join_lines || (next != 'P' && next != 'p' && next != '/'));
}

// Under -j a line that opens with <P> after a joined line first ends that line.
void ParagraphStart(const LineEdit& edit, const ConvState& state, ByteSink& lines) {
  std::size_t k = 3;
  for (;;) {
    const unsigned char b = edit.Byte(k);
    if (b == ' ' || b == '\t') {
      ++k;
    } else if (b == 0x81 && edit.Byte(k + 1) == 0x40) {  // full-width space
      k += 2;
    } else {
      break;
    }
  }
  if (edit.Byte(k) != 0 && state.prev_line_closed == 0) lines.Write("\n");
}

void TrackPreformatted(const LineEdit& edit, ConvState& state) {
  const unsigned char next = edit.Byte(1);
  if (next != 'P' && next != 'p' && next != '/') return;
  if (edit.StartsWith("<PRE>") || edit.StartsWith("<pre>")) {
    state.in_pre = 1;
  } else if (edit.StartsWith("</PRE>") || edit.StartsWith("</pre>")) {
    state.in_pre = 0;
  }
}

// Line joining looks at the line as it ends: a newline not at the start of the line and outside
// <PRE> is dropped unless '>' stands before it.
void FinishLine(LineEdit& edit, ConvState& state, ByteSink& lines, bool join_lines) {
  if (edit.AtEnd()) {
    state.prev_line_closed = 0;
  } else if (join_lines && !edit.AtLineStart() && state.in_pre == 0) {
    if (edit.LastConverted() == '>') {
      state.prev_line_closed = 1;
      edit.Keep(edit.Rest().size());
    } else {
      state.prev_line_closed = 0;
      edit.Cut();
    }
  } else {
    edit.Keep(edit.Rest().size());
  }
  // A piece ends after its first newline, and no rule makes one: only the last byte can be.
  lines.WriteLine(edit.Converted());
}

enum class Next { kContinue, kEndLine, kSecondOpen, kStrayClose };

// Comments come before any tag logic: "<!--" opens one even inside a tag.
bool ScanComment(LineEdit& edit, const ConvState& state, Mark mark, bool strip, Next* next) {
  *next = Next::kContinue;
  if (mark == Mark::kCommentOpen) {
    strip ? edit.Skip(4) : edit.Keep(4);
    return true;
  }
  if (mark == Mark::kCommentClose) {
    strip ? edit.Skip(3) : edit.Keep(3);
    return true;
  }
  if (state.in_comment == 0) return false;
  if (!strip) {
    edit.Step();
    return true;
  }
  // The search for the end goes byte by byte: a comment may end inside what a character walk
  // would take for one double-byte character.
  const std::size_t close = edit.FindCommentClose();
  if (close == LineEdit::npos) {
    edit.Cut();
    *next = Next::kEndLine;
  } else {
    edit.Skip(close);
  }
  return true;
}

Next ScanOne(LineEdit& edit, ConvState& state, ByteSink& lines, const OptionSet& options) {
  const unsigned char c = edit.Byte();
  const Mark mark = Transition(edit.Rest(), PlaceOf(state), !options.ignore_brackets, state).mark;
  Next next = Next::kContinue;
  if (ScanComment(edit, state, mark, options.strip_comments, &next)) return next;
  if (mark == Mark::kTagOpen || mark == Mark::kSecondOpen) {
    TrackPreformatted(edit, state);
    if (options.join_lines && edit.AtLineStart() &&
        (edit.StartsWith("<p>") || edit.StartsWith("<P>"))) {
      ParagraphStart(edit, state, lines);
    }
    if (mark == Mark::kSecondOpen) return Next::kSecondOpen;
    if (!TryTagRules(edit, state, options)) edit.Step();
    return Next::kContinue;
  }
  if (mark == Mark::kStrayClose) return Next::kStrayClose;
  if (mark == Mark::kTagClose) {
    edit.Step();
    return Next::kContinue;
  }
  if (state.in_tag) {
    ScanInsideTag(edit, state, c, mark, options);
  } else {
    ConvertWidthOrStep(edit, options);
  }
  return Next::kContinue;
}

}  // namespace

ScanStatus ScanLine(LineEdit& edit, ConvState& state, ByteSink& lines, const OptionSet& options,
                    Walk walk) {
  const StopSet& text_stops = TextStops(options);
  const bool wide_text =
      options.kana_to_wide || options.digits_to_narrow || options.letters_to_narrow;
  // With none of the tag rules in force, a '<' before a letter only opens a tag.
  const bool plain_open = !options.strip_links && !options.strip_img && !options.strip_font &&
                          !options.strip_bgsound && !options.flatten_links;
  const auto& fold = options.upper_case ? kFoldUpper : kFoldLower;
  const bool plain = walk != Walk::kCharacters && PlainRulesApply(options);
  const PlainSettings settings{options, walk};
  while (!edit.AtEnd()) {
    if (plain) {
      PassPlain(edit, state, settings);
      if (edit.AtEnd()) break;
    }
    const unsigned char c = edit.Byte();
    if (c == '\n') break;
    if (state.in_comment) {
      if (!options.strip_comments && !kCommentStops.Has(c)) {
        KeepUntilAscii<'<', '-', '\n'>(edit);
        continue;
      }
    } else if (!state.in_tag) {
      const std::string_view rest = edit.Rest();
      if (!text_stops.StopsAt(rest.data(), 0, rest.size())) {
        if (wide_text) {
          KeepUntil(edit, text_stops);
        } else {
          KeepUntilAscii<'<', '>', '-', '\n'>(edit);
        }
        continue;
      }
      if (options.kana_to_wide && IsHalfWidthKana(c)) {
        WidenKanaRun(edit);
        continue;
      }
      if (OpensTag(edit, options.join_lines)) {
        // Only the tag rules may take it; a run of deleted tags stays in this loop.
        do {
          OpenTag(state);
          if (plain_open || !TryTagRules(edit, state, options)) {
            edit.Step();
            break;
          }
        } while (OpensTag(edit, options.join_lines));
        continue;
      }
    } else if (state.quote_state == 1) {
      if (!kQuotedStops.Has(c)) {
        KeepUntilAscii<'"', '<', '>', '-', '\n'>(edit);
        continue;
      }
    } else {
      const ByteSet& tag_stops =
          (state.link_kind != 0 || options.strip_bgcolor) ? kTagStopsAttributes : kTagStops;
      if (!tag_stops[c] || c == '"' || c == '>') {
        PassTag(edit, state, tag_stops, fold);
        continue;
      }
    }
    const Next next = ScanOne(edit, state, lines, options);
    if (next == Next::kEndLine) break;
    if (next == Next::kSecondOpen) return ScanStatus::kSecondOpen;
    if (next == Next::kStrayClose) return ScanStatus::kStrayClose;
  }
  FinishLine(edit, state, lines, options.join_lines);
  return ScanStatus::kLineDone;
}

}  // namespace lowtags
