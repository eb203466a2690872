// Tag removal (-f -m -o -s), link kinds for -u, and the attribute rules (-u -b).
#pragma once

#include "convert/conv_state.h"
#include "convert/line_edit.h"

namespace lowtags {

// At a '<' that has just opened a tag. True when the whole tag was deleted: in_tag is 0 again and
// the position holds the text that followed it.
bool TryTagRules(LineEdit& edit, ConvState& state);

// Inside a tag, outside quotes. True when an attribute was deleted and the position must be
// examined again; a flattened reference leaves the position where it was and gives false.
bool TryAttributeRules(LineEdit& edit, ConvState& state);

// True for the bytes an attribute rule can start with, so the scan can pass all others quickly.
inline bool MayStartAttribute(unsigned char c) {
  return c == 'S' || c == 's' || c == 'H' || c == 'h' || c == 'B' || c == 'b';
}

}  // namespace lowtags
