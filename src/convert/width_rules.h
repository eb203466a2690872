// Character width conversion in text outside tags and comments (-k -n -a).
#pragma once

#include "convert/line_edit.h"

namespace lowtags {

constexpr bool IsHalfWidthKana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }

// Widens the run of half-width kana at the position under -k, merging voiced pairs; a lone
// kana makes the line a byte longer.
void WidenKanaRun(LineEdit& edit);

// Converts the character at the position when an enabled rule takes it, else passes it;
// either way the scan ends up after it.
void ConvertWidthOrStep(LineEdit& edit);

}  // namespace lowtags
