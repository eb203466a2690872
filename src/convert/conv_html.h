// Converts one open file: to standard output, or back into the file under -w.
#pragma once

#include <cstddef>
#include <string>

#include "support/byte_sink.h"
#include "support/disk.h"
#include "support/text_reader.h"

namespace lowtags {

enum class ConvResult {
  kConverted,  // the whole file was converted (and, under -w, written back)
  kFailed,     // a bracket error, a read error or a line that could not be stored
  kStop,       // the file could not be rewritten: the program must end with status 1
};

// Under -w, once this much of a file is converted its rewrite begins beside the conversion.
inline constexpr std::size_t kRewriteAheadFrom = std::size_t{1} << 20;

// Reads `input` to its end. Messages go to `out`, and so do the lines unless Options.overwrite
// is set; `path` is the name as typed, for messages and the rewrite.
ConvResult conv_html(PieceReader& input, const std::string& path, ByteSink& out, Disk& disk);

}  // namespace lowtags
