// The option flags of one run, one per letter: filled by the command line, passed down as a value.
#pragma once

namespace lowtags {

struct OptionSet {
  bool join_lines = false;         // j
  bool upper_case = false;         // c
  bool overwrite = false;          // w
  bool flatten_links = false;      // u
  bool ignore_brackets = false;    // i
  bool strip_img = false;          // m
  bool strip_font = false;         // o
  bool strip_bgcolor = false;      // b
  bool strip_bgsound = false;      // s
  bool strip_links = false;        // f
  bool strip_comments = false;     // r
  bool kana_to_wide = false;       // k
  bool digits_to_narrow = false;   // n
  bool letters_to_narrow = false;  // a
};

}  // namespace lowtags
