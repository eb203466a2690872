#include "convert/tag_rules.h"

#include <string_view>

#include "support/sjis.h"
#include "support/sjis_search.h"

namespace lowtags {

namespace {

// Matching is by exact byte prefixes in the two listed forms only: <Img> and bgColor= are not
// recognised. Only the link tag looks past its prefix, since "<A" begins <ADDRESS>, <AREA> and
// <abbr> too.
// Inlined where the prefixes are constants, so that the comparisons are a few instructions.
[[gnu::always_inline]] inline bool StartsWithEither(const LineEdit& edit, std::string_view upper,
                                                    std::string_view lower) {
  return edit.StartsWith(upper) || edit.StartsWith(lower);
}

enum class Removal { kDeleted, kKept };

// "<A" names a link only when its name ends there: a blank, the tag's end, the line's end.
bool OpensLinkTag(const LineEdit& edit) {
  const unsigned char after = edit.Byte(2);  // NUL where the line's text ends
  return after == ' ' || after == '\t' || after == '>' || after == '\n' || after == '\0';
}

// Deletes from the '<' through the first '>' on the line, searched byte by byte and blind to
// quotes. A tag whose '>' is on a later line is never removed.
Removal DeleteThroughClose(LineEdit& edit, ConvState& state) {
  const std::size_t close = edit.FindGtByte(1);
  if (close == LineEdit::npos) return Removal::kKept;
  edit.Skip(close + 1);
  state.in_tag = 0;
  return Removal::kDeleted;
}

Removal DeleteEndTag(LineEdit& edit, ConvState& state, std::size_t length) {
  edit.Skip(length);
  state.in_tag = 0;
  return Removal::kDeleted;
}

// The prefixes exclude one another (the byte after '<' tells them apart), so the first that
// matches decides; a matching tag without its '>' on the line stops the removals there.
Removal TryRemovals(LineEdit& edit, ConvState& state, const OptionSet& o) {
  switch (edit.Byte(1)) {
    case 'A':
    case 'a':
      if (o.strip_links && OpensLinkTag(edit)) return DeleteThroughClose(edit, state);
      break;
    case '/':
      if (o.strip_links && StartsWithEither(edit, "</a>", "</A>")) {
        return DeleteEndTag(edit, state, 4);
      }
      if (o.strip_font && StartsWithEither(edit, "</FONT>", "</font>")) {
        return DeleteEndTag(edit, state, 7);
      }
      break;
    case 'I':
    case 'i':
      if (o.strip_img && StartsWithEither(edit, "<IMG", "<img")) {
        return DeleteThroughClose(edit, state);
      }
      break;
    case 'F':
    case 'f':
      if (o.strip_font && StartsWithEither(edit, "<FONT", "<font")) {
        return DeleteThroughClose(edit, state);
      }
      break;
    case 'B':
    case 'b':
      if (o.strip_bgsound && StartsWithEither(edit, "<BGSOUND", "<bgsound")) {
        return DeleteThroughClose(edit, state);
      }
      break;
    default: break;
  }
  return Removal::kKept;
}

// <FRAME> is no link tag (only the 9-byte <FRAMESET> is), but <AREA> is: for flattening, "<A" is
// all it takes.
void NoteLinkKind(const LineEdit& edit, ConvState& state) {
  if (StartsWithEither(edit, "<A", "<a") || StartsWithEither(edit, "<FRAMESET", "<frameset") ||
      StartsWithEither(edit, "<BGSOUND", "<bgsound")) {
    state.link_kind = 1;
  } else if (StartsWithEither(edit, "<IMG", "<img")) {
    state.link_kind = 2;
  }
}

// Length of the reference prefix at the position, or 0.
std::size_t ReferencePrefix(const LineEdit& edit) {
  if (StartsWithEither(edit, "SRC=\"", "src=\"")) return 5;
  if (StartsWithEither(edit, "HREF=\"", "href=\"")) return 6;
  return 0;
}

// The closing quote of a value, when it comes before any '>' (a '>' in between ends the tag
// first). Both searches step by whole characters.
std::size_t ClosingQuoteBeforeTagEnd(LineEdit& edit, std::size_t value_start) {
  const std::size_t close = edit.FindChar('"', value_start);
  if (close == LineEdit::npos) return LineEdit::npos;
  const std::size_t tag_end = edit.FindChar('>', 0);
  return (tag_end == LineEdit::npos || tag_end > close) ? close : LineEdit::npos;
}

// Cuts the reference down to its last path component. The last '/' is searched inside the
// value only; a '/' that is the value's first or last byte leaves it whole.
void FlattenReference(LineEdit& edit, std::size_t prefix) {
  const std::size_t close = ClosingQuoteBeforeTagEnd(edit, prefix);
  if (close == LineEdit::npos) return;
  const std::string_view value = edit.Rest().substr(prefix, close - prefix);
  const std::size_t slash = Strrchr(value, '/');
  if (slash == std::string_view::npos || slash == 0 || slash + 1 == value.size()) return;
  edit.DeleteAhead(prefix, prefix + slash + 1);
}

// Deletes a quoted bgcolor attribute through its closing quote; the blank before it stays.
bool DeleteBackgroundColour(LineEdit& edit) {
  constexpr std::size_t kPrefix = 9;  // bgcolor="
  const std::size_t close = ClosingQuoteBeforeTagEnd(edit, kPrefix);
  if (close == LineEdit::npos) return false;
  edit.Skip(close + 1);
  return true;
}

}  // namespace

std::size_t HashTokenLength(std::string_view text, bool stop_at_line_end) {
  const auto line_end = [stop_at_line_end](char c) {
    return stop_at_line_end && (c == '\n' || c == '\r');
  };
  std::size_t p = 0;
  while (p < text.size() && text[p] != '>' && text[p] != ' ' && text[p] != '\t' &&
         !line_end(text[p])) {
    const bool pair = CharLength(text, p) == 2 && !line_end(text[p + 1]);
    p += pair ? 2 : 1;
  }
  return p;
}

bool TryTagRules(LineEdit& edit, ConvState& state, const OptionSet& options) {
  if (TryRemovals(edit, state, options) == Removal::kDeleted) return true;
  if (options.flatten_links) NoteLinkKind(edit, state);
  return false;
}

bool TryAttributeRules(LineEdit& edit, ConvState& state, const OptionSet& options) {
  if (state.link_kind != 0) {
    if (const std::size_t prefix = ReferencePrefix(edit)) {
      FlattenReference(edit, prefix);
      return false;
    }
  }
  if (options.strip_bgcolor && StartsWithEither(edit, "bgcolor=\"", "BGCOLOR=\"")) {
    return DeleteBackgroundColour(edit);
  }
  return false;
}

}  // namespace lowtags
