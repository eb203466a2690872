// A slow, literal second implementation of the per-file conversion for differential testing: it
// edits one line at a time the way the rules read, so that a difference points at the optimised
// converter or at the rules. And the converter run every way it can run.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "convert/engine.h"
#include "convert/options.h"

namespace lowtags::reference {

// What the converter hands its sink for a file named "page.htm" (lines and messages, newlines as
// LF); *failed is set when a bracket error stopped the file. `options.overwrite` is ignored.
std::string ReferenceConvert(const OptionSet& options, std::string_view file_bytes, bool* failed);

// An engine, and a sink that takes plain writes or one that offers Room/Filled (the CR LF writer).
struct Route {
  Engine engine;
  bool room = false;
};
std::vector<Route> AllRoutes();
std::string NameOf(const Route& route);

// What the route writes for the file, read from a fake disk that hands out at most `read_chunk`
// bytes per read (small chunks make the reader refill mid-line); and for text the converter
// hands out as `lf_text`.
std::string ProductionConvert(const Route& route, const OptionSet& options,
                              std::string_view file_bytes, bool* failed,
                              std::size_t read_chunk = 1 << 20);
std::string AsWritten(const Route& route, std::string_view lf_text);

// The first route whose output for the file differs from the reference's, with the input and
// both outputs as C strings (octal escapes, as Escape gives); empty when every route agrees.
std::string Difference(const OptionSet& options, std::string_view file_bytes,
                       std::size_t read_chunk = 1 << 20);
std::string Escape(std::string_view bytes);

// The options of a group of letters ("w" is left out: the comparison works on standard output).
inline constexpr std::string_view kOptionLetters = "abcfijkmnorsu";
OptionSet OptionsFromLetters(std::string_view letters);

}  // namespace lowtags::reference
