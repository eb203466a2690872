// Character width conversion in text outside tags and comments (-k -n -a).
#pragma once

#include <cstddef>
#include <string_view>

#include "convert/line_edit.h"
#include "convert/options.h"

namespace lowtags {

constexpr bool IsHalfWidthKana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }

// What a width rule did: bytes read and bytes written; nothing read when no rule applied.
struct WidthStep {
  std::size_t read = 0;
  std::size_t written = 0;
};

// Widens the run of half-width kana that `text` starts with into `out`, merging voiced pairs.
WidthStep WidenKana(std::string_view text, char* out);
// Narrows the full-width digit or letter that `text` starts with, when its option is on, into
// `out`; after a digit also a full-width period, comma or minus that another digit follows.
WidthStep NarrowAlnumAt(std::string_view text, char* out, const OptionSet& options);
// Whichever of the two the options take for the character `text` starts with.
WidthStep ConvertWidthAt(std::string_view text, char* out, const OptionSet& options);

// Widens the run of half-width kana at the position under -k, merging voiced pairs; a lone
// kana makes the line a byte longer.
void WidenKanaRun(LineEdit& edit);

// Converts the character at the position when an enabled rule takes it, else passes it;
// either way the scan ends up after it.
void ConvertWidthOrStep(LineEdit& edit, const OptionSet& options);

}  // namespace lowtags
