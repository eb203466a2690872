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

// The usage text as a reader sees it; the program must print it in code page 932.
const char* const kUsageUtf8[] = {
    "HTMLソース(SJIS)のタグの中の大文字を小文字（または小文字を大文字）にします。",
    "ただし、\"…\"の中やコメントの中(<!-- … -->)は変換しません。",
    " ",
    "Usage: lowtags [-abcfijkmnorsuw] <htmlfiles>",
    " ",
    "Parameter:",
    "  -abcfijkmnorsuw:",
    "    a   全角の英字を半角にします。",
    "    b   タグ内のbgcolor指定を外します。",
    "    c   タグ内の小文字(a～z)を大文字(A～Z)にします。",
    "        ただし、\"…\"の中はそのままになります。",
    "    f   リンクタグを外します。",
    "        ただし、リンクタグが複数行に渡るものは除外されます。",
    "    i   タグ括弧エラー(括弧が閉じられていない等)を無視します。",
    "    j   最後が'>'で終わっていない行を結合します。",
    "        ただし、<PRE>...</PRE>の中は除外します。",
    "        また、行頭が\"<P>...\"という場合には、直前の行に改行コードを付加します。",
    "    k   半角カナを全角のカナに変更します",
    "    m   イメージタグを外します。",
    "    n   全角の数字を半角にします。",
    "    o   フォントタグを外します。",
    "    r   コメント（<!-- ... -->)の記述を削除します。",
    "    s   bgsoundタグを外します。",
    "    u   リンクやイメージデータを全て同じディレクトリ内の参照にします。",
    "    w   元のファイルに上書きします。",
    "        これはコピーしたファイルに対して行うことをお勧めします。",
    "  <htmlfiles>",
    "        HTML文書ファイル",
    " ",
    "Version: 1.92",
};


TEST(ProgramTest, UsageTextInCodePage932WithCrLf) {
  std::string expected;
  for (const char* line : kUsageUtf8) expected += Sjis(line) + "\r\n";
  const ProgramRun run = RunProgram({"-usage"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, expected);
  // "～" must be the code page 932 pair, not the JIS X 0208 wave dash.
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
// A name too long for the 1024 bytes of a message is cut to 768 bytes.
const std::string kLongName = testing::Repeat("a/", 1000);

// clang-format off
INSTANTIATE_TEST_SUITE_P(Arguments, CommandLineTest, ::testing::Values(
    CommandCase{"UsageWithFileIsOptionGroup", {"-usage", "page.htm"}, 1, "g: unknown option\r\n"},
    CommandCase{"UsageIsCaseSensitive", {"-Usage"}, 1, "U: unknown option\r\n"},
    CommandCase{"OptionsWithoutFiles", {"-c"}, 0, ""},
    CommandCase{"OptionsAfterFileAreNames", {"page.htm", "-c"}, 2, kPage + "-c: not found\r\n"},
    CommandCase{"UnknownLetterStopsBeforeFiles", {"-cx", "page.htm"}, 1, "x: unknown option\r\n"},
    CommandCase{"GroupsCombine", {"-c", "-i", "bad.htm"}, 0, "<B"},
    CommandCase{"FolderIsNotFound", {"dir", "page.htm"}, 2, "dir: not found\r\n" + kPage},
    CommandCase{"LongNameIsCut", {kLongName}, 2, kLongName.substr(0, 768) + ": not found\r\n"},
    CommandCase{"DashAlone", {"-"}, 0, kStdin},
    CommandCase{"DashAmongFiles", {"page.htm", "-c", "-"}, 2, kPage + "-c: not found\r\n" + kStdin},
    CommandCase{"DevStdinIsNoDisk", {"/dev/stdin"}, 0, kStdin},
    CommandCase{"DoubleDashAlone", {"--"}, 0, ""},
    CommandCase{"DoubleDashEndsOptions", {"-c", "--", "-i", "page.htm"}, 2, "-i: not found\r\n<B>x</B>\r\n"},
    CommandCase{"DoubleDashThenDash", {"--", "-"}, 0, kStdin},
    CommandCase{"Version", {"--version"}, 0, "lowtags 1.92\r\n"},
    CommandCase{"VersionAfterLetters", {"-c", "--version", "page.htm"}, 0, "lowtags 1.92\r\n"},
    CommandCase{"LongOptionTakesNoValue", {"--help=all"}, 1, "--help=all: unknown option\r\n"}),
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
