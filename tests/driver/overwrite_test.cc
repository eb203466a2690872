// -w end to end with the real program and file system.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/conv_html.h"
#include "test_support.h"

namespace lowtags {
namespace {

using testing::ProgramRun;
using testing::ReadFile;
using testing::RunProgram;
using testing::TempDir;

struct OverwriteCase {
  const char* name;
  const char* options;
  std::string before;
  std::string after;
};

void PrintTo(const OverwriteCase& c, std::ostream* os) { *os << c.name; }

// The names in a folder, sorted: a temporary file left behind shows here.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class OverwriteTest : public ::testing::TestWithParam<OverwriteCase> {};

TEST_P(OverwriteTest, WritesBackAndPrintsNothing) {
  const OverwriteCase& c = GetParam();
  TempDir dir;
  const std::string page = dir.Write("page.htm", c.before);
  const ProgramRun run = RunProgram({c.options, "page.htm"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(ReadFile(page), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Files, OverwriteTest,
    ::testing::Values(
        OverwriteCase{"FoldsWithCrLf", "-w", "<B>x</B>\r\n<I>\n", "<b>x</b>\r\n<i>\r\n"},
        OverwriteCase{"JoinedLinesAndParagraphNewline", "-wj", "a\n<P>b\nc<BR>\n",
                      "a\r\n<p>bc<br>\r\n"},
        OverwriteCase{"RepeatedLinesKept", "-w", "<B>\n<B>\n<B>\n", "<b>\r\n<b>\r\n<b>\r\n"},
        OverwriteCase{"EmptyStaysEmpty", "-w", "", ""},
        OverwriteCase{"CommentLinesVanish", "-wr", "a<!--\nb\n-->c\n", "a\r\nc\r\n"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(OverwriteFailureTest, BracketErrorLeavesFileUntouched) {
  TempDir dir;
  const std::string page = dir.Write("page.htm", "<B>x\n<A <B>\n");
  struct stat before {};
  ASSERT_EQ(::stat(page.c_str(), &before), 0);
  const ProgramRun run = RunProgram({"-w", "page.htm", "next.htm"}, dir.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out,
            "page.htm:2: <a <B>\r\n'<' does not close.\r\npage.htm: failed to convert\r\n"
            "next.htm: not found\r\n");
  EXPECT_EQ(ReadFile(page), "<B>x\n<A <B>\n");
  struct stat after {};
  ASSERT_EQ(::stat(page.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST(OverwriteLinkTest, SymlinkStaysALinkToTheRewrittenFile) {
  TempDir dir;
  const std::string target = dir.Write("real.htm", "<B>\n");
  ASSERT_EQ(::symlink("real.htm", (dir.path() + "/link.htm").c_str()), 0);
  const ProgramRun run = RunProgram({"-w", "link.htm"}, dir.path());
  EXPECT_EQ(run.status, 0);
  struct stat st {};
  ASSERT_EQ(::lstat((dir.path() + "/link.htm").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(std::filesystem::read_symlink(dir.path() + "/link.htm"), "real.htm");
  EXPECT_EQ(ReadFile(target), "<b>\r\n");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"link.htm", "real.htm"}));
}

// As with sed -i: the name given gets a new file, the other names keep the old one.
TEST(OverwriteLinkTest, HardLinkedNameGetsANewFileAndTheOthersKeepTheOldText) {
  TempDir dir;
  const std::string first = dir.Write("one.htm", "<B>\n");
  const std::string second = dir.path() + "/two.htm";
  ASSERT_EQ(::link(first.c_str(), second.c_str()), 0);
  struct stat before {};
  ASSERT_EQ(::stat(first.c_str(), &before), 0);
  const ProgramRun run = RunProgram({"-w", "one.htm"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile(first), "<b>\r\n");
  EXPECT_EQ(ReadFile(second), "<B>\n");
  struct stat one {};
  struct stat two {};
  ASSERT_EQ(::stat(first.c_str(), &one), 0);
  ASSERT_EQ(::stat(second.c_str(), &two), 0);
  EXPECT_NE(one.st_ino, two.st_ino);
  EXPECT_EQ(two.st_ino, before.st_ino);
  EXPECT_EQ(two.st_nlink, 1u);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"one.htm", "two.htm"}));
}

TEST(OverwriteLinkTest, ModeIsKept) {
  TempDir dir;
  const std::string page = dir.Write("page.htm", "<B>\n");
  ASSERT_EQ(::chmod(page.c_str(), 0640), 0);
  ASSERT_EQ(RunProgram({"-w", "page.htm"}, dir.path()).status, 0);
  struct stat st {};
  ASSERT_EQ(::stat(page.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A file the user may not write, in a folder it may, stops the program at once with status 1.
TEST(OverwriteFailureTest, UnwritableFileStopsTheProgram) {
  TempDir dir;
  const std::string locked = dir.Write("locked.htm", "<B>\n");
  const std::string later = dir.Write("later.htm", "<B>\n");
  ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(later.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  const bool root = ::geteuid() == 0;  // root may write anything: run as nobody instead
  const ProgramRun run = RunProgram({"-w", "locked.htm", "later.htm"}, dir.path(), "", root);
  if (run.status == testing::kCannotDropPrivileges) GTEST_SKIP() << "cannot run as nobody";
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "locked.htm: cannot open to write\r\n");
  EXPECT_EQ(ReadFile(locked), "<B>\n");
  EXPECT_EQ(ReadFile(later), "<B>\n");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"later.htm", "locked.htm"}));
}

// Large enough for the rewrite to begin during the conversion, with a bracket error at the end of
// the second file: the first is replaced by what standard output shows, the second stays.
TEST(OverwriteLargeTest, RewrittenAsStandardOutputShowsAndBrokenOneLeftAlone) {
  std::string page;
  while (page.size() < 3 * kRewriteAheadFrom) {
    page += "<P ALIGN=\"Left\"><A HREF=\"/X/y.htm\">\x8a\xbf \xb6\xde</A><!-- C -->\r\n";
  }
  TempDir dir;
  const std::string big = dir.Write("big.htm", page);
  const std::string broken = dir.Write("broken.htm", page + "<A <B>\n");
  ASSERT_EQ(::chmod(big.c_str(), 0604), 0);
  const ProgramRun expected = RunProgram({"-kna", "big.htm"}, dir.path());
  ASSERT_EQ(expected.status, 0);
  const ProgramRun run = RunProgram({"-wkna", "big.htm", "broken.htm"}, dir.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out.substr(run.out.find("broken.htm: failed")),
            "broken.htm: failed to convert\r\n");
  EXPECT_TRUE(ReadFile(big) == expected.out) << "rewritten text differs";
  EXPECT_TRUE(ReadFile(broken) == page + "<A <B>\n") << "broken file changed";
  struct stat st {};
  ASSERT_EQ(::stat(big.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"big.htm", "broken.htm"}));
}

}  // namespace
}  // namespace lowtags
