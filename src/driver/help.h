// The --help and --version texts.
#pragma once

#include <string>
#include <string_view>

namespace lowtags {

// The character set of the terminal the help text is written for.
enum class Charset { kShiftJis, kUtf8 };

inline constexpr std::string_view kVersionLine = "lowtags 1.92";

// The help text as stored, in UTF-8, each line ending in LF.
extern const std::string_view kHelpText;

// The help text in `charset`: as stored, or converted to code page 932 by the C library.
// Returns 0 or the errno value of a conversion that failed.
int HelpText(Charset charset, std::string* text);

}  // namespace lowtags
