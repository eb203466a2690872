// The program end to end: exit status and the exact bytes on standard output and error.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <tuple>
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

// In a folder holding page.htm and a folder named dir, with "<I>y</i>\n" on standard input.
TEST(ProgramTest, StatusAndOutputOfCommandLines) {
  TempDir dir;
  dir.Write("page.htm", "<B>x</B>\n");
  ASSERT_EQ(::mkdir((dir.path() + "/dir").c_str(), 0755), 0);
  const std::string page = "<b>x</b>\r\n", in = "<i>y</i>\r\n";
  // clang-format off
  const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
      {{"-usage", "page.htm"}, 1, "g: unknown option\r\n"},  // an option group
      {{"-c"}, 0, ""},
      {{"-cx", "page.htm"}, 1, "x: unknown option\r\n"},
      {{"dir", "page.htm"}, 2, "dir: not found\r\n" + page},
      {{"page.htm", "-c", "-"}, 2, page + "-c: not found\r\n" + in},
      {{"/dev/stdin"}, 0, in},
      {{"-c", "--", "-i", "page.htm"}, 2, "-i: not found\r\n<B>x</B>\r\n"},
      {{"--", "-"}, 0, in},
      {{"-c", "--version", "page.htm"}, 0, "lowtags 1.92\r\n"}};
  // clang-format on
  for (const auto& [args, status, out] : cases) {
    const ProgramRun run = RunProgramOnPipe(args, dir.path(), "<I>y</i>\n");
    EXPECT_EQ(run.status, status) << args[0];
    EXPECT_EQ(run.out, out) << args[0];
    EXPECT_EQ(run.err, "") << args[0];
  }
}

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
