// The usage text, stored in Shift_JIS as the program prints it.
#pragma once

#include <array>
#include <string_view>

namespace lowtags {

inline constexpr std::size_t kUsageLines = 30;
extern const std::array<std::string_view, kUsageLines> usage;
// The synopsis line, printed alone for an empty command line.
inline constexpr std::size_t kSynopsisLine = 3;

}  // namespace lowtags
