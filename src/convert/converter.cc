#include "convert/converter.h"

#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "convert/conv_state.h"
#include "convert/line_edit.h"
#include "convert/plain_scan.h"
#include "convert/scanner.h"
#include "convert/utf8_output.h"
#include "support/message.h"

namespace lowtags {

namespace {

// A NUL byte read from the file ends the line's text: the rest of the piece is dropped.
std::span<char> TextOf(std::span<char> piece) {
  const void* nul = std::memchr(piece.data(), '\0', piece.size());
  if (nul == nullptr) return piece;
  return piece.first(static_cast<std::size_t>(static_cast<const char*>(nul) - piece.data()));
}

void ReportBracketError(ByteSink& out, ScanStatus status, const std::string& path,
                        const ConvState& state, const LineEdit& edit, bool utf8) {
  const auto report = status == ScanStatus::kSecondOpen ? TagNotClosed : NoOpeningBracket;
  if (!utf8) {
    report(out, path, state.line_no, edit.Text());
    return;
  }
  const std::size_t prefix = LinePrefixSize(path, state.line_no);
  report(out, path, state.line_no, MessageLine(edit.Text(), prefix));
}

// The text under --utf8, with what it reports. Before a message, everything held back is
// handed on, so that the message follows the text it is about.
class Utf8Lines {
 public:
  Utf8Lines(const OutputForm& form, ByteSink& plain) {
    if (form.utf8) utf8_.emplace(plain);
  }
  bool on() const { return utf8_.has_value(); }
  ByteSink& sink(ByteSink& plain) { return on() ? *utf8_ : plain; }
  bool failed() const { return on() && utf8_->failed(); }
  // False when the text did not all convert; that has then been reported.
  bool Settle(ByteSink& out, const std::string& path) {
    if (!on() || utf8_->Finish()) return true;
    NotConvertibleToUtf8(out, path, utf8_->failed_line());
    return false;
  }

 private:
  std::optional<Utf8Output> utf8_;
};

// Converts whole lines straight from the read buffer into the sink's, as far as the plain rules
// take them; the pieces go on from the first line they do not.
class WholeLines {
 public:
  static constexpr std::size_t kChunk = 64 * 1024;

  static_assert(PieceReader::kReadablePastEnd >= kPlainReadablePastEnd);

  explicit WholeLines(const PlainSettings& settings) : settings_(settings) {}

  // False when not even the first line could be taken.
  bool Convert(PieceReader& input, ConvState& state, ByteSink& lines) {
    const std::string_view text = input.Text(kChunk);
    // A NUL ends a line's text: the pieces search for it.
    if (text.empty() || input.may_hold_nul()) return false;
    std::span<char> room = lines.Room(WholeLinesRoom(text.size()));
    const bool own_room = room.empty();
    if (own_room) {
      scratch_.resize(WholeLinesRoom(kChunk));
      room = scratch_;
    }
    std::size_t written = 0;
    const std::size_t used = ConvertWholeLines(text, state, room.data(), &written, settings_);
    if (own_room) {
      // A sink without room of its own gets the lines as the scanner hands them out, LF alone;
      // the text holds no CR but those of its CR LF ends.
      lines.Write({room.data(), FoldCarriageReturns(room.first(written), false)});
    } else {
      lines.Filled(written);
    }
    input.Consume(used);
    return used != 0;
  }

 private:
  const PlainSettings& settings_;
  std::vector<char> scratch_;
};

}  // namespace

ConvResult Converter::Convert(PieceReader& input, const std::string& path, ByteSink& out,
                              Replacement* rewrite, const OutputForm& form) const {
  ConvState state;
  ByteSink& plain = rewrite != nullptr ? static_cast<ByteSink&>(*rewrite) : out;
  Utf8Lines utf8(form, plain);
  ByteSink& lines = utf8.sink(plain);
  const bool whole_lines =
      engine_.whole_lines && engine_.walk != Walk::kCharacters && WholeLinesApply(options_);
  bool try_whole_lines = whole_lines;
  const PlainSettings settings{options_, engine_.walk};
  WholeLines fast(settings);
  LineEdit edit;
  std::span<char> piece;
  for (;;) {
    // Once whole lines gave up on a line, the pieces take it to its end first: a line longer
    // than a piece would be walked twice otherwise.
    if (try_whole_lines) try_whole_lines = fast.Convert(input, state, lines);
    if (!input.Next(&piece)) break;
    if (!try_whole_lines) try_whole_lines = whole_lines && piece.back() == '\n';
    ++state.line_no;
    edit.Reset(input.may_hold_nul() ? TextOf(piece) : piece, PieceReader::kReadablePastEnd);
    const ScanStatus status = ScanLine(edit, state, lines, options_, engine_.walk);
    if (status != ScanStatus::kLineDone) {
      (void)utf8.Settle(out, path);
      ReportBracketError(out, status, path, state, edit, utf8.on());
      return ConvResult::kFailed;
    }
    // A line that cannot be stored must not vanish from the rewritten file.
    if (rewrite != nullptr && rewrite->failed()) return ConvResult::kFailed;
    if (utf8.failed()) break;
  }
  if (!utf8.Settle(out, path)) return ConvResult::kFailed;
  // A read error is no end of file: the file is not passed as a shorter one.
  if (input.error() != 0) return ConvResult::kFailed;
  if (state.in_tag && !options_.ignore_brackets) {
    TagOpenAtEnd(out, path);
    return ConvResult::kFailed;
  }
  // Whole lines go to the store in chunks, not checked one by one.
  if (rewrite != nullptr && rewrite->failed()) return ConvResult::kFailed;
  return ConvResult::kConverted;
}

}  // namespace lowtags
