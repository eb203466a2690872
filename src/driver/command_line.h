// The command line: the usage request, the option groups, the long options, the file names.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "convert/options.h"
#include "convert/output_form.h"

namespace lowtags {

struct CommandLine {
  enum class Kind {
    kUsage,              // the lone argument "-usage": print the whole usage text
    kSynopsis,           // no argument at all
    kUnknownOption,      // a byte outside the option letters, in `bad_option`
    kUnknownLongOption,  // a "--word" outside the long options, whole in `bad_long_option`
    kHelp,               // --help
    kVersion,            // --version
    kFiles,              // options read into `options`; convert `files`
  };
  Kind kind = Kind::kFiles;
  char bad_option = '\0';
  std::string bad_long_option;
  OptionSet options;  // from the option letters
  OutputForm form;    // from the long options that set it
  std::vector<std::string> files;
};

// A long option: a request answered instead of converting (kHelp, kVersion), or, with kind
// kFiles, a setting that sets `flag` or `form_flag` and lets the files be converted. The form
// of the output is passed to the conversion as a value, not kept with the option letters.
struct LongOption {
  std::string_view name;  // the whole argument, "--" included
  CommandLine::Kind kind;
  bool OptionSet::*flag;
  bool OutputForm::*form_flag = nullptr;
};

// Every long option, in the order the help text lists them.
std::span<const LongOption> LongOptions();

// The file name that stands for standard input.
inline constexpr std::string_view kStdinName = "-";

// Reads the leading arguments that begin with '-' as option groups or long options into the
// line's options and form, up to the first argument that does not, a lone "-", or "--" (which is
// dropped); that argument and all after it are file names, whatever they look like. A request
// (--help, --version) or an unknown option ends the reading where it stands.
CommandLine ParseCommandLine(std::span<const char* const> args);

}  // namespace lowtags
