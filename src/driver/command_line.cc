#include "driver/command_line.h"

#include <cstdint>
#include <string_view>

#include "convert/options.h"

namespace lowtags {

namespace {

// The flag an option letter sets, or null for a byte outside the list (capitals included).
std::int32_t* FlagFor(char letter) {
  OptionSet& o = Options;
  switch (letter) {
    case 'a': return &o.letters_to_narrow;
    case 'b': return &o.strip_bgcolor;
    case 'c': return &o.upper_case;
    case 'f': return &o.strip_links;
    case 'i': return &o.ignore_brackets;
    case 'j': return &o.join_lines;
    case 'k': return &o.kana_to_wide;
    case 'm': return &o.strip_img;
    case 'n': return &o.digits_to_narrow;
    case 'o': return &o.strip_font;
    case 'r': return &o.strip_comments;
    case 's': return &o.strip_bgsound;
    case 'u': return &o.flatten_links;
    case 'w': return &o.overwrite;
    default: return nullptr;
  }
}

}  // namespace

CommandLine ParseCommandLine(std::span<const char* const> args) {
  CommandLine line;
  if (args.size() == 1 && std::string_view(args[0]) == "-usage") {
    line.kind = CommandLine::Kind::kUsage;
    return line;
  }
  if (args.empty()) {
    line.kind = CommandLine::Kind::kSynopsis;
    return line;
  }
  std::size_t i = 0;
  for (; i < args.size() && args[i][0] == '-'; ++i) {
    for (const char* p = args[i] + 1; *p != '\0'; ++p) {
      std::int32_t* flag = FlagFor(*p);
      if (flag == nullptr) {
        line.kind = CommandLine::Kind::kUnknownOption;
        line.bad_option = *p;
        return line;
      }
      *flag = 1;
    }
  }
  line.files.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  return line;
}

}  // namespace lowtags
