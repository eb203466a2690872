// The common shapes of a page in one loop: text, tag bodies, quoted values and comments, under
// options that delete no tag and touch no attribute. Sixty-four bytes at a time; anything else
// is left to the full rules.
#pragma once

#include <cstddef>
#include <string_view>

#include "convert/conv_state.h"
#include "convert/engine.h"
#include "convert/line_edit.h"
#include "convert/options.h"

namespace lowtags {

// True when the options leave every tag and attribute whole.
bool PlainRulesApply(const OptionSet& options);

// True when the processor and the build can run the AVX-512 kernels.
bool Avx512WalkAvailable();

// What the walk needs: the options, which must leave every tag and attribute whole, and the
// kernels to use (kPortable or an available kAvx512).
struct PlainSettings {
  const OptionSet& options;
  Walk walk;
};

// Bytes past the end of the piece the loop must be allowed to read.
inline constexpr std::size_t kPlainReadablePastEnd = 65;

// Converts from the position as far as the plain rules reach. Stops at the newline, at the end
// of the piece, or before a byte the full rules must take: a bracket error, a comment to delete
// that goes on past the piece, a <P> or <PRE> under -j, a '<' in a tag.
void PassPlain(LineEdit& edit, ConvState& state, const PlainSettings& settings);

// True when ConvertWholeLines may run: the plain rules, and no line joining.
bool WholeLinesApply(const OptionSet& options);

// Output room ConvertWholeLines needs for `n` bytes of text: an LF gains a CR, and whole blocks
// are stored.
constexpr std::size_t WholeLinesRoom(std::size_t n) { return 2 * n + 128; }

// Converts whole lines from the start of `text`, as many as the plain rules take, into `out` as
// final text (line ends CR LF) and returns the bytes of `text` used up; *out_size is the bytes
// written. It stops before the first line that needs the full rules, is longer than a piece,
// holds a lone CR, or does not end within `text`; the state is then that line's start.
// kPlainReadablePastEnd bytes after `text` must be readable.
std::size_t ConvertWholeLines(std::string_view text, ConvState& state, char* out,
                              std::size_t* out_size, const PlainSettings& settings);

}  // namespace lowtags
