// The file loop against a fake disk: full drives, read errors, failed writes to standard output.
#include "driver/file_loop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "convert/options.h"
#include "support/fake_disk.h"
#include "test_support.h"

namespace lowtags {
namespace {

using testing::ProgramRun;
using testing::RunOnDisk;
using namespace std::string_literals;

TEST(FileLoopTest, FullDriveAfterConversion) {
  FakeDisk disk;
  disk.AddFile("c:page.htm", "<B>x</B>\n");
  disk.set_free_space(0.0);
  const ProgramRun run = RunOnDisk(disk, {"c:page.htm"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out,
            "<b>x</b>\r\nc drive: no free disk space\r\nc:page.htm: failed to convert\r\n");
}

TEST(FileLoopTest, ReadErrorFailsTheFile) {
  FakeDisk disk;
  disk.AddFile("page.htm", "<B>one</B>\n<B>two</B>\n");
  disk.set_free_space(1e9);
  disk.set_read_chunk(11);  // the first read returns the first line whole
  disk.FailCall(DiskOp::kRead, 2, EIO);
  disk.AddFile("next.htm", "<I>\n");
  const ProgramRun run = RunOnDisk(disk, {"page.htm", "next.htm"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "<b>one</b>\r\npage.htm: failed to convert\r\n<i>\r\n");
}

TEST(FileLoopTest, FailedStandardOutputEndsWithStatusOne) {
  FakeDisk disk;
  disk.AddFile("page.htm", "<B>x</B>\n");
  disk.set_free_space(1e9);
  disk.FailCall(DiskOp::kWrite, 1, EPIPE);
  const ProgramRun run = RunOnDisk(disk, {"page.htm"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "lowtags: write error on standard output: Broken pipe\n");
}

TEST(FileLoopTest, ReadErrorUnderOverwriteLeavesFileAlone) {
  FakeDisk disk;
  disk.AddFile("page.htm", "<B>one</B>\n<B>two</B>\n");
  disk.set_read_chunk(11);
  disk.FailCall(DiskOp::kRead, 2, EIO);
  const ProgramRun run = RunOnDisk(disk, {"-w", "page.htm"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "page.htm: failed to convert\r\n");
  EXPECT_EQ(*disk.Contents("page.htm"), "<B>one</B>\n<B>two</B>\n");
  EXPECT_EQ(disk.Count(DiskOp::kCreateTemp), 0);
}

// The exit status: 0 when every file converted, 1 on a usage error or a run that ended early,
// 2 when the loop ran to its end and some file got a message of its own. The disk holds
// page.htm, bad.htm (a tag left open at its end), a device and a piped standard input.
struct StatusCase {
  const char* name;
  std::vector<const char*> args;
  std::function<void(FakeDisk&)> setup;
  int status;
  std::string out;
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

class ExitStatusTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(ExitStatusTest, StatusAndOutput) {
  const StatusCase& c = GetParam();
  FakeDisk disk;
  disk.AddFile("page.htm", "<B>x</B>\n");
  disk.AddFile("bad.htm", "<B");
  disk.AddSpecial("/dev/cd", S_IFCHR);
  disk.SetStdin("<I>y</I>\n");
  if (c.setup) c.setup(disk);
  const ProgramRun run = RunOnDisk(disk, c.args);
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.out, c.out);
}

const std::string kBad = "<bbad.htm: '<' unmatch to '>'\r\nbad.htm: failed to convert\r\n";
const auto kNoSpace = [](FakeDisk& disk) { disk.set_free_space(0.0); };

INSTANTIATE_TEST_SUITE_P(
    Runs, ExitStatusTest,
    ::testing::Values(
        StatusCase{"Clean", {"page.htm", "page.htm"}, {}, 0, "<b>x</b>\r\n<b>x</b>\r\n"},
        StatusCase{"NoArgument", {}, {}, 1, "Usage: lowtags [-abcfijkmnorsuw] <htmlfiles>\r\n"},
        StatusCase{"UnknownLetter", {"-q", "page.htm"}, {}, 1, "q: unknown option\r\n"},
        StatusCase{"UnknownLongOption", {"--utf", "page.htm"}, {}, 1, "--utf: unknown option\r\n"},
        StatusCase{
            "Missing", {"none.htm", "page.htm"}, {}, 2, "none.htm: not found\r\n<b>x</b>\r\n"},
        StatusCase{"BracketError", {"bad.htm", "page.htm"}, {}, 2, kBad + "<b>x</b>\r\n"},
        StatusCase{"BracketErrorIgnored", {"-i", "bad.htm"}, {}, 0, "<b"},
        StatusCase{"OverwriteFailureGoesOn",
                   {"-w", "bad.htm", "page.htm"},
                   {},
                   2,
                   "bad.htm: '<' unmatch to '>'\r\nbad.htm: failed to convert\r\n"},
        StatusCase{"OverwriteStops",
                   {"-w", "page.htm", "bad.htm"},
                   [](FakeDisk& disk) { disk.FailCall(DiskOp::kRename, 1, EIO); },
                   1,
                   "page.htm: failed to rewrite\r\n"},
        StatusCase{"FullDisk",
                   {"page.htm"},
                   kNoSpace,
                   2,
                   "<b>x</b>\r\nno free disk space\r\npage.htm: failed to convert\r\n"},
        // Read-only media show no free space, and need none.
        StatusCase{"FullReadOnlyMedia",
                   {"page.htm"},
                   [](FakeDisk& disk) {
                     disk.set_free_space(0.0);
                     disk.set_read_only(true);
                   },
                   0,
                   "<b>x</b>\r\n"},
        StatusCase{"FullDiskDevice", {"/dev/cd"}, kNoSpace, 0, ""},
        StatusCase{"FullDiskPipedStdin", {"-"}, kNoSpace, 0, "<i>y</i>\r\n"},
        StatusCase{"FullDiskStdinFromFile",
                   {"-"},
                   [](FakeDisk& disk) {
                     disk.set_free_space(0.0);
                     disk.SetStdin("<I>y</I>\n", S_IFREG);
                   },
                   2,
                   "<i>y</i>\r\nno free disk space\r\n-: failed to convert\r\n"},
        StatusCase{"StdinReadError",
                   {"-", "page.htm"},
                   [](FakeDisk& disk) { disk.FailCall(DiskOp::kRead, 1, EIO); },
                   2,
                   "-: failed to convert\r\n<b>x</b>\r\n"},
        StatusCase{
            "StdinUnderOverwrite", {"-w", "-", "page.htm"}, {}, 2, "-: not a regular file\r\n"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// A message proper stops at 1024 bytes; a name that cannot fit whole is cut to 768 bytes so that
// the rest of the message still follows it.
TEST(FileLoopTest, LongNameInAMessageIsCutAtTheLimit) {
  const std::string tail = ": not found\r\n";
  const std::vector<std::pair<std::size_t, std::string>> cases = {
      {1011, tail}, {1012, tail}, {1013, ": not found"}, {1020, ": no"}, {1024, ""},
      {1025, std::string(768, 'n') + tail}, {3000, std::string(768, 'n') + tail}};
  for (const auto& [length, expected] : cases) {
    FakeDisk disk;
    const std::string name(length, 'n');
    const std::string want = length > 1024 ? expected : name + expected;
    EXPECT_EQ(RunOnDisk(disk, {name.c_str()}).out, want) << length;
  }
}

TEST(FileLoopTest, StandardInputIsNeitherOpenedNorClosed) {
  FakeDisk disk;
  disk.SetStdin("<I>y</I>\n");
  const ProgramRun run = RunOnDisk(disk, {"-", "-"});
  EXPECT_EQ(run.out, "<i>y</i>\r\n");  // the second read finds the end
  EXPECT_EQ(disk.Count(DiskOp::kOpenRead), 0);
  EXPECT_EQ(disk.Count(DiskOp::kClose), 2);  // the test's standard output and error alone
}

struct FormCase {
  const char* name;
  std::vector<const char*> args;  // the page is "page.htm"
  std::string page;
  std::string out;
  std::string after;  // the page afterwards
  int status = 2;     // most of these fail the page
};

void PrintTo(const FormCase& c, std::ostream* os) { *os << c.name; }

class OutputFormTest : public ::testing::TestWithParam<FormCase> {};

TEST_P(OutputFormTest, OutputAndPage) {
  const FormCase& c = GetParam();
  FakeDisk disk;
  disk.AddFile("page.htm", c.page);
  const ProgramRun run = RunOnDisk(disk, c.args);
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(*disk.Contents("page.htm"), c.after);
}

const std::string kUtf8Page = "<B>\xE6\x97\xA5\xE6\x9C\xAC</B>\n"s;         // 日本 in UTF-8
const std::string kEucPage = "<B>\xBA\xA3\xC6\xFC\xA4\xCF\xC0\xB2</B>\n"s;  // 今日は晴 in EUC-JP
const std::string kSjisPage = "<B>\x93\xFA\x96\x7B</B>\n"s;                 // 日本 in Shift_JIS
const std::string kUnmapped =
    "<B>a</B>\nb\n\x80"
    "c\n"s;

INSTANTIATE_TEST_SUITE_P(
    Forms, OutputFormTest,
    ::testing::Values(
        FormCase{"utf8_page_refused",
                 {"-w", "page.htm"},
                 kUtf8Page,
                 "page.htm: not Shift_JIS text (UTF-8)\r\n",
                 kUtf8Page},
        FormCase{"euc_page_refused",
                 {"--utf8", "-w", "page.htm"},
                 kEucPage,
                 "page.htm: not Shift_JIS text (EUC-JP)\r\n",
                 kEucPage},
        FormCase{
            "utf8_page_done_already", {"--utf8", "-w", "page.htm"}, kUtf8Page, "", kUtf8Page, 0},
        FormCase{"no_guard_on_standard_output",
                 {"page.htm"},
                 kUtf8Page,
                 "<b>\xE6\x97\xA5\xE6\x9C\xAC</b>\r\n",
                 kUtf8Page,
                 0},
        FormCase{"utf8_rewrite",
                 {"-w", "--utf8", "page.htm"},
                 kSjisPage,
                 "",
                 "<b>\xE6\x97\xA5\xE6\x9C\xAC</b>\r\n",
                 0},
        FormCase{"utf8_lf_rewrite",
                 {"--lf", "--utf8", "-w", "page.htm"},
                 kSjisPage,
                 "",
                 "<b>\xE6\x97\xA5\xE6\x9C\xAC</b>\n",
                 0},
        FormCase{"unmapped_byte",
                 {"--utf8", "page.htm"},
                 kUnmapped,
                 "<b>a</b>\r\nb\r\npage.htm:3: not convertible to UTF-8\r\n"
                 "page.htm: failed to convert\r\n",
                 kUnmapped},
        FormCase{"unmapped_byte_rewrite",
                 {"--utf8", "-w", "page.htm"},
                 kUnmapped,
                 "page.htm:3: not convertible to UTF-8\r\npage.htm: failed to convert\r\n",
                 kUnmapped},
        FormCase{"lf_text_and_messages",
                 {"--lf", "page.htm"},
                 "<A>\n<B\n",
                 "<a>\n<b\npage.htm: '<' unmatch to '>'\npage.htm: failed to convert\n",
                 "<A>\n<B\n"},
        FormCase{"bracket_error_line_in_utf8",
                 {"--utf8", "page.htm"},
                 "<B>\x93\xFA<I <A>\n",
                 "page.htm:1: <b>\xE6\x97\xA5<i <A>\r\n'<' does not close.\r\n"
                 "page.htm: failed to convert\r\n",
                 "<B>\x93\xFA<I <A>\n"},
        FormCase{"long_option_after_a_name",
                 {"page.htm", "--lf"},
                 "<B>\n",
                 "<b>\r\n--lf: not found\r\n",
                 "<B>\n"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace lowtags
