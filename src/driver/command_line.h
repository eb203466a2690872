// The command line: the usage request, the option groups, the file names.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace lowtags {

struct CommandLine {
  enum class Kind {
    kUsage,          // the lone argument "-usage": print the whole usage text
    kSynopsis,       // no argument at all
    kUnknownOption,  // a byte outside the option letters, in `bad_option`
    kFiles,          // options read into Options; convert `files`
  };
  Kind kind = Kind::kFiles;
  char bad_option = '\0';
  std::vector<std::string> files;
};

// Reads the leading arguments that begin with '-' as option groups, setting Options; the first
// argument that does not begin with '-' and all after it are file names, whatever they look like.
CommandLine ParseCommandLine(std::span<const char* const> args);

}  // namespace lowtags
