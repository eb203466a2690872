// The program end to end: exit status and the exact bytes on standard output and error.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/file_case.h"
#include "driver/help.h"
#include "test_support.h"

namespace lowtags {
namespace {

using namespace std::string_literals;
using testing::ProgramRun;
using testing::RunProgram;
using testing::RunProgramOnPipe;
using testing::Sjis;
using testing::TempDir;
using testing::WithCrLf;

// True when the bytes decode as UTF-8, by the C library.
bool IsUtf8(const std::string& bytes) {
  try {
    (void)testing::Recode(bytes, "UTF-8", "UTF-32LE");
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

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

const std::string kSynopsis = "Usage: lowtags [-abcfijkmnorsuw] <htmlfiles>\r\n";

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

// Runs in a folder holding page.htm ("<B>x</B>\n"), bad.htm (a tag left open at the end) and a
// folder named dir, with "<I>y</i>\n" on standard input through a pipe.
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

const std::string kBadFailed = "<bbad.htm: '<' unmatch to '>'\r\nbad.htm: failed to convert\r\n";

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineTest,
    ::testing::Values(
        CommandCase{"NoArgument", {}, 1, kSynopsis},
        CommandCase{
            "UsageWithFileIsOptionGroup", {"-usage", "page.htm"}, 1, "g: unknown option\r\n"},
        CommandCase{"UsageIsCaseSensitive", {"-Usage"}, 1, "U: unknown option\r\n"},
        CommandCase{"OptionsWithoutFiles", {"-c"}, 0, ""},
        CommandCase{
            "OptionsAfterFileAreNames", {"page.htm", "-c"}, 2, "<b>x</b>\r\n-c: not found\r\n"},
        CommandCase{
            "UnknownLetterStopsBeforeFiles", {"-cx", "page.htm"}, 1, "x: unknown option\r\n"},
        CommandCase{"GroupsCombine", {"-c", "-i", "page.htm"}, 0, "<B>x</B>\r\n"},
        CommandCase{"MissingThenPresent",
                    {"missing.htm", "page.htm"},
                    2,
                    "missing.htm: not found\r\n<b>x</b>\r\n"},
        CommandCase{"FolderIsNotFound", {"dir"}, 2, "dir: not found\r\n"},
        CommandCase{"BracketErrorFails", {"bad.htm", "page.htm"}, 2, kBadFailed + "<b>x</b>\r\n"},
        CommandCase{"BracketErrorIgnored", {"-i", "bad.htm"}, 0, "<b"},
        // Standard input, read through a pipe.
        CommandCase{"DashAlone", {"-"}, 0, "<i>y</i>\r\n"},
        CommandCase{"DashAfterOptions", {"-c", "-"}, 0, "<I>y</I>\r\n"},
        CommandCase{"DashAmongFiles",
                    {"page.htm", "-", "page.htm"},
                    0,
                    "<b>x</b>\r\n<i>y</i>\r\n<b>x</b>\r\n"},
        CommandCase{"DashUnderOverwrite", {"-w", "-", "page.htm"}, 2, "-: not a regular file\r\n"},
        CommandCase{"DevStdinIsNoDisk", {"/dev/stdin"}, 0, "<i>y</i>\r\n"},
        CommandCase{"DoubleDashAlone", {"--"}, 0, ""},
        CommandCase{"DoubleDashEndsOptions",
                    {"-c", "--", "-i", "page.htm"},
                    2,
                    "-i: not found\r\n<B>x</B>\r\n"},
        CommandCase{"DoubleDashThenDash", {"--", "-"}, 0, "<i>y</i>\r\n"},
        CommandCase{"Version", {"--version"}, 0, "lowtags 1.92\r\n"},
        CommandCase{"VersionAfterLetters", {"-c", "--version", "page.htm"}, 0, "lowtags 1.92\r\n"},
        CommandCase{"LongOptionAfterFileIsName",
                    {"page.htm", "--version"},
                    2,
                    "<b>x</b>\r\n--version: not found\r\n"},
        CommandCase{
            "UnknownLongOption", {"--verbose", "page.htm"}, 1, "--verbose: unknown option\r\n"},
        CommandCase{"LongOptionTakesNoValue", {"--help=all"}, 1, "--help=all: unknown option\r\n"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// The help text in UTF-8 for a UTF-8 locale, else in code page 932; CR LF like every line.
struct HelpCase {
  const char* name;
  const char* lc_all;
  bool utf8;
};

class HelpTest : public ::testing::TestWithParam<HelpCase> {};

TEST_P(HelpTest, EncodingFollowsTheLocale) {
  const ProgramRun run = RunProgramOnPipe({"-c", "--help", "page.htm"}, ".", "", GetParam().lc_all);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const std::string utf8 = WithCrLf(kHelpText);
  EXPECT_EQ(run.out, GetParam().utf8 ? utf8 : Sjis(utf8));
  EXPECT_EQ(IsUtf8(run.out), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(Locales, HelpTest,
                         ::testing::Values(HelpCase{"CUtf8", "C.UTF-8", true},
                                           HelpCase{"C", "C", false},
                                           HelpCase{"Posix", "POSIX", false}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_P(FileTest, ConvertsToStandardOutput) {
  const FileCase& c = GetParam();
  TempDir dir;
  dir.Write("page.htm", c.content);
  std::vector<std::string> args = c.options;
  args.push_back("page.htm");
  const ProgramRun run = RunProgram(args, dir.path());
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(run.err, "");
}

const std::string kLong(9995, 'b');

INSTANTIATE_TEST_SUITE_P(
    TextMode, FileTest,
    ::testing::Values(
        FileCase{"CrLfIn", {}, "<B>a</B>\r\n<I>\r\n", "<b>a</b>\r\n<i>\r\n"},
        FileCase{"LoneCrEndsLine", {}, "a\rb<B\r>\r\n", "a\r\nb<b\r\n>\r\n"},
        FileCase{"CtrlZEndsText", {}, "<B>x\x1A<I>\n", "<b>x"},
        FileCase{"NoFinalNewline", {}, "<B>x", "<b>x"}, FileCase{"EmptyFile", {}, "", ""},
        FileCase{"BracketErrorThenFailure",
                 {},
                 "<B>\na > b\n",
                 "<b>\r\npage.htm:2: a > b\r\n'>' does not correspond with '<'.\r\npage.htm: "
                 "failed to convert\r\n",
                 2},
        FileCase{"JoinedWithCrLfInput", {"-j"}, "a\r\nb<BR>\r\nc\r\n", "ab<br>\r\nc"},
        // The 9999th byte starts a double-byte character: the piece takes its second byte, so
        // an 'a' that is a trail byte is never folded.
        FileCase{"PieceNeverSplitsCharacter",
                 {"-c"},
                 "<a " + kLong + "\x83\x61>\n"s,
                 "<A " + std::string(9995, 'B') + "\x83\x61>\r\n"s},
        FileCase{"PieceCountsAsLine",
                 {},
                 std::string(9999, 'x') + "a > b\n"s,
                 std::string(9999, 'x') + "page.htm:2: a > b\r\n'>' does not correspond with "
                                          "'<'.\r\npage.htm: failed to convert\r\n"s,
                 2},
        FileCase{"KanaPieceDoubles",
                 {"-k"},
                 std::string(9999, '\xB1') + "\n"s,
                 [] {
                   std::string s;
                   for (int i = 0; i < 9999; ++i) s += "\x83\x41";
                   return s + "\r\n";
                 }()}),
    FileCaseName);

TEST(ProgramTest, WriteErrorOnStandardOutputIsReported) {
  struct stat full {};
  if (::stat("/dev/full", &full) != 0) GTEST_SKIP() << "this system has no /dev/full";
  TempDir dir;
  dir.Write("page.htm", "<B>x</B>\n");
  dir.Write("bad.htm", "<B>\n");
  const ProgramRun run = RunProgram({"page.htm", "bad.htm"}, dir.path(), "/dev/full");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "lowtags: write error on standard output: No space left on device\n");
}

// A page on read-only media that shows no free space, as a CD-ROM image does, converts cleanly;
// on the same file system, full and writable, it fails. Mounting needs root.
TEST(ProgramTest, FullReadOnlyMountIsNotAskedForSpace) {
  TempDir dir;
  const std::string mount_point = dir.path() + "/mnt";
  ASSERT_EQ(::mkdir(mount_point.c_str(), 0755), 0);
  if (::mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{mount_point};
  std::ofstream(mount_point + "/page.htm") << "<B>x</B>\n";
  {
    std::ofstream fill(mount_point + "/fill", std::ios::binary);
    const std::string block(4096, 'f');
    while (fill.write(block.data(), static_cast<std::streamsize>(block.size())).flush()) {
    }
  }
  struct statvfs vfs {};
  ASSERT_EQ(::statvfs(mount_point.c_str(), &vfs), 0);
  ASSERT_EQ(vfs.f_bavail, 0u);
  ProgramRun run = RunProgram({"page.htm"}, mount_point);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "<b>x</b>\r\nno free disk space\r\npage.htm: failed to convert\r\n");
  ASSERT_EQ(::mount(nullptr, mount_point.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  run = RunProgram({"page.htm"}, mount_point);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "<b>x</b>\r\n");
}

}  // namespace
}  // namespace lowtags
