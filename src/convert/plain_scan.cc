#include "convert/plain_scan.h"

#include <cstdint>
#include <cstring>
#include <string_view>

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

enum class Where { kText, kTag, kQuoted, kComment, kElsewhere };

Where Locate(const ConvState& state) {
  if (state.in_comment) return Where::kComment;
  if (!state.in_tag) return Where::kText;
  if (state.quote_state == 1) return Where::kQuoted;
  return state.quote_state == -1 ? Where::kTag : Where::kElsewhere;
}

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
        out_(out),
        shift_(w - r),
        state_(state),
        b_(r),
        line_start_(r),
        saved_(state),
        saved_shift_(w - r) {}

  // The input position reached: in whole-lines mode the start of the first line not converted.
  template <class Isa>
  std::size_t Run() {
    const bool upper = options_.upper_case;
    const bool lines = mode_ == Mode::kWholeLines;
    Where where = Locate(state_);
    bool carry = false;
    for (;;) {
      if (lines && b_ - line_start_ >= PieceReader::kPiece) return GiveBackLine();
      const BlockMasks m = Isa::Classify(in_ + b_);
      bool carry_out = false;
      const std::uint64_t starts = ~TrailBytes(m.lead, carry, &carry_out);
      const std::uint64_t end = e_ - b_ < kBlock ? std::uint64_t{1} << (e_ - b_) : 0;
      const std::uint64_t letters = (upper ? m.lower : m.upper) & starts;
      if (end == 0 && where != Where::kComment && where != Where::kElsewhere) {
        const std::size_t taken = TagsOnlyBlock<Isa>(m, starts, letters, &where);
        if (taken != 0) {
          carry = taken == kBlock ? carry_out : false;
          b_ += taken;
          continue;
        }
      }
      // A piece ends at its newline byte, whatever character it belongs to.
      const std::uint64_t line_end = lines ? m.newline | m.cr : m.newline & starts;
      Stops stops;
      stops.comment = ((m.lt | m.dash) & starts) | line_end | end;
      stops.quoted = stops.comment | ((m.gt | m.quote) & starts);
      stops.tag = stops.quoted | (m.hash & starts);
      stops.text = stops.comment | (m.gt & starts);
      if (kana_) stops.text |= m.kana & starts;
      if (alnum_) stops.text |= m.wide_alnum & starts;
      stops.letters = letters;
      std::uint64_t fold = 0;
      seg_ = 0;
      const BlockEnd how = WalkBlock<Isa>(stops, &where, &fold);
      if (seg_ < kBlock) StoreBlock<Isa>(fold, seg_, kBlock);
      if (how == BlockEnd::kStop) return lines ? GiveBackLine() : b_ + cur_;
      if (how == BlockEnd::kNewLine) {
        // The LF at cur_ leaves as CR LF: the rest of the output moves up a byte.
        char* const at = Dest(b_ + cur_);
        at[0] = '\r';
        at[1] = '\n';
        ++shift_;
        ++cur_;
        carry = false;
      } else if (cur_ == kBlock) {
        carry = carry_out;
      } else {
        // An event ran past the block and a character starts after it. What it passed
        // unchanged is copied; what it converted is written already.
        const std::size_t from = seg_ > kBlock ? seg_ : kBlock;
        if (from < cur_) std::memcpy(Dest(b_ + from), in_ + b_ + from, cur_ - from);
        carry = false;
      }
      b_ += cur_;
      cur_ = 0;
      if (how == BlockEnd::kNewLine) EndLine(b_);
    }
  }

  // Where the output of the input byte at `i` goes.
  std::size_t OutputOffset(std::size_t i) const { return i + shift_; }

 private:
  enum class BlockEnd { kDone, kStop, kNewLine };

  char* Dest(std::size_t i) const { return out_ + OutputOffset(i); }

  // Stores bytes [from, to) of the block with the letters `fold` marks flipped. The pointers
  // start at `from`: before it the output may lie behind by more than the block's offset.
  template <class Isa>
  void StoreBlock(std::uint64_t fold, std::size_t from, std::size_t to) {
    if (from < to) Isa::Store(Dest(b_ + from), in_ + b_ + from, fold >> from, to - from);
  }

  bool At(std::size_t at, std::string_view s) const {
    return e_ - at >= s.size() && std::memcmp(in_ + at, s.data(), s.size()) == 0;
  }

  std::size_t GiveBackLine() {
    state_ = saved_;
    shift_ = saved_shift_;
    return line_start_;
  }

  void EndLine(std::size_t next_start) {
    ++state_.line_no;
    line_start_ = next_start;
    saved_ = state_;
    saved_shift_ = shift_;
  }

  // A block of text and well-formed tags, no comment, '#' token or LF without CR in it, as most
  // blocks of a page are, is taken without walking: the bytes inside tags are those between a
  // '<' and the next '>', the quoted ones those after an odd number of quotes since the tag's
  // '<'. Returns the bytes taken (more than a block when a run of kana goes on past it), or 0,
  // with nothing changed, when the block needs the walk.
  template <class Isa>
  std::size_t TagsOnlyBlock(const BlockMasks& m, std::uint64_t starts, std::uint64_t letters,
                            Where* where) {
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
        if (MattersToJoining(b_ + static_cast<std::size_t>(__builtin_ctzll(opens)))) return 0;
      }
    }
    const std::uint64_t nl = m.newline;
    if (mode_ == Mode::kPiece) {
      if ((nl | m.cr) != 0) return 0;
    } else if ((nl & 1) != 0 || m.cr != (nl >> 1)) {
      return 0;  // a line end that is no CR LF, or a CR LF split between blocks
    }
    const bool in_tag = *where != Where::kText;
    const std::uint64_t tag = PrefixXor(lt | gt) ^ (in_tag ? ~std::uint64_t{0} : 0);
    // A '<' must open a tag and a '>' close one: anything else is an error for the walk.
    if ((lt & ~tag) != 0 || (gt & tag) != 0) return 0;
    const bool quoted = *where == Where::kQuoted;
    const std::uint64_t in_quotes =
        PrefixXor(m.quote & starts & tag) ^ (quoted ? ~std::uint64_t{0} : 0);
    if ((lt & in_quotes) != 0) return 0;  // a tag that opens with its quotes reset
    if ((m.hash & starts & tag & ~in_quotes) != 0) return 0;
    std::uint64_t widths = 0;
    if (kana_) widths |= m.kana;
    if (alnum_) widths |= m.wide_alnum;
    widths &= starts & ~tag;
    if ((widths >> 63) != 0) return 0;  // its trail may lie past the text
    std::size_t next_line = kBlock + 1;
    if (nl != 0) {
      const auto first = static_cast<std::size_t>(__builtin_ctzll(nl));
      if (b_ + first - 1 - line_start_ >= PieceReader::kPiece) return 0;
      next_line = static_cast<std::size_t>(63 - __builtin_clzll(nl)) + 1;
    }
    // The block is taken. Runs of characters for the width rules lie in text between tags and
    // never across a line end; the output is stored in segments around them.
    const std::uint64_t fold = letters & tag & ~in_quotes;
    std::size_t stored = 0;
    for (std::uint64_t todo = widths; todo != 0;) {
      const auto at = static_cast<std::size_t>(__builtin_ctzll(todo));
      if (at >= next_line) EndLines(nl, next_line, tag, in_quotes, gt);
      StoreBlock<Isa>(fold, stored, at);
      stored = at + ConvertWidth(b_ + at);
      if (stored >= kBlock) break;
      todo &= ~Span(0, stored);
    }
    if (next_line <= kBlock) EndLines(nl, next_line, tag, in_quotes, gt);
    if (stored < kBlock) StoreBlock<Isa>(fold, stored, kBlock);
    SetState(kBlock - 1, tag, in_quotes, gt);
    *where = Locate(state_);
    return stored > kBlock ? stored : kBlock;
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
      from = static_cast<std::size_t>(63 - __builtin_clzll(gt & upto));
    }
    state_.quote_state = ((in_quotes >> from) & 1) != 0 ? 1 : -1;
  }

  // Moves on through the block until it is done, the walk must stop, or an LF needs its CR;
  // cur_ is then the offset reached.
  template <class Isa>
  BlockEnd WalkBlock(const Stops& stops, Where* where, std::uint64_t* fold) {
    while (cur_ < kBlock) {
      std::size_t k = 0;
      switch (*where) {
        case Where::kText:
          k = NextBit(stops.text, cur_);
          break;
        case Where::kTag:
          k = NextBit(stops.tag, cur_);
          *fold |= stops.letters & Span(cur_, k);
          break;
        case Where::kQuoted:
          k = NextBit(stops.quoted, cur_);
          break;
        case Where::kComment:
          if (strip_) {
            const BlockEnd how = DeleteComment<Isa>(*fold, where);
            if (how != BlockEnd::kDone) return how;
            continue;
          }
          k = NextBit(stops.comment, cur_);
          break;
        case Where::kElsewhere:
          return BlockEnd::kStop;
      }
      cur_ = k;
      if (k == kBlock) break;
      const std::size_t at = b_ + k;
      if (at == e_) return BlockEnd::kStop;
      const char c = in_[at];
      if (c == '\n' || c == '\r') {
        if (mode_ == Mode::kPiece) return BlockEnd::kStop;
        if (at - line_start_ >= PieceReader::kPiece) return BlockEnd::kStop;  // cut in pieces
        if (c == '\n') return BlockEnd::kNewLine;
        // A lone CR is dropped, and the text of a line without its end is not all here yet.
        if (at + 1 == e_ || in_[at + 1] != '\n') return BlockEnd::kStop;
        cur_ += 2;
        EndLine(b_ + cur_);
        continue;
      }
      if (*where == Where::kText && static_cast<unsigned char>(c) >= 0x80) {
        // Half-width kana, or a full-width digit or letter: its trail must be in the piece.
        if (at + 1 == e_) return BlockEnd::kStop;
        // The output before it is stored with the shift it had; the masks of the block stay
        // good, since they describe the input.
        StoreBlock<Isa>(*fold, seg_, k);
        cur_ = k + ConvertWidth(at);
        seg_ = cur_;
        continue;
      }
      if (!Event<Isa>(at, c, where, *fold)) return BlockEnd::kStop;
    }
    return BlockEnd::kDone;
  }

  // The CR or LF that ends the line holding `at`, or e_; searched once a line.
  std::size_t LineEnd(std::size_t at) {
    if (line_end_from_ != line_start_) {
      line_end_from_ = line_start_;
      line_end_ = at + FindAnyOf<'\r', '\n'>(in_ + at, e_ - at);
    }
    return line_end_;
  }

  // Deletes n bytes at offset k of the block; the output before them is stored as it stands.
  template <class Isa>
  void Drop(std::size_t k, std::size_t n, std::uint64_t fold) {
    StoreBlock<Isa>(fold, seg_, k);
    shift_ -= n;
    cur_ = k + n;
    seg_ = cur_;
  }

  // Under -r, inside a comment: the text up to its end goes. The marks at the position go as
  // they are; otherwise the end is searched byte by byte, as the full rules do, even inside
  // what the character walk would take for one double-byte character. The walk agrees again
  // after it: the '>' is no lead byte. A comment that goes on past the line is the full rules'
  // to cut.
  template <class Isa>
  BlockEnd DeleteComment(std::uint64_t fold, Where* where) {
    const std::size_t at = b_ + cur_;
    if (At(at, "<!--") || At(at, "-->")) {
      Event<Isa>(at, in_[at], where, fold);
      return BlockEnd::kDone;
    }
    const std::size_t end = mode_ == Mode::kWholeLines ? LineEnd(at) : e_;
    for (std::size_t x = at + 2; x < end; ++x) {
      const void* gt = std::memchr(in_ + x, '>', end - x);
      if (gt == nullptr) break;
      x = static_cast<std::size_t>(static_cast<const char*>(gt) - in_);
      if (in_[x - 1] == '-' && in_[x - 2] == '-') {
        Drop<Isa>(cur_, x + 1 - at, fold);
        state_.in_comment = 0;
        *where = Locate(state_);
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
      WidthStep step = ConvertWidthAt({in_ + p, e_ - p}, Dest(p), options_);
      if (step.read == 0) {
        if (p != at) break;
        std::memcpy(Dest(p), in_ + p, 2);
        step = {2, 2};
      }
      shift_ += step.written - step.read;
      p += step.read;
    }
    return p - at;
  }

  // Handles the stop byte at `at`; false when the full rules must take it. Under -r the comment
  // marks go wherever they stand.
  template <class Isa>
  bool Event(std::size_t at, char c, Where* where, std::uint64_t fold) {
    if (c == '<' && At(at, "<!--")) {
      state_.in_comment = 1;
      *where = Where::kComment;
      strip_ ? Drop<Isa>(cur_, 4, fold) : void(cur_ += 4);
      return true;
    }
    if (c == '-') {
      if (At(at, "-->")) {
        state_.in_comment = 0;
        *where = Locate(state_);
        strip_ ? Drop<Isa>(cur_, 3, fold) : void(cur_ += 3);
      } else {
        ++cur_;
      }
      return true;
    }
    switch (*where) {
      case Where::kComment:
        ++cur_;  // a '<' that opens nothing
        return true;
      case Where::kText:
        return c == '<' && OpenTag(at, where);
      case Where::kQuoted:
      case Where::kTag:
        return c != '<' && InTag(at, c, where);
      case Where::kElsewhere:
        break;
    }
    return false;
  }

  // Under -j a <PRE> or </PRE> changes what joins, and a <P> that opens a line may end the line
  // before: the full rules take those.
  bool MattersToJoining(std::size_t at) const {
    const char next = in_[at + 1];
    if (next != 'P' && next != 'p' && next != '/') return false;
    if (At(at, "<PRE>") || At(at, "<pre>") || At(at, "</PRE>") || At(at, "</pre>")) return true;
    return OutputOffset(at) == 0 && (At(at, "<P>") || At(at, "<p>"));
  }

  bool OpenTag(std::size_t at, Where* where) {
    if (join_ && MattersToJoining(at)) return false;
    state_.quote_state = -1;
    state_.in_tag = 1;
    *where = Where::kTag;
    ++cur_;
    return true;
  }

  // A '>', '"' or '#' in a tag; in a quoted value only the first two stop the walk.
  bool InTag(std::size_t at, char c, Where* where) {
    if (c == '>') {
      state_.in_tag = 0;
      state_.link_kind = 0;
      *where = Where::kText;
      ++cur_;
    } else if (c == '"') {
      state_.quote_state = -state_.quote_state;
      *where = state_.quote_state == 1 ? Where::kQuoted : Where::kTag;
      ++cur_;
    } else {
      cur_ += HashTokenLength({in_ + at, e_ - at}, mode_ == Mode::kWholeLines);
    }
    return true;
  }

  const OptionSet& options_;
  const Mode mode_;
  const char* const in_;
  const std::size_t e_;
  char* const out_;
  // Output offset minus input offset, modulo 2^64: rules before the walk may have deleted.
  std::size_t shift_;
  ConvState& state_;
  const bool strip_ = options_.strip_comments;
  const bool join_ = options_.join_lines;
  const bool kana_ = options_.kana_to_wide;
  const bool alnum_ = options_.digits_to_narrow || options_.letters_to_narrow;
  std::size_t b_;        // the block's first byte
  std::size_t cur_ = 0;  // the walk's offset in the block
  std::size_t seg_ = 0;  // the block's bytes from here on are not stored yet
  std::size_t line_start_;
  std::size_t line_end_from_ = ~std::size_t{0};  // the line start line_end_ belongs to
  std::size_t line_end_ = 0;
  ConvState saved_;  // the state and shift at line_start_
  std::size_t saved_shift_;
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
