// The line scanner: walks one piece a character at a time through the comment, tag, quote and
// preformatted states, folds the case of letters inside tags, and applies every rule in order.
#pragma once

#include "convert/conv_state.h"
#include "convert/engine.h"
#include "convert/line_edit.h"
#include "convert/options.h"
#include "support/byte_sink.h"

namespace lowtags {

enum class ScanStatus {
  kLineDone,    // the finished line went to the sink
  kSecondOpen,  // a '<' inside a tag: the edit stands at it
  kStrayClose,  // a '>' outside any tag: the edit stands at it
};

// Converts the piece in `edit` under the options, with the help of the block walk `walk` where
// the options allow one (none under kCharacters). The finished line, and before it the extra
// newline of the paragraph rule of -j, go to `lines`. Bracket errors are left to the caller.
ScanStatus ScanLine(LineEdit& edit, ConvState& state, ByteSink& lines, const OptionSet& options,
                    Walk walk);

}  // namespace lowtags
