// How the finished text is written: the settings of one run, passed down as a value.
#pragma once

#include "support/text_writer.h"

namespace lowtags {

struct OutputForm {
  bool utf8 = false;  // --utf8: the text and the messages in UTF-8
  bool lf = false;    // --lf: newlines written as LF, not CR LF
  LineEnds line_ends() const { return lf ? LineEnds::kLf : LineEnds::kCrLf; }
};

}  // namespace lowtags
