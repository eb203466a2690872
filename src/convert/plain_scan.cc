#include "convert/plain_scan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "convert/markup.h"
#include "convert/tag_rules.h"
#include "convert/width_rules.h"
#include "simd/avx512.h"
#include "simd/bits.h"
#include "simd/byte_scan.h"
#include "simd/portable.h"
#include "support/text_reader.h"

namespace lowtags {

bool PlainRulesApply(const OptionSet& o) {
  return !o.strip_links && !o.strip_img && !o.strip_font && !o.strip_bgsound && !o.flatten_links &&
         !o.strip_bgcolor;
}

namespace {

// Which bytes of each block start a character: a lead byte and the byte after it are one, even
// across blocks. The carry is whether the next block opens with a trail byte.
class CharStarts {
 public:
  std::uint64_t Of(std::uint64_t lead) { return ~TrailBytes(lead, trail_first_, &trail_next_); }
  // The walk goes on `taken` bytes into the block. The carry holds only after the whole block:
  // a walk that ran past it, or stopped in it at a line end, stands at a character's start.
  void MoveOn(std::size_t taken) { trail_first_ = taken == kBlock && trail_next_; }

 private:
  bool trail_first_ = false;
  bool trail_next_ = false;
};

// The bytes of a block inside tags, those from a '<' up to its '>', given whether the block
// opens in a tag; the quoted ones among them, those after an odd number of quotes since the
// tag's '<', given whether it opens in quotes.
constexpr std::uint64_t InTags(std::uint64_t lt, std::uint64_t gt, bool open) {
  return PrefixXor(lt | gt) ^ (open ? ~std::uint64_t{0} : 0);
}
constexpr std::uint64_t InQuotes(std::uint64_t quotes_in_tags, bool open) {
  return PrefixXor(quotes_in_tags) ^ (open ? ~std::uint64_t{0} : 0);
}

// Where the output goes. Without deletions it is the input with letters folded, each byte a
// fixed distance from its input until a rule deletes or widens; so the bytes of a block are
// stored whole, or in segments between such changes.
class BlockWriter {
 public:
  // The output of the input byte at r goes to out[w].
  BlockWriter(const char* in, char* out, std::size_t r, std::size_t w)
      : in_(in), out_(out), shift_(w - r) {}

  // Where the output of the input byte at `i` goes.
  std::size_t Offset(std::size_t i) const { return i + shift_; }
  char* To(std::size_t i) const { return out_ + Offset(i); }
  // The distance, to go back to it with Restore when a line is given back.
  std::size_t Shift() const { return shift_; }
  void Restore(std::size_t shift) { shift_ = shift; }

  // A block starts at input offset b, none of it stored.
  void Begin(std::size_t b) {
    b_ = b;
    stored_ = 0;
  }
  // Block offset up to which the output is written.
  std::size_t Stored() const { return stored_; }
  // Stores the bytes of the block up to offset `to` not written yet, with the letters `fold`
  // marks flipped. The pointers start at the first of them: before it the output may lie behind
  // by more than the block's offset.
  template <class Isa>
  void StoreTo(std::size_t to, std::uint64_t fold) {
    if (stored_ >= to) return;
    Isa::Store(To(b_ + stored_), in_ + b_ + stored_, fold >> stored_, to - stored_);
    stored_ = to;
  }
  // Copies what an event passed unchanged past the end of the block, up to offset `to`.
  void CopyTo(std::size_t to) {
    if (stored_ < to) std::memcpy(To(b_ + stored_), in_ + b_ + stored_, to - stored_);
  }
  // Deletes n bytes at block offset k; the output before them is stored as it stands.
  template <class Isa>
  void Drop(std::size_t k, std::size_t n, std::uint64_t fold) {
    StoreTo<Isa>(k, fold);
    shift_ -= n;
    stored_ = k + n;
  }
  // A rule wrote `written` bytes at To(i) for the `read` at i.
  void Replaced(std::size_t read, std::size_t written) { shift_ += written - read; }
  // The output of the block before offset `to` is written by a rule.
  void WrittenTo(std::size_t to) { stored_ = to; }
  // The LF at input offset i leaves as CR LF: the rest of the output moves up a byte.
  void CrLf(std::size_t i) {
    char* const at = To(i);
    at[0] = '\r';
    at[1] = '\n';
    ++shift_;
  }

 private:
  const char* const in_;
  char* const out_;
  // Output offset minus input offset, modulo 2^64: rules before the walk may have deleted.
  std::size_t shift_;
  std::size_t b_ = 0;
  std::size_t stored_ = 0;
};

// The stop bytes of each place in one block, each at the start of a character: a trail byte can
// look like '<' in a broken page, and the character swallows it. The end of the piece stops all.
struct Stops {
  std::uint64_t text;
  std::uint64_t tag;
  std::uint64_t quoted;
  std::uint64_t comment;
  std::uint64_t letters;  // the letters to fold, where a character starts
};

enum class Mode { kPiece, kWholeLines };

// Past this many bytes without a line end, whole lines look ahead for one.
constexpr std::size_t kLongLine = 1024;

// The line the walk is in, with the state and output distance at its start: in whole-lines mode
// a line that needs the full rules is given back whole.
struct LineStart {
  std::size_t at;
  ConvState state;
  std::size_t shift;
};

// Walks text block by block. Without deletions the output is the input with letters folded, so
// each block is stored whole and only the bits of the letters to fold are worked out; the state
// changes at the stop bytes, found with a bit scan each.
//
// A piece ends where the walk stops. Whole lines go on from line to line: their CR LF ends pass
// as they are, a lone LF gains its CR, and a line that needs the full rules is given back whole,
// the state as it was at its start.
class PlainWalk {
 public:
  PlainWalk(Mode mode, const char* in, std::size_t r, std::size_t e, char* out, std::size_t w,
            ConvState& state, const OptionSet& options)
      : options_(options),
        mode_(mode),
        in_(in),
        e_(e),
        state_(state),
        out_(in, out, r, w),
        b_(r),
        line_{r, state, out_.Shift()} {}

  // The input position reached: in whole-lines mode the start of the first line not converted.
  template <class Isa>
  std::size_t Run() {
    const bool lines = mode_ == Mode::kWholeLines;
    Place where = PlaceOf(state_);
    CharStarts char_starts;
    for (;;) {
      if (lines && b_ - line_.at >= kLongLine && TooLongForWholeLines()) return GiveBackLine();
      const BlockMasks m = Isa::Classify(in_ + b_);
      const std::uint64_t starts = char_starts.Of(m.lead);
      const std::uint64_t end = e_ - b_ < kBlock ? std::uint64_t{1} << (e_ - b_) : 0;
      const std::uint64_t letters = (upper_ ? m.lower : m.upper) & starts;
      out_.Begin(b_);
      if (end == 0 && where != Place::kComment && where != Place::kUnquoted) {
        const std::size_t taken = TagsOnlyBlock<Isa>(m, starts, letters, &where);
        if (taken != 0) {
          char_starts.MoveOn(taken);
          b_ += taken;
          continue;
        }
      }
      std::uint64_t fold = 0;
      const BlockEnd how = WalkBlock<Isa>(StopsOf(m, starts, end, letters), &where, &fold);
      out_.StoreTo<Isa>(kBlock, fold);
      if (how == BlockEnd::kStop) return lines ? GiveBackLine() : b_ + cur_;
      if (how == BlockEnd::kNewLine) {
        out_.CrLf(b_ + cur_++);
      } else {
        out_.CopyTo(cur_);  // what an event that ran past the block passed unchanged
      }
      char_starts.MoveOn(cur_);
      b_ += cur_;
      cur_ = 0;
      if (how == BlockEnd::kNewLine) EndLine(b_);
    }
  }

  // Where the output of the input byte at `i` goes.
  std::size_t OutputOffset(std::size_t i) const { return out_.Offset(i); }

 private:
  enum class BlockEnd { kDone, kStop, kNewLine };

  Stops StopsOf(const BlockMasks& m, std::uint64_t starts, std::uint64_t end,
                std::uint64_t letters) const {
    // A piece ends at its newline byte, whatever character it belongs to.
    const std::uint64_t line_end =
        mode_ == Mode::kWholeLines ? m.newline | m.cr : m.newline & starts;
    Stops stops;
    stops.comment = ((m.lt | m.dash) & starts) | line_end | end;
    stops.quoted = stops.comment | ((m.gt | m.quote) & starts);
    stops.tag = stops.quoted | (m.hash & starts);
    stops.text = stops.comment | (m.gt & starts);
    if (kana_) stops.text |= m.kana & starts;
    if (alnum_) stops.text |= m.wide_alnum & starts;
    stops.letters = letters;
    return stops;
  }

  bool At(std::size_t at, std::string_view s) const {
    return e_ - at >= s.size() && std::memcmp(in_ + at, s.data(), s.size()) == 0;
  }

  // Whether the line the walk is in must be given back for its length: it has no line end
  // within a piece, or none in the text. A long line's end is looked for once, so that the line
  // is not walked to the piece's end only to be walked again in pieces.
  bool TooLongForWholeLines() {
    if (b_ - line_.at >= PieceReader::kPiece) return true;
    const std::size_t end = LineEnd(b_);
    return end == e_ || end - line_.at >= PieceReader::kPiece;
  }

  std::size_t GiveBackLine() {
    state_ = line_.state;
    out_.Restore(line_.shift);
    return line_.at;
  }

  void EndLine(std::size_t next_start) {
    ++state_.line_no;
    line_ = {next_start, state_, out_.Shift()};
  }

  // A block of text and well-formed tags, no comment, '#' token or LF without CR in it, as most
  // blocks of a page are, is taken without walking. Returns the bytes taken (more than a block
  // when a run of kana goes on past it), or 0, with nothing changed, when the block needs the
  // walk.
  template <class Isa>
  std::size_t TagsOnlyBlock(const BlockMasks& m, std::uint64_t starts, std::uint64_t letters,
                            Place* where) {
    const std::uint64_t lt = m.lt & starts;
    const std::uint64_t gt = m.gt & starts;
    const std::uint64_t dash = m.dash & starts;
    std::uint64_t marks = (lt & (dash >> 2)) | (dash & (dash >> 1)) | ((lt | dash) >> 61 << 61);
    for (; marks != 0; marks &= marks - 1) {
      const std::size_t at = b_ + FirstBit(marks);
      if (At(at, "<!--") || At(at, "-->")) return 0;
    }
    if (join_) {
      for (std::uint64_t opens = lt; opens != 0; opens &= opens - 1) {
        if (MattersToJoining(b_ + FirstBit(opens))) return 0;
      }
    }
    const std::uint64_t nl = m.newline;
    if (mode_ == Mode::kPiece) {
      if ((nl | m.cr) != 0) return 0;
    } else if ((nl & 1) != 0 || m.cr != (nl >> 1)) {
      return 0;  // a line end that is no CR LF, or a CR LF split between blocks
    }
    const std::uint64_t tag = InTags(lt, gt, *where != Place::kText);
    // A '<' must open a tag and a '>' close one: anything else is an error for the walk.
    if ((lt & ~tag) != 0 || (gt & tag) != 0) return 0;
    const std::uint64_t in_quotes = InQuotes(m.quote & starts & tag, *where == Place::kQuoted);
    if ((lt & in_quotes) != 0) return 0;  // a tag that opens with its quotes reset
    if ((m.hash & starts & tag & ~in_quotes) != 0) return 0;
    std::uint64_t widths = 0;
    if (kana_) widths |= m.kana;
    if (alnum_) widths |= m.wide_alnum;
    widths &= starts & ~tag;
    if ((widths >> 63) != 0) return 0;  // its trail may lie past the text
    std::size_t next_line = kBlock + 1;
    if (nl != 0) {
      if (b_ + FirstBit(nl) - 1 - line_.at >= PieceReader::kPiece) return 0;
      next_line = LastBit(nl) + 1;
    }
    // The block is taken. Runs of characters for the width rules lie in text between tags and
    // never across a line end; the output is stored in segments around them.
    const std::uint64_t fold = letters & tag & ~in_quotes;
    for (std::uint64_t todo = widths; todo != 0;) {
      const std::size_t at = FirstBit(todo);
      if (at >= next_line) EndLines(nl, next_line, tag, in_quotes, gt);
      out_.StoreTo<Isa>(at, fold);
      const std::size_t next = at + ConvertWidth(b_ + at);
      out_.WrittenTo(next);
      if (next >= kBlock) break;
      todo &= ~Span(0, next);
    }
    if (next_line <= kBlock) EndLines(nl, next_line, tag, in_quotes, gt);
    out_.StoreTo<Isa>(kBlock, fold);
    SetState(kBlock - 1, tag, in_quotes, gt);
    *where = PlaceOf(state_);
    return out_.Stored();
  }

  // Counts the lines that end in a tags-only block and notes the start of the last one.
  void EndLines(std::uint64_t nl, std::size_t& next_line, std::uint64_t tag,
                std::uint64_t in_quotes, std::uint64_t gt) {
    state_.line_no += __builtin_popcountll(nl) - 1;  // the last is EndLine's
    SetState(next_line - 1, tag, in_quotes, gt);
    EndLine(b_ + next_line);
    next_line = kBlock + 1;
  }

  // The state after the byte at `bit` of a tags-only block. Outside tags the quote state is
  // what the last '>' left, as the walk keeps it.
  void SetState(std::size_t bit, std::uint64_t tag, std::uint64_t in_quotes, std::uint64_t gt) {
    const std::uint64_t upto = Span(0, bit + 1);
    state_.in_tag = static_cast<int>((tag >> bit) & 1);
    std::size_t from = bit;
    if (state_.in_tag == 0) {
      if ((gt & upto) == 0) return;
      from = LastBit(gt & upto);
    }
    state_.quote_state = ((in_quotes >> from) & 1) != 0 ? 1 : -1;
  }

  // Moves on through the block until it is done, the walk must stop, or an LF needs its CR;
  // cur_ is then the offset reached.
  template <class Isa>
  BlockEnd WalkBlock(const Stops& stops, Place* where, std::uint64_t* fold) {
    while (cur_ < kBlock) {
      std::size_t k = 0;
      switch (*where) {
        case Place::kText: k = NextBit(stops.text, cur_); break;
        case Place::kTag:
          k = NextBit(stops.tag, cur_);
          *fold |= stops.letters & Span(cur_, k);
          break;
        case Place::kQuoted: k = NextBit(stops.quoted, cur_); break;
        case Place::kComment:
          if (strip_) {
            const BlockEnd how = DeleteComment<Isa>(*fold, where);
            if (how != BlockEnd::kDone) return how;
            continue;
          }
          k = NextBit(stops.comment, cur_);
          break;
        case Place::kUnquoted: return BlockEnd::kStop;
      }
      cur_ = k;
      if (k == kBlock) break;
      const std::size_t at = b_ + k;
      if (at == e_) return BlockEnd::kStop;
      const char c = in_[at];
      if (c == '\n' || c == '\r') {
        if (mode_ == Mode::kPiece) return BlockEnd::kStop;
        if (at - line_.at >= PieceReader::kPiece) return BlockEnd::kStop;  // cut in pieces
        if (c == '\n') return BlockEnd::kNewLine;
        // A lone CR is dropped, and the text of a line without its end is not all here yet.
        if (at + 1 == e_ || in_[at + 1] != '\n') return BlockEnd::kStop;
        cur_ += 2;
        EndLine(b_ + cur_);
        continue;
      }
      if (*where == Place::kText && static_cast<unsigned char>(c) >= 0x80) {
        // Half-width kana, or a full-width digit or letter: its trail must be in the piece.
        if (at + 1 == e_) return BlockEnd::kStop;
        // The output before it is stored at the distance it had; the masks of the block stay
        // good, since they describe the input.
        out_.StoreTo<Isa>(k, *fold);
        cur_ = k + ConvertWidth(at);
        out_.WrittenTo(cur_);
        continue;
      }
      if (!Event<Isa>(at, where, *fold)) return BlockEnd::kStop;
    }
    return BlockEnd::kDone;
  }

  // The CR or LF that ends the line holding `at`; else the end of the line's first piece or of
  // the text, whichever comes first: a longer line is given back whole. Searched once a line. No
  // line end lies between the line's start and the walk, so any `at` of the line finds the same.
  std::size_t LineEnd(std::size_t at) {
    if (line_end_from_ != line_.at) {
      line_end_from_ = line_.at;
      const std::size_t limit = std::min(e_, line_.at + PieceReader::kPiece);
      line_end_ = at + FindAnyOf<'\r', '\n'>(in_ + at, limit - at);
    }
    return line_end_;
  }

  // Under -r, inside a comment: the text up to its end goes. The marks at the position go as
  // they are; otherwise the end is searched byte by byte, as the full rules do, even inside
  // what the character walk would take for one double-byte character. The walk agrees again
  // after it: the '>' is no lead byte. A comment that goes on past the line is the full rules'
  // to cut.
  template <class Isa>
  BlockEnd DeleteComment(std::uint64_t fold, Place* where) {
    const std::size_t at = b_ + cur_;
    if (At(at, "<!--") || At(at, "-->")) {
      Event<Isa>(at, where, fold);
      return BlockEnd::kDone;
    }
    const std::size_t end = mode_ == Mode::kWholeLines ? LineEnd(at) : e_;
    for (std::size_t x = at + 2; x < end; ++x) {
      const void* gt = std::memchr(in_ + x, '>', end - x);
      if (gt == nullptr) break;
      x = static_cast<std::size_t>(static_cast<const char*>(gt) - in_);
      if (in_[x - 1] == '-' && in_[x - 2] == '-') {
        Transition({in_ + x - 2, e_ - (x - 2)}, Place::kComment, true, state_);
        out_.Drop<Isa>(cur_, x + 1 - at, fold);
        cur_ += x + 1 - at;
        *where = PlaceOf(state_);
        return BlockEnd::kDone;
      }
    }
    return BlockEnd::kStop;
  }

  // Converts the run of characters for the width rules at `at` (figures such as "１９９６" come
  // in runs) and returns the bytes read. The first is the stop itself; a pair in the range the
  // stops take that no rule converts passes as it is.
  std::size_t ConvertWidth(std::size_t at) {
    std::size_t p = at;
    while (p + 1 < e_) {
      WidthStep step = ConvertWidthAt({in_ + p, e_ - p}, out_.To(p), options_);
      if (step.read == 0) {
        if (p != at) break;
        std::memcpy(out_.To(p), in_ + p, 2);
        step = {2, 2};
      }
      out_.Replaced(step.read, step.written);
      p += step.read;
    }
    return p - at;
  }

  // Handles the stop byte at `at` by the markup rules; false when the full rules must take it: a
  // bracket error, or a tag that matters to line joining. Under -r the comment marks go wherever
  // they stand.
  template <class Isa>
  bool Event(std::size_t at, Place* where, std::uint64_t fold) {
    const Step step = Transition({in_ + at, e_ - at}, *where, true, state_);
    if (IsBracketError(step.mark)) return false;
    if (step.mark == Mark::kTagOpen && join_ && MattersToJoining(at)) {
      state_.in_tag = 0;  // the full rules open it again, as a tag that matters to joining
      return false;
    }
    *where = step.place;
    if (step.mark == Mark::kHashToken) {
      cur_ += HashTokenLength({in_ + at, e_ - at}, mode_ == Mode::kWholeLines);
    } else {
      const bool comment_mark = step.mark == Mark::kCommentOpen || step.mark == Mark::kCommentClose;
      if (strip_ && comment_mark) out_.Drop<Isa>(cur_, step.length, fold);
      cur_ += step.length;
    }
    return true;
  }

  // Under -j a <PRE> or </PRE> changes what joins, and a <P> that opens a line may end the line
  // before: the full rules take those.
  bool MattersToJoining(std::size_t at) const {
    const char next = in_[at + 1];
    if (next != 'P' && next != 'p' && next != '/') return false;
    if (At(at, "<PRE>") || At(at, "<pre>") || At(at, "</PRE>") || At(at, "</pre>")) return true;
    return out_.Offset(at) == 0 && (At(at, "<P>") || At(at, "<p>"));
  }

  const OptionSet& options_;
  const Mode mode_;
  const char* const in_;
  const std::size_t e_;
  ConvState& state_;
  const bool upper_ = options_.upper_case;
  const bool strip_ = options_.strip_comments;
  const bool join_ = options_.join_lines;
  const bool kana_ = options_.kana_to_wide;
  const bool alnum_ = options_.digits_to_narrow || options_.letters_to_narrow;
  BlockWriter out_;
  std::size_t b_;        // the block's first byte
  std::size_t cur_ = 0;  // the walk's offset in the block
  LineStart line_;
  std::size_t line_end_from_ = ~std::size_t{0};  // the line start line_end_ belongs to
  std::size_t line_end_ = 0;
};

#if defined(LOWTAGS_HAVE_AVX512_PATH) && !defined(LOWTAGS_PORTABLE_VECTORS)
LOWTAGS_AVX512_TARGET __attribute__((flatten)) std::size_t RunAvx512(PlainWalk& walk) {
  return walk.Run<Avx512>();
}
#endif

std::size_t Run(PlainWalk& walk, Walk kernels) {
#if defined(LOWTAGS_HAVE_AVX512_PATH) && !defined(LOWTAGS_PORTABLE_VECTORS)
  if (kernels == Walk::kAvx512) return RunAvx512(walk);
#endif
  (void)kernels;
  return walk.Run<Portable>();
}

}  // namespace

bool Avx512WalkAvailable() {
#if defined(LOWTAGS_HAVE_AVX512_PATH) && !defined(LOWTAGS_PORTABLE_VECTORS)
  // The processor does not change while the program runs.
  static const bool have = HaveAvx512();
  return have;
#else
  return false;
#endif
}

void PassPlain(LineEdit& edit, ConvState& state, const PlainSettings& settings) {
  if (edit.readable_past_end() < kPlainReadablePastEnd) return;
  LineEdit::Raw raw = edit.Open();
  PlainWalk walk(Mode::kPiece, raw.in, raw.r, raw.e, raw.out, raw.w, state, settings.options);
  const std::size_t r = Run(walk, settings.walk);
  raw.w = walk.OutputOffset(r);
  raw.r = r;
  edit.Commit(raw);
}

bool WholeLinesApply(const OptionSet& options) {
  return PlainRulesApply(options) && !options.join_lines;
}

std::size_t ConvertWholeLines(std::string_view text, ConvState& state, char* out,
                              std::size_t* out_size, const PlainSettings& settings) {
  PlainWalk walk(Mode::kWholeLines, text.data(), 0, text.size(), out, 0, state, settings.options);
  const std::size_t used = Run(walk, settings.walk);
  *out_size = walk.OutputOffset(used);
  return used;
}

}  // namespace lowtags
