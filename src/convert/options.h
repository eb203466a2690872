// The option flags, one per letter; written once by the command line, read by every rule.
#pragma once

#include <cstdint>

namespace lowtags {

struct OptionSet {
  std::int32_t join_lines = 0;         // j
  std::int32_t upper_case = 0;         // c
  std::int32_t overwrite = 0;          // w
  std::int32_t flatten_links = 0;      // u
  std::int32_t ignore_brackets = 0;    // i
  std::int32_t strip_img = 0;          // m
  std::int32_t strip_font = 0;         // o
  std::int32_t strip_bgcolor = 0;      // b
  std::int32_t strip_bgsound = 0;      // s
  std::int32_t strip_links = 0;        // f
  std::int32_t strip_comments = 0;     // r
  std::int32_t kana_to_wide = 0;       // k
  std::int32_t digits_to_narrow = 0;   // n
  std::int32_t letters_to_narrow = 0;  // a
};

extern OptionSet Options;

}  // namespace lowtags
