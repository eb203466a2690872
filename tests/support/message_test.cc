#include "support/message.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace lowtags {
namespace {

using namespace std::string_literals;

struct CountingSink : ByteSink {
  void Write(std::string_view bytes) override { text.append(bytes), ++writes; }
  std::string text;
  int writes = 0;
};

// A name, a report, and the bytes it writes.
using MessageCase = std::tuple<const char*, std::function<void(ByteSink&)>, std::string>;

// A line of n bytes ending in "E\n", as a bracket error quotes it.
std::string Line(std::size_t n) { return std::string(n - 2, 'L') + "E\n"; }

const std::string kPrefix = "a.htm:3: ";
const std::string kNotClosed = "'<' does not close.\n";

TEST(MessageTest, BytesAndCuts) {
  // clang-format off
  const std::vector<MessageCase> cases = {
      {"fills the message", [](ByteSink& o) { TagNotClosed(o, "a.htm", 3, Line(1015)); }, kPrefix + Line(1015)},
      {"a byte too long: cut to 768", [](ByteSink& o) { TagNotClosed(o, "a.htm", 3, Line(1016)); }, kPrefix + std::string(759, 'L') + kNotClosed},
      {"short line", [](ByteSink& o) { TagNotClosed(o, "a.htm", 3, Line(20)); }, kPrefix + Line(20) + kNotClosed},
      {"other bracket error", [](ByteSink& o) { NoOpeningBracket(o, "a.htm", 3, Line(9999)); }, kPrefix + std::string(759, 'L') + "'>' does not correspond with '<'.\n"},
      {"past 768 no line", [](ByteSink& o) { TagNotClosed(o, std::string(800, 'p'), 3, Line(300)); }, std::string(800, 'p') + ":3: " + kNotClosed},
      {"a number begun ends whole", [](ByteSink& o) { TagNotClosed(o, std::string(1020, 'p'), INT_MIN, "x"); }, std::string(1020, 'p') + ":-2147483648"},
      {"32-bit line numbers", [](ByteSink& o) { NotConvertibleToUtf8(o, "p", (1LL << 32) + 5); }, "p:5: not convertible to UTF-8\n"},
      {"names end at a NUL", [](ByteSink& o) { NotFound(o, "ab\0cd"s); }, "ab: not found\n"},
      {"lines end at a NUL", [](ByteSink& o) { TagNotClosed(o, "a", 1, "<b\0c"s); }, "a:1: <b" + kNotClosed},
      {"option letter", [](ByteSink& o) { UnknownOption(o, '\xB1'); }, "\xB1: unknown option\n"},
      {"drive", [](ByteSink& o) { NoFreeSpaceOnDrive(o, 'c'); }, "c drive: no free disk space\n"},
      {"rule", [](ByteSink& o) { NotShiftJis(o, "p", "EUC-JP"); }, "p: not Shift_JIS text (EUC-JP)\n"},
      {"changed", [](ByteSink& o) { ChangedWhileConverting(o, "p"); }, "p: changed while converting\n"},
      {"help", [](ByteSink& o) { CannotConvertHelp(o, "Invalid argument"); }, "cannot convert the help text: Invalid argument\n"}};
  // clang-format on
  for (const auto& [name, report, expected] : cases) {
    CountingSink sink;
    report(sink);
    EXPECT_EQ(sink.text, expected) << name;
    EXPECT_EQ(sink.writes, 1) << name;
  }
  // What a line's message writes before the line: the path up to a NUL, ":", the number, ": ".
  EXPECT_EQ(LinePrefixSize("a.htm", 3), kPrefix.size());
  EXPECT_EQ(LinePrefixSize("a\0bc"s, -12), 7u);
  EXPECT_EQ(LinePrefixSize(std::string(2000, 'p'), 10), 2005u);
}

}  // namespace
}  // namespace lowtags
