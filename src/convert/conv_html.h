// Converts one open file: to standard output, or back into the file under -w.
#pragma once

#include <cstddef>
#include <string>

#include "convert/output_form.h"
#include "convert/rewrite.h"
#include "support/byte_sink.h"
#include "support/disk.h"
#include "support/text_reader.h"

namespace lowtags {

enum class ConvResult {
  kConverted,  // the whole file was converted
  kFailed,     // a bracket error, a read error or a line that could not be stored
};

// Reads `input` to its end. Messages go to `out`, and so do the lines unless a `rewrite` is given
// (under -w) to take them; `path` is the name as typed, for messages. The text is written in the
// form given: under utf8 a sequence that does not map fails the file.
ConvResult conv_html(PieceReader& input, const std::string& path, ByteSink& out,
                     Replacement* rewrite = nullptr, const OutputForm& form = {});

}  // namespace lowtags
