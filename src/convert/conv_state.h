// What the scanner remembers from one line to the next within one file.
#pragma once

namespace lowtags {

struct ConvState {
  int in_comment = 0;        // inside <!-- ... -->
  int in_tag = 0;            // a '<' has been seen and its '>' has not
  int quote_state = 0;       // -1 outside a quoted value, +1 inside; 0 before the first '<'
  int in_pre = 0;            // between <PRE> and </PRE>; only line joining looks at it
  int prev_line_closed = 0;  // the previous line ended in '>' and kept its newline
  int link_kind = 0;         // 1 link tag, 2 image tag, 0 neither; cleared at every '>'
  int line_no = 0;           // pieces read so far
};

}  // namespace lowtags
