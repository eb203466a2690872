// Tag removal (-f -m -o -s), link kinds for -u, the attribute rules (-u -b), '#' tokens.
#pragma once

#include <cstddef>
#include <string_view>

#include "convert/conv_state.h"
#include "convert/line_edit.h"
#include "convert/options.h"

namespace lowtags {

// At a '<' that has just opened a tag. True when the whole tag was deleted: in_tag is 0 again and
// the position holds the text that followed it.
bool TryTagRules(LineEdit& edit, ConvState& state, const OptionSet& options);

// Inside a tag, outside quotes. True when an attribute was deleted and the position must be
// examined again; a flattened reference leaves the position where it was and gives false.
bool TryAttributeRules(LineEdit& edit, ConvState& state, const OptionSet& options);

// Length of the '#' token (a colour or a fragment) that `text` starts with: it keeps its case
// up to the next '>', blank or tab, by whole characters, over '<' and "--" alike, and over the
// newline at the end of a piece. With `stop_at_line_end` (text of many lines) it stops before a
// CR or LF instead; the line's end passes unchanged either way.
std::size_t HashTokenLength(std::string_view text, bool stop_at_line_end);

// True for the bytes an attribute rule can start with, so the scan can pass all others quickly.
inline bool MayStartAttribute(unsigned char c) {
  return c == 'S' || c == 's' || c == 'H' || c == 'h' || c == 'B' || c == 'b';
}

}  // namespace lowtags
