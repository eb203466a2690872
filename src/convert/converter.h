// The converter of one run: converts open files to standard output, or back into each file
// under -w, under fixed options with a chosen engine.
#pragma once

#include <cstddef>
#include <string>

#include "convert/engine.h"
#include "convert/options.h"
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

class Converter {
 public:
  // `engine` must be available (see engine.h); every engine gives the same bytes.
  Converter(const OptionSet& options, Engine engine) : options_(options), engine_(engine) {}

  // Reads `input` to its end. Messages go to `out`, and so do the lines unless a `rewrite` is
  // given (under -w) to take them; `path` is the name as typed, for messages. The text is
  // written in the form given: under utf8 a sequence that does not map fails the file.
  ConvResult Convert(PieceReader& input, const std::string& path, ByteSink& out,
                     Replacement* rewrite = nullptr, const OutputForm& form = {}) const;

 private:
  OptionSet options_;
  Engine engine_;
};

}  // namespace lowtags
