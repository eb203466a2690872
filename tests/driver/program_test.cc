// The program end to end: exit status and the exact bytes on standard output and error; over a
// site of real pages, --utf8 and --lf against the plain output, and the whole site migrated to
// UTF-8 with -w, twice.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "driver/help.h"
#include "support/encoding_guard.h"
#include "test_support.h"

namespace lowtags {
namespace {

using testing::ProgramRun;
using testing::RunProgram;
using testing::Sjis;
using testing::TempDir;

// The usage text as README.md shows it, in UTF-8, a blank line standing for a lone space.
std::string UsageFromReadme() {
  const std::string readme = testing::ReadFile(LOWTAGS_SOURCE_DIR "/README.md");
  const std::size_t from = readme.find("```\n", readme.find("It reads (here in UTF-8):")) + 4;
  std::string block = readme.substr(from, readme.find("```", from) - from);
  for (std::size_t at = 0; (at = block.find("\n\n", at)) != block.npos;) block.insert(at + 1, " ");
  return block;
}

// The arguments, the exit status, standard output, and LC_ALL when it matters.
using Case = std::tuple<std::vector<std::string>, int, std::string, std::string>;

// In a folder holding page.htm and a folder named dir, with "<I>y</i>\n" on standard input. The
// usage text is in code page 932; the help text in UTF-8 for a UTF-8 locale, else in code page
// 932; CR LF like every line.
TEST(ProgramTest, StatusAndOutputOfCommandLines) {
  TempDir dir;
  dir.Write("page.htm", "<B>x</B>\n");
  ASSERT_EQ(::mkdir((dir.path() + "/dir").c_str(), 0755), 0);
  const std::string page = "<b>x</b>\r\n", in = "<i>y</i>\r\n";
  const std::string help = testing::WithCrLf(kHelpText);
  // clang-format off
  const std::vector<Case> cases = {
      {{"-usage"}, 0, Sjis(testing::WithCrLf(UsageFromReadme())), ""},
      {{"-usage", "page.htm"}, 1, "g: unknown option\r\n", ""},  // a group of u, s, a and g
      {{"-c"}, 0, "", ""},
      {{"dir", "page.htm"}, 2, "dir: not found\r\n" + page, ""},
      {{"page.htm", "-c", "-"}, 2, page + "-c: not found\r\n" + in, ""},
      {{"/dev/stdin"}, 0, in, ""},
      {{"-c", "--", "-i", "page.htm"}, 2, "-i: not found\r\n<B>x</B>\r\n", ""},
      {{"-c", "--version", "page.htm"}, 0, "lowtags 1.92\r\n", ""},
      {{"-c", "--help", "page.htm"}, 0, help, "C.UTF-8"},
      {{"-c", "--help", "page.htm"}, 0, Sjis(help), "C"}};
  // clang-format on
  for (const auto& [args, status, out, lc_all] : cases) {
    std::string script = "printf '<I>y</i>\\n' | " + (lc_all.empty() ? "" : "LC_ALL=" + lc_all);
    script += " \"$0\"";
    for (const std::string& arg : args) script += " '" + arg + "'";
    const ProgramRun run = testing::RunShell(script, dir.path());
    EXPECT_EQ(run.status, status) << script;
    EXPECT_EQ(run.out, out) << script;
    EXPECT_EQ(run.err, "") << script;
  }
  // A write error on standard output ends the run.
  const ProgramRun run = testing::RunShell("exec \"$0\" page.htm page.htm >/dev/full", dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "lowtags: write error on standard output: No space left on device\n");
}

const std::string kCorpus = LOWTAGS_SOURCE_DIR "/../shared/corpus";

// Each of these pages declares "charset=Shift_JIS" once. The first -w run shows that the guard
// keeps every page, the second that it knows every one in UTF-8.
TEST(ProgramTest, OutputFormsAgreeAndTheSiteMigratesOnce) {
  std::vector<std::string> pages;
  std::error_code absent;  // no folder, no pages
  for (const auto& entry : std::filesystem::directory_iterator(kCorpus, absent)) {
    if (entry.path().extension() == ".htm") pages.push_back(entry.path().filename());
  }
  if (pages.empty()) GTEST_SKIP() << "no pages in " << kCorpus;
  std::sort(pages.begin(), pages.end());
  std::vector<std::string> args = pages;
  const ProgramRun plain = RunProgram(args, kCorpus);
  args.insert(args.begin(), "--lf");
  const ProgramRun lf = RunProgram(args, kCorpus);
  args.front() = "--utf8";
  const ProgramRun utf8 = RunProgram(args, kCorpus);
  EXPECT_EQ(plain.status + utf8.status + lf.status, 0);
  std::string expected = plain.out;
  std::erase(expected, '\r');
  EXPECT_TRUE(lf.out == expected);
  expected = testing::Recode(plain.out, "CP932", "UTF-8");
  std::size_t declarations = 0;
  for (std::size_t at = 0; (at = expected.find("charset=Shift_JIS", at)) != expected.npos;
       ++declarations) {
    expected.replace(at + 8, 9, "UTF-8");
  }
  EXPECT_EQ(declarations, pages.size());
  EXPECT_TRUE(utf8.out == expected);

  TempDir dir;
  for (const std::string& page : pages) {
    const std::string bytes = testing::ReadFile(kCorpus + "/" + page);
    dir.Write(page, bytes);
    // Microsoft's EUC-JP has the few characters code page 932 adds to plain EUC-JP.
    EXPECT_EQ(CheckNotSjis(testing::Recode(bytes, "CP932", "EUC-JP-MS")), NotSjis::kEucJp) << page;
    EXPECT_NE(CheckNotSjis(testing::Recode(bytes, "CP932", "UTF-16")), NotSjis::kNone) << page;
  }
  args.insert(args.begin(), "-w");
  const ProgramRun first = RunProgram(args, dir.path());
  EXPECT_EQ(first.status + first.out.size(), 0u);
  std::string rewritten;
  for (const std::string& page : pages) rewritten += testing::ReadFile(dir.path() + "/" + page);
  EXPECT_TRUE(rewritten == utf8.out) << "the pages do not hold what standard output shows";
  // Inode and modification time of each page: a page written again shows here.
  const auto stamps = [&] { return testing::RunShell("stat -c %i%y *.htm", dir.path()).out; };
  const std::string before = stamps();
  const ProgramRun second = RunProgram(args, dir.path());
  EXPECT_EQ(second.status + second.out.size(), 0u);
  EXPECT_EQ(stamps(), before) << "the second run wrote";
}

}  // namespace
}  // namespace lowtags
