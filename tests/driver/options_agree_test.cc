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

using testing::ReadFile;

constexpr std::size_t kFlagCount = sizeof(OptionSet) / sizeof(std::int32_t);
static_assert(sizeof(OptionSet) == kFlagCount * sizeof(std::int32_t), "flags only, no padding");
using FlagArray = std::array<std::int32_t, kFlagCount>;

// ParseCommandLine writes the program-wide flags; every probe starts from none and leaves the
// flags as it found them.
class OptionsGuard {
 public:
  OptionsGuard() : saved_(Options) { Options = OptionSet{}; }
  ~OptionsGuard() { Options = saved_; }
  OptionsGuard(const OptionsGuard&) = delete;
  OptionsGuard& operator=(const OptionsGuard&) = delete;

 private:
  OptionSet saved_;
};

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string Sorted(std::string letters) {
  std::sort(letters.begin(), letters.end());
  return letters;
}

struct Accepted {
  std::string letters;
  // For each accepted letter, the index of the one flag it set (-1: none, -2: several).
  std::vector<int> flag;
};

int OnlyFlagSet() {
  const FlagArray flags = std::bit_cast<FlagArray>(Options);
  int found = -1;
  for (std::size_t i = 0; i < flags.size(); ++i) {
    if (flags[i] == 0) continue;
    if (found != -1) return -2;
    found = static_cast<int>(i);
  }
  return found;
}

Accepted ProbeEveryLetter() {
  constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  Accepted accepted;
  for (const char letter : kLetters) {
    const OptionsGuard guard;
    const std::string group = {'-', letter};
    const std::array<const char*, 1> args = {group.c_str()};
    const CommandLine line = ParseCommandLine(args);
    if (line.kind == CommandLine::Kind::kUnknownOption) {
      EXPECT_EQ(line.bad_option, letter);
      continue;
    }
    EXPECT_EQ(line.kind, CommandLine::Kind::kFiles) << group;
    accepted.letters += letter;
    accepted.flag.push_back(OnlyFlagSet());
  }
  return accepted;
}

// Option lines of the usage text start, after blanks, with their letter; continuation lines
// start with a double-byte character instead.
std::string UsageListLetters() {
  std::string letters;
  for (std::size_t i = 7; i <= 26; ++i) {
    const std::string_view line = usage[i];
    const std::size_t first = line.find_first_not_of(' ');
    if (first != std::string_view::npos && IsAsciiLetter(line[first])) letters += line[first];
  }
  return letters;
}

// The letters between the first `open` and the `close` after it, blanks left out: "abc" for
// "Usage: lowtags [-abc] <htmlfiles>" with "[-" and "]".
std::string LettersBetween(std::string_view text, std::string_view open, char close) {
  const std::size_t start = text.find(open);
  if (start == std::string_view::npos) return "(no " + std::string(open) + ")";
  const std::size_t from = start + open.size();
  const std::size_t end = text.find(close, from);
  if (end == std::string_view::npos) return std::string("(no ") + close + ")";
  std::string letters(text.substr(from, end - from));
  std::erase(letters, ' ');
  return letters;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    lines.push_back(text.substr(0, nl));
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  return lines;
}

// The lines from the one equal to `heading` up to the next line that starts with `next`.
std::vector<std::string_view> Section(std::string_view text, std::string_view heading,
                                      std::string_view next) {
  std::vector<std::string_view> section;
  bool inside = false;
  for (const std::string_view line : Lines(text)) {
    if (inside && line.starts_with(next)) break;
    if (inside) section.push_back(line);
    if (line == heading) inside = true;
  }
  return section;
}

// Entries of the OPTIONS section: ".TP" and then ".B \-x" for the letter x. The "\-usage"
// entry is a request, not a letter.
std::string ManPageLetters(std::string_view page) {
  std::string letters;
  const std::vector<std::string_view> lines = Section(page, ".SH OPTIONS", ".SH ");
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i] != ".TP") continue;
    constexpr std::string_view kTag = ".B \\-";
    const std::string_view tag = lines[i + 1];
    if (tag.starts_with(kTag) && tag.size() == kTag.size() + 1) letters += tag.back();
  }
  return letters;
}

// Rows of the option table: "| `x` | effect |".
std::string ReadmeTableLetters(std::string_view readme) {
  std::string letters;
  for (const std::string_view line : Section(readme, "## Usage", "## ")) {
    if (line.size() > 6 && line.starts_with("| `") && line.substr(4, 2) == "` ") {
      letters += line[3];
    }
  }
  return letters;
}

// Entries of the OPTIONS section that are long options: ".B \-\-help" gives "--help".
std::vector<std::string> ManPageLongOptions(std::string_view page) {
  std::vector<std::string> names;
  const std::vector<std::string_view> lines = Section(page, ".SH OPTIONS", ".SH ");
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    constexpr std::string_view kTag = ".B \\-\\-";
    if (lines[i] == ".TP" && lines[i + 1].starts_with(kTag) && lines[i + 1].size() > kTag.size()) {
      names.push_back("--" + std::string(lines[i + 1].substr(kTag.size())));
    }
  }
  return names;
}

// Rows of the long-option table: "| `--word` | effect |".
std::vector<std::string> ReadmeLongOptions(std::string_view readme) {
  std::vector<std::string> names;
  for (const std::string_view line : Section(readme, "## Usage", "## ")) {
    if (!line.starts_with("| `--")) continue;
    const std::size_t end = line.find('`', 3);
    if (end != std::string_view::npos && end > 5) names.emplace_back(line.substr(3, end - 3));
  }
  return names;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// The long options the program knows, sorted.
std::vector<std::string> LongOptionNames() {
  std::vector<std::string> names;
  for (const LongOption& option : LongOptions()) names.emplace_back(option.name);
  return Sorted(names);
}

const std::string kSourceDir = LOWTAGS_SOURCE_DIR;

const Accepted& Probed() {
  static const Accepted probed = ProbeEveryLetter();
  return probed;
}
const std::string& accepted() { return Probed().letters; }

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

TEST(OptionsAgreeTest, UsageTextListsTheAcceptedLetters) {
  EXPECT_EQ(Sorted(UsageListLetters()), accepted()) << "option lines of the usage text";
  EXPECT_EQ(Sorted(LettersBetween(usage[kSynopsisLine], "[-", ']')), accepted()) << "synopsis";
  EXPECT_EQ(Sorted(LettersBetween(usage[6], "-", ':')), accepted())
      << "the letter line above the option list";
}

TEST(OptionsAgreeTest, EveryLongOptionIsAcceptedAlone) {
  ASSERT_FALSE(LongOptions().empty());
  for (const LongOption& option : LongOptions()) {
    const OptionsGuard guard;
    const std::string name(option.name);
    EXPECT_TRUE(name.starts_with("--") && name.size() > 2) << name;
    const std::array<const char*, 2> args = {name.c_str(), "page.htm"};
    const CommandLine line = ParseCommandLine(args);
    EXPECT_EQ(line.kind, option.kind) << name;
    // A setting sets its one flag, or its one setting of the output's form; a request sets none.
    const int settings = (OnlyFlagSet() >= 0 ? 1 : 0) + (line.form.utf8 ? 1 : 0) +
                         (line.form.lf ? 1 : 0) + (OnlyFlagSet() == -2 ? 2 : 0);
    EXPECT_EQ(settings, option.kind == CommandLine::Kind::kFiles ? 1 : 0) << name;
  }
}

TEST(OptionsAgreeTest, HelpTextListsEveryOption) {
  std::string help;
  ASSERT_EQ(HelpText(Charset::kUtf8, &help), 0);
  for (const char letter : accepted()) {
    EXPECT_NE(help.find(std::string("\n  -") + letter + ' '), std::string::npos)
        << "-" << letter << " in the help text";
    EXPECT_NE(LettersBetween(help, "[-", ']').find(letter), std::string::npos)
        << "-" << letter << " in the help text's synopsis";
  }
  for (const std::string& name : LongOptionNames()) {
    EXPECT_NE(help.find("\n  " + name + ' '), std::string::npos) << name << " in the help text";
  }
}

TEST(OptionsAgreeTest, ManPageDocumentsTheAcceptedLetters) {
  const std::string page = ReadFile(kSourceDir + "/docs/lowtags.1");
  ASSERT_FALSE(page.empty());
  EXPECT_EQ(Sorted(ManPageLetters(page)), accepted()) << "OPTIONS entries of docs/lowtags.1";
  EXPECT_EQ(Sorted(LettersBetween(page, ".RB [ \\-", ']')), accepted())
      << "SYNOPSIS of docs/lowtags.1";
  EXPECT_EQ(Sorted(ManPageLongOptions(page)), LongOptionNames())
      << "OPTIONS entries of docs/lowtags.1";
  const std::vector<std::string_view> synopsis = Section(page, ".SH SYNOPSIS", ".SH ");
  for (const std::string& name : LongOptionNames()) {
    const std::string escaped = "\\-\\-" + name.substr(2);
    EXPECT_TRUE(std::any_of(synopsis.begin(), synopsis.end(),
                            [&](std::string_view line) { return line.find(escaped) != line.npos; }))
        << name << " in the SYNOPSIS of docs/lowtags.1";
  }
}

TEST(OptionsAgreeTest, ReadmeListsTheAcceptedLetters) {
  const std::string readme = ReadFile(kSourceDir + "/README.md");
  ASSERT_FALSE(readme.empty());
  EXPECT_EQ(Sorted(ReadmeTableLetters(readme)), accepted()) << "option table of README.md";
  EXPECT_EQ(Sorted(LettersBetween(readme, "Usage: lowtags [-", ']')), accepted())
      << "usage text quoted in README.md";
  EXPECT_EQ(Sorted(ReadmeLongOptions(readme)), LongOptionNames()) << "long options of README.md";
}

}  // namespace
}  // namespace lowtags
