#include "driver/command_line.h"

#include <array>

namespace lowtags {

namespace {

// A setting is a row with kind kFiles and the flag it sets.
constexpr std::array kLongOptions = {
    LongOption{"--help", CommandLine::Kind::kHelp, nullptr},
    LongOption{"--version", CommandLine::Kind::kVersion, nullptr},
    LongOption{"--utf8", CommandLine::Kind::kFiles, nullptr, &OutputForm::utf8},
    LongOption{"--lf", CommandLine::Kind::kFiles, nullptr, &OutputForm::lf},
};

// The flag an option letter sets, or null for a byte outside the list (capitals included).
bool* FlagFor(char letter, OptionSet& o) {
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

// Sets the flags of one group such as "-cj"; false, with the byte in `line`, at an unknown one.
bool ReadGroup(std::string_view group, CommandLine& line) {
  for (const char letter : group.substr(1)) {
    bool* flag = FlagFor(letter, line.options);
    if (flag == nullptr) {
      line.kind = CommandLine::Kind::kUnknownOption;
      line.bad_option = letter;
      return false;
    }
    *flag = true;
  }
  return true;
}

// Sets a setting's flag and returns true; a request or an unknown word goes into `line`.
bool ReadLongOption(std::string_view word, CommandLine& line) {
  for (const LongOption& option : kLongOptions) {
    if (option.name != word) continue;
    if (option.kind != CommandLine::Kind::kFiles) {
      line.kind = option.kind;
      return false;
    }
    if (option.flag != nullptr) line.options.*option.flag = true;
    if (option.form_flag != nullptr) line.form.*option.form_flag = true;
    return true;
  }
  line.kind = CommandLine::Kind::kUnknownLongOption;
  line.bad_long_option = word;
  return false;
}

}  // namespace

std::span<const LongOption> LongOptions() { return kLongOptions; }

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
  for (; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    // A lone "-" is standard input, a file name like any other.
    if (arg.size() < 2 || arg[0] != '-') break;
    if (arg == "--") {
      ++i;
      break;
    }
    const bool read = arg[1] == '-' ? ReadLongOption(arg, line) : ReadGroup(arg, line);
    if (!read) return line;
  }
  line.files.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  return line;
}

}  // namespace lowtags
