// The option letters and long options the program accepts, and the ones its usage text, its help
// text, its man page and its README tell about, are the same: an option added to one place and
// forgotten in another fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "convert/options.h"
#include "driver/command_line.h"
#include "driver/help.h"
#include "driver/usage.h"
#include "test_support.h"

namespace lowtags {
namespace {

constexpr std::size_t kFlagCount = sizeof(OptionSet);
using FlagArray = std::array<bool, kFlagCount>;

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

struct Accepted {
  std::string letters;
  // For each accepted letter, the index of the one flag it set (-1: none, -2: several).
  std::vector<int> flag;
};

int OnlyFlagSet(const OptionSet& options) {
  const FlagArray flags = std::bit_cast<FlagArray>(options);
  int found = -1;
  for (std::size_t i = 0; i < flags.size(); ++i) {
    if (!flags[i]) continue;
    if (found != -1) return -2;
    found = static_cast<int>(i);
  }
  return found;
}

Accepted ProbeEveryLetter() {
  constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  Accepted accepted;
  for (const char letter : kLetters) {
    const std::string group = {'-', letter};
    const std::array<const char*, 1> args = {group.c_str()};
    const CommandLine line = ParseCommandLine(args);
    if (line.kind == CommandLine::Kind::kUnknownOption) {
      EXPECT_EQ(line.bad_option, letter);
      continue;
    }
    EXPECT_EQ(line.kind, CommandLine::Kind::kFiles) << group;
    accepted.letters += letter;
    accepted.flag.push_back(OnlyFlagSet(line.options));
  }
  return accepted;
}

const Accepted& Probed() {
  static const Accepted probed = ProbeEveryLetter();
  return probed;
}
const std::string& accepted() { return Probed().letters; }

using Names = std::set<std::string>;

// The accepted letters as "-a", "-b", ..., and the long options.
Names AcceptedNames() {
  Names names;
  for (const char letter : accepted()) names.insert(std::string("-") + letter);
  for (const LongOption& option : LongOptions()) names.emplace(option.name);
  return names;
}

// Options only: a letter or a long option, not "--" or the "-usage" request.
void AddOption(Names* names, std::string name) {
  const bool letter = name.size() == 2 && name[0] == '-' && IsAsciiLetter(name[1]);
  if (letter || (name.size() > 2 && name.starts_with("--"))) names->insert(name);
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t nl = text.find('\n'); !text.empty(); nl = text.find('\n')) {
    lines.push_back(text.substr(0, nl));
    text.remove_prefix(nl == text.npos ? text.size() : nl + 1);
  }
  return lines;
}

// The lines after the line `heading` up to the next line that starts with `next`.
std::vector<std::string_view> Section(std::string_view text, std::string_view heading,
                                      std::string_view next) {
  const std::size_t at = text.find("\n" + std::string(heading) + "\n");
  if (at == text.npos) return {};
  text.remove_prefix(at + heading.size() + 2);
  return Lines(text.substr(0, text.find("\n" + std::string(next))));
}

// The letters between the first `open` and the `close` after it, blanks left out: "abc" for
// "Usage: lowtags [-abc] <htmlfiles>" with "[-" and "]".
std::string SortedLettersBetween(std::string_view text, std::string_view open, char close) {
  const std::size_t start = text.find(open);
  if (start == std::string_view::npos) return "(no " + std::string(open) + ")";
  const std::size_t from = start + open.size();
  std::string letters(text.substr(from, text.find(close, from) - from));
  std::erase(letters, ' ');
  std::sort(letters.begin(), letters.end());
  return letters;
}

TEST(OptionsAgreeTest, EveryAcceptedLetterSetsAFlagOfItsOwn) {
  EXPECT_FALSE(accepted().empty());
  std::set<int> seen;
  for (std::size_t i = 0; i < accepted().size(); ++i) {
    const int flag = Probed().flag[i];
    EXPECT_GE(flag, 0) << "-" << accepted()[i] << " must set exactly one flag";
    EXPECT_TRUE(seen.insert(flag).second) << "-" << accepted()[i] << " shares a flag";
  }
  EXPECT_EQ(seen.size(), kFlagCount) << "a flag that no letter sets";
}

TEST(OptionsAgreeTest, EveryLongOptionIsAcceptedAlone) {
  ASSERT_FALSE(LongOptions().empty());
  for (const LongOption& option : LongOptions()) {
    const std::string name(option.name);
    EXPECT_TRUE(name.starts_with("--") && name.size() > 2) << name;
    const std::array<const char*, 2> args = {name.c_str(), "page.htm"};
    const CommandLine line = ParseCommandLine(args);
    EXPECT_EQ(line.kind, option.kind) << name;
    // A setting sets its one flag, or its one setting of the output's form; a request sets none.
    const int flag = OnlyFlagSet(line.options);
    const int settings = (flag >= 0 ? 1 : 0) + (line.form.utf8 ? 1 : 0) + (line.form.lf ? 1 : 0) +
                         (flag == -2 ? 2 : 0);
    EXPECT_EQ(settings, option.kind == CommandLine::Kind::kFiles ? 1 : 0) << name;
  }
}

// The usage text's synopsis, help lines "  -x  ...", man page entries ".TP" then ".B \-x", README
// rows "| `x` | ...".
TEST(OptionsAgreeTest, HelpManPageAndReadmeListEveryOption) {
  std::string help;
  ASSERT_EQ(HelpText(Charset::kUtf8, &help), 0);
  const std::string page = testing::ReadFile(LOWTAGS_SOURCE_DIR "/docs/lowtags.1");
  const std::string readme = testing::ReadFile(LOWTAGS_SOURCE_DIR "/README.md");
  Names in_help;
  for (const std::string_view line : Lines(help)) {
    if (line.starts_with("  -"))
      AddOption(&in_help, std::string(line.substr(2, line.find(' ', 2) - 2)));
  }
  Names in_page;
  const std::vector<std::string_view> options = Section(page, ".SH OPTIONS", ".SH ");
  for (std::size_t i = 0; i + 1 < options.size(); ++i) {
    std::string tag(options[i + 1]);
    if (options[i] != ".TP" || !tag.starts_with(".B ")) continue;
    for (std::size_t at = tag.find("\\-"); at != tag.npos; at = tag.find("\\-")) tag.erase(at, 1);
    AddOption(&in_page, tag.substr(3));
  }
  Names in_readme;
  for (const std::string_view line : Section(readme, "## Usage", "## ")) {
    if (!line.starts_with("| `")) continue;
    const std::string name(line.substr(3, line.find('`', 3) - 3));
    AddOption(&in_readme, name.starts_with("-") ? name : "-" + name);
  }
  EXPECT_EQ(in_help, AcceptedNames()) << "options of the help text";
  EXPECT_EQ(in_page, AcceptedNames()) << "OPTIONS of docs/lowtags.1";
  EXPECT_EQ(in_readme, AcceptedNames()) << "option tables of README.md";
  EXPECT_EQ(SortedLettersBetween(usage[kSynopsisLine], "[-", ']'), accepted()) << "usage text";
  EXPECT_EQ(SortedLettersBetween(help, "[-", ']'), accepted()) << "synopsis of the help text";
  EXPECT_EQ(SortedLettersBetween(page, ".RB [ \\-", ']'), accepted())
      << "SYNOPSIS of docs/lowtags.1";
  EXPECT_EQ(SortedLettersBetween(readme, "Usage: lowtags [-", ']'), accepted()) << "README.md";
  std::string synopsis;
  for (const std::string_view line : Section(page, ".SH SYNOPSIS", ".SH ")) synopsis += line;
  for (const LongOption& option : LongOptions()) {
    const std::string escaped = "\\-\\-" + std::string(option.name).substr(2);
    EXPECT_NE(synopsis.find(escaped), std::string::npos) << option.name << " in the SYNOPSIS";
  }
}

}  // namespace
}  // namespace lowtags
