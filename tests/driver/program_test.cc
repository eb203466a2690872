// The program end to end: exit status and the exact bytes on standard output and error.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "driver/help.h"
#include "test_support.h"

namespace lowtags {
namespace {

using testing::ProgramRun;
using testing::RunProgram;
using testing::RunProgramOnPipe;
using testing::Sjis;
using testing::TempDir;

// The usage text as README.md shows it, in UTF-8, a blank line standing for a lone space; the
// program prints it in code page 932, where "～" is 0x81 0x60, not the JIS wave dash.
TEST(ProgramTest, UsageTextInCodePage932WithCrLf) {
  const std::string readme = testing::ReadFile(LOWTAGS_SOURCE_DIR "/README.md");
  const std::size_t from = readme.find("```\n", readme.find("It reads (here in UTF-8):")) + 4;
  const std::string block = readme.substr(from, readme.find("```", from) - from);
  std::string expected;
  for (std::size_t at = 0, nl; (nl = block.find('\n', at)) != block.npos; at = nl + 1) {
    expected += Sjis(nl == at ? " " : block.substr(at, nl - at)) + "\r\n";
  }
  const ProgramRun run = RunProgram({"-usage"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, expected);
  EXPECT_NE(run.out.find("(a\x81\x60z)"), std::string::npos);
}

struct CommandCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string out;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

class CommandLineTest : public ::testing::TestWithParam<CommandCase> {};

// Runs in a folder holding page.htm, bad.htm (a tag left open at the end) and a folder named
// dir, with "<I>y</i>\n" on standard input through a pipe.
TEST_P(CommandLineTest, StatusAndOutput) {
  const CommandCase& c = GetParam();
  TempDir dir;
  dir.Write("page.htm", "<B>x</B>\n");
  dir.Write("bad.htm", "<B");
  ASSERT_EQ(::mkdir((dir.path() + "/dir").c_str(), 0755), 0);
  const ProgramRun run = RunProgramOnPipe(c.args, dir.path(), "<I>y</i>\n");
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(run.err, "");
}

const std::string kPage = "<b>x</b>\r\n";
const std::string kStdin = "<i>y</i>\r\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Arguments, CommandLineTest, ::testing::Values(
    CommandCase{"UsageWithFileIsOptionGroup", {"-usage", "page.htm"}, 1, "g: unknown option\r\n"},
    CommandCase{"OptionsWithoutFiles", {"-c"}, 0, ""},
    CommandCase{"UnknownLetterStopsBeforeFiles", {"-cx", "page.htm"}, 1, "x: unknown option\r\n"},
    CommandCase{"FolderIsNotFound", {"dir", "page.htm"}, 2, "dir: not found\r\n" + kPage},
    CommandCase{"DashAmongFiles", {"page.htm", "-c", "-"}, 2, kPage + "-c: not found\r\n" + kStdin},
    CommandCase{"DevStdinIsNoDisk", {"/dev/stdin"}, 0, kStdin},
    CommandCase{"DoubleDashEndsOptions", {"-c", "--", "-i", "page.htm"}, 2, "-i: not found\r\n<B>x</B>\r\n"},
    CommandCase{"DoubleDashThenDash", {"--", "-"}, 0, kStdin},
    CommandCase{"VersionAfterLetters", {"-c", "--version", "page.htm"}, 0, "lowtags 1.92\r\n"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });
// clang-format on

// The help text in UTF-8 for a UTF-8 locale, else in code page 932; CR LF like every line.
TEST(ProgramTest, HelpTextFollowsTheLocale) {
  const std::string utf8 = testing::WithCrLf(kHelpText);
  for (const char* lc_all : {"C.UTF-8", "C"}) {
    const ProgramRun run = RunProgramOnPipe({"-c", "--help", "page.htm"}, ".", "", lc_all);
    EXPECT_EQ(run.status, 0) << lc_all;
    EXPECT_EQ(run.err, "") << lc_all;
    EXPECT_EQ(run.out, lc_all[1] == '.' ? utf8 : Sjis(utf8)) << lc_all;
  }
}

TEST(ProgramTest, WriteErrorOnStandardOutputIsReported) {
  struct stat full {};
  if (::stat("/dev/full", &full) != 0) GTEST_SKIP() << "this system has no /dev/full";
  TempDir dir;
  dir.Write("page.htm", "<B>x</B>\n");
  const ProgramRun run = RunProgram({"page.htm", "page.htm"}, dir.path(), "/dev/full");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "lowtags: write error on standard output: No space left on device\n");
}

}  // namespace
}  // namespace lowtags
