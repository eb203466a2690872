// The option letters and long options the program accepts, and the ones its usage text, its help
// text, its man page and its README tell about, are the same: an option added to one place and
// forgotten in another fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <regex>
#include <set>
#include <string>
#include <string_view>

#include "convert/options.h"
#include "driver/command_line.h"
#include "driver/help.h"
#include "driver/usage.h"
#include "test_support.h"

namespace lowtags {
namespace {

constexpr std::size_t kFlagCount = sizeof(OptionSet);

// The index of the one flag set, -1 when none is, -2 when several are.
int OnlyFlagSet(const OptionSet& options) {
  const auto flags = std::bit_cast<std::array<bool, kFlagCount>>(options);
  const auto set = std::count(flags.begin(), flags.end(), true);
  if (set != 1) return set == 0 ? -1 : -2;
  return static_cast<int>(std::find(flags.begin(), flags.end(), true) - flags.begin());
}

using Names = std::set<std::string>;

// The options accepted, each alone: a letter as an option group must set a flag of its own, every
// flag having its letter; a long option is a request that sets nothing or a setting that sets one
// flag or one setting of the output's form.
Names Accepted() {
  Names names;
  std::set<int> flags;
  for (char letter = 'A'; letter <= 'z'; ++letter) {
    const std::string group = {'-', letter};
    const std::array<const char*, 1> args = {group.c_str()};
    const CommandLine line = ParseCommandLine(args);
    if (line.kind == CommandLine::Kind::kUnknownOption && line.bad_option == letter) continue;
    EXPECT_EQ(line.kind, CommandLine::Kind::kFiles) << group;
    EXPECT_TRUE(flags.insert(OnlyFlagSet(line.options)).second) << group << " shares a flag";
    names.insert(group);
  }
  EXPECT_TRUE(!flags.empty() && *flags.begin() >= 0) << "a letter that sets no flag, or several";
  EXPECT_EQ(flags.size(), kFlagCount) << "a flag that no letter sets";
  for (const LongOption& option : LongOptions()) {
    const std::string name(option.name);
    const std::array<const char*, 2> args = {name.c_str(), "page.htm"};
    const CommandLine line = ParseCommandLine(args);
    EXPECT_EQ(line.kind, option.kind) << name;
    const int flag = OnlyFlagSet(line.options);
    const int settings = (flag == -1 ? 0 : flag == -2 ? 2 : 1) + line.form.utf8 + line.form.lf;
    EXPECT_EQ(settings, option.kind == CommandLine::Kind::kFiles ? 1 : 0) << name;
    names.insert(name);
  }
  return names;
}

// The names after each `mark` up to `end`, "\\-" read as "-", a bare letter given its "-"; only
// "-x" and "--word" count (not "--" or "-usage").
Names Listed(std::string_view text, std::string_view mark, char end) {
  Names names;
  for (std::size_t at = text.find(mark); at != text.npos; at = text.find(mark, at + 1)) {
    const std::size_t from = at + mark.size();
    std::string name(text.substr(from, text.find(end, from) - from));
    std::erase(name, '\\');
    if (!name.starts_with('-')) name.insert(0, "-");
    if (std::regex_match(name, std::regex("-[a-zA-Z]|--[a-z0-9]+"))) names.insert(name);
  }
  return names;
}

// Help lines "  -x  ...", man page entries ".TP" then ".B \\-x", README rows "| `x` | ...", and
// the synopses, which give the letters sorted.
TEST(OptionsAgreeTest, EveryOptionIsAcceptedAndListedEverywhere) {
  const Names names = Accepted();
  std::string accepted;  // sorted, as the names are
  for (const std::string& name : names) {
    if (name.size() == 2) accepted += name[1];
  }
  std::string help;
  ASSERT_EQ(HelpText(Charset::kUtf8, &help), 0);
  const std::string page = testing::ReadFile(LOWTAGS_SOURCE_DIR "/docs/lowtags.1");
  const std::string readme = testing::ReadFile(LOWTAGS_SOURCE_DIR "/README.md");
  EXPECT_EQ(Listed(help, "\n  ", ' '), names) << "options of the help text";
  EXPECT_EQ(Listed(page, "\n.TP\n.B ", '\n'), names) << "OPTIONS of docs/lowtags.1";
  EXPECT_EQ(Listed(readme, "\n| `", '`'), names) << "option tables of README.md";
  const std::string usage_line(usage[kSynopsisLine]);
  EXPECT_NE(usage_line.find("[-" + accepted + "]"), usage_line.npos) << "usage text";
  EXPECT_NE(help.find("[-" + accepted + "]"), help.npos) << "synopsis of the help text";
  EXPECT_NE(page.find(".RB [ \\-" + accepted + " ]"), page.npos) << "docs/lowtags.1";
  EXPECT_NE(readme.find("Usage: lowtags [-" + accepted + "]"), readme.npos) << "README.md";
  const std::string synopsis = page.substr(0, page.find(".SH DESCRIPTION"));
  for (const LongOption& option : LongOptions()) {
    const std::string escaped = "\\-\\-" + std::string(option.name).substr(2);
    EXPECT_NE(synopsis.find(escaped), std::string::npos) << option.name << " in the SYNOPSIS";
  }
}

}  // namespace
}  // namespace lowtags
