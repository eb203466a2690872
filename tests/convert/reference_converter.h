// A slow, literal second implementation of the per-file conversion for differential testing: it
// edits one line at a time the way the rules read, so that a difference points at the optimised
// converter or at the rules. And the converter run every way it can run.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "convert/options.h"

namespace lowtags::reference {

// A file's bytes as a text-mode reader gives them: up to the first 0x1A, each run of CRs (with the
// LF after it) one LF.
std::string TextModeBytes(std::string_view file);

// What the converter hands its sink for a file named "page.htm" (lines and messages, newlines as
// LF); *failed is set when a bracket error stopped the file. `options.overwrite` is ignored.
std::string ReferenceConvert(const OptionSet& options, std::string_view file_bytes, bool* failed);

// The text the converter hands out as `lf_text` (newlines as LF) as the CR LF writer puts it.
std::string WithCrLf(std::string_view lf_text);

// The first way production runs (each engine, into plain writes and into the CR LF writer's room)
// whose output differs from the reference's, with the input and both outputs as C strings; empty
// when every way agrees. The fake disk hands out at most `read_chunk` bytes per read.
std::string Difference(const OptionSet& options, std::string_view file_bytes,
                       std::size_t read_chunk = 1 << 20);

// The options of a group of letters ("w" is left out: the comparison works on standard output).
inline constexpr std::string_view kOptionLetters = "abcfijkmnorsu";
OptionSet OptionsFromLetters(std::string_view letters);

}  // namespace lowtags::reference
